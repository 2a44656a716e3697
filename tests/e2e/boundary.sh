#!/usr/bin/env bash
# The line between the two sequences, as Windows draws it. Windows runs the
# user-interface sequence in the user's process and the execute sequence in
# the installer service, which gets only the public properties that may
# cross; Wine runs both in one process with one property table. Each
# scenario therefore runs twice: a run with a user interface in which a
# stand-in plays the person's dialog choices and which ends just before the
# execute sequence, capturing what would cross; then a run that plays the
# execute side with only those properties on its command line. That run has
# the user interface level of the first (reduced, UILevel 4) but a copy of
# the package without user-interface sequence, so that the engine goes
# straight to the execute sequence, as the installer service does.
source "$(dirname "$0")/lib.sh"

tmp=$(temp_dir) || exit 1
crossing="$tmp/caprobe/crossing.txt"
# ui_side PACKAGE CHOICES: the user-interface run (msiexec's rc in $rc).
ui_side() {
  rm -f "$crossing"
  wine msiexec /qr /i "$(winepath -w "$1")" "CAPROBE_CHOICES=$2" >/dev/null 2>&1
  rc=$?
}
# execute_side PACKAGE: the execute side with only what crossed (full rc).
execute_side() {
  local pkg=${1%.msi}-execute.msi idt="$WORK/no-ui"
  cp "$1" "$pkg" && mkdir -p "$idt" &&
    msiinfo export "$pkg" InstallUISequence | sed -n 1,3p >"$idt/InstallUISequence.idt" &&
    (cd "$idt" && msibuild "$pkg" -i InstallUISequence.idt) || { echo "FAIL: no execute-side package"; exit 1; }
  install /props "$crossing" /ui reduced "$pkg"
}
crossed() { grep -qF -- "$1" "$crossing"; }
banners_since() { banners_in "$(log_from "$1")" | tr '\n' ' '; }

sample_package "$WORK/v52.msi" Probe=yes RestartAfterInstall=0 || { echo "FAIL: package build"; exit 1; }
sample_package "$WORK/v53.msi" Probe=yes Version=5.3.1800 MinorVersion=3 ShowRestart=0 ||
  { echo "FAIL: package build"; exit 1; }

# --- The package: what the execute sequence tests must be able to cross ---
# A public name in a condition must be secure or restricted; a private one
# may only be read where OnBegin ran in the execute sequence itself. UILevel
# the engine sets on each side.
table() { msi_table "$WORK/v52.msi" "$1"; }
secure=";$(table Property | awk -F'\t' '$1=="SecureCustomProperties"{print $2}');REMOVE;"
ours=$(table CustomAction | cut -f1)
unsafe=$(table InstallExecuteSequence | while IFS=$'\t' read -r action cond _; do
  grep -qxF "$action" <<<"$ours" || continue
  for name in $(sed 's/"[^"]*"//g' <<<"$cond" | grep -o '[A-Za-z_][A-Za-z0-9_.]*' | grep -vx 'NOT\|AND\|OR\|UILevel'); do
    if [[ $name =~ [a-z] ]]; then [[ $cond == *"NOT DCAFNNUM"* ]] || echo "$action:$name"
    else [[ $secure == *";$name;"* ]] || echo "$action:$name"; fi
  done
done | tr '\n' ' ')
check "every property the execute sequence tests crosses (unsafe: ${unsafe:-none})" [ -z "$unsafe" ]

keep_server
# --- A first installation: another directory, the basic edition, no restart ---
ui_side "$WORK/v52.msi" 'INSTALLDIR=C:\Apps\VPN\;tamber_VG_type=Varnet'
check "the UI run stops before the execute sequence, installing nothing" \
  all expect_rc 1602 -- [ ! -e "$WINEPREFIX/drive_c/Apps/VPN" ]
check "the container, the schedule and the chosen directory cross" \
  all crossed 'ALLCADPROPS="' -- crossed 'DCAFNNUM="1"' -- crossed 'DCAFN1="OnFirstAfter"' -- \
      crossed 'INSTALLDIR="C:\Apps\VPN\Varnet\"'

start=$(log_size)
execute_side "$WORK/v52.msi"
check "the restart setting is honoured: no restart (got $rc)" [ "$rc" = 0 ]
check "the execute side takes the setting from the container" \
  logged_after "$start" "<OnInstallFinish> ShowRestart=1, RestartAfterInstall=0 taken from the deferred data"
check "the execute side begins and chooses nothing again" \
  [ "$(banners_since "$start")" = "OnExecuteStub started OnExecuteStub ended OnFirstAfter started OnFirstAfter ended OnInstallFinish started OnInstallFinish ended " ]
check "the install mode crosses in the container" \
  logged_after "$start" $'<SetProperty> SetProperty >> key=tamber_install_mode \t value=new'
apps="$WINEPREFIX/drive_c/Apps/VPN/Varnet"
check "the chosen directory holds the client" \
  all logged_after "$start" '<OnFirstAfter> Target dir is: C:\Apps\VPN\Varnet\' -- test -f "$apps/bin/tamber.dll"
check "the chosen edition is installed" [ "$(edition_section)" = VN_Configuration ]

# --- Maintenance: overwrite chosen on the dialog, restart without asking ---
mkdir -p "$apps/policy" && echo rules >"$apps/policy/local.pol"
ui_side "$WORK/v53.msi" 'tamber_upgrade_mode=overwrite'
check "the maintenance UI run stops before the execute sequence" \
  all expect_rc 1602 -- crossed 'DCAFN1="OnMaintBefore"' -- crossed 'DCAFN2="OnMaintAfter"'
start=$(log_size)
execute_side "$WORK/v53.msi"
check "the maintenance handlers run on the execute side" \
  [ "$(banners_since "$start")" = "OnExecuteStub started OnExecuteStub ended OnMaintBefore started OnMaintBefore ended OnMaintAfter started OnMaintAfter ended OnInstallFinish started OnInstallFinish ended " ]
check "the overwrite chosen on the dialog is done: the old policy is gone" [ ! -e "$apps/policy/local.pol" ]
check "the show setting is honoured: a restart without asking (got $rc)" \
  all [ "$rc" = 3010 ] -- logged_after "$start" "<OnInstallFinish> ShowRestart=0, RestartAfterInstall=1 taken from the deferred data" -- \
      logged_after "$start" $'<SetProperty> SetProperty >> key=REBOOTPROMPT \t value=Suppress'
wineserver -k
finish
