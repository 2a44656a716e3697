#!/usr/bin/env bash
# What the client's whole life leaves on a machine (winxp or vista): the
# registry and drive_c are taken before a first installation and after an
# upgrade, an overwrite and the removal, and every difference must be one
# that residue_survivors.txt names, with the reason it stays.
#
# Every run is silent, as deployment tools start it, with no one to answer a
# box: each must end within a bound, show no box and leave no program
# running.
#
# Under Wine a new wineserver is a restart that runs RunOnce: one server is
# kept from the first snapshot to the last.
source "$(dirname "$0")/lib.sh"
version=${2:?usage: $0 BUILD_DIR winxp|vista}
survivors=$SRC/tests/e2e/residue_survivors.txt
snap=$WORK/residue
# A silent run takes some ten seconds here; one that waits for a user never
# ends.
run_bound=180

set_winver "$version"
# The machine as the client finds it: a GINA of its own, an entrust.ini.
wine reg add 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon' /v GinaDLL /d msgina.dll /f >/dev/null 2>&1
echo "[entrust]" >"$WINEPREFIX/drive_c/windows/entrust.ini"
wineserver -w

sample_package "$WORK/v52.msi" || { echo "FAIL: package build"; exit 1; }
sample_package "$WORK/v53.msi" Version=5.3.1800 MinorVersion=3 || { echo "FAIL: package build"; exit 1; }
sample_package "$WORK/v54.msi" Version=5.4.1900 MinorVersion=4 OverwriteConfiguration=1 || { echo "FAIL: package build"; exit 1; }

# --- Processes ---
# The Windows processes of this prefix (other tests run in other prefixes),
# one "PID COMMAND LINE" a line.
prefix_processes() {
  local environ pid
  for environ in $(grep -lsxzF "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ); do
    pid=${environ#/proc/}; pid=${pid%/environ}
    echo "$pid $({ tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null)"
  done
}
# Windows programs of this prefix that no run may leave behind: all but
# Wine's own system programs. VN_Service and VN_WatchDog are services of the
# client that start automatically: while it is installed Wine's service
# manager may run them, as Windows would after a restart, and that is no run
# left behind; after the removal they must be gone too.
wine_own='wineserver|services|winedevice|plugplay|svchost|rpcss|explorer|conhost|wineboot|winemenubuilder'
services='VN_Service|VN_WatchDog'
left_behind() {  # left_behind SERVICES_MAY_RUN(0|1)
  local allowed=$wine_own
  [ "$1" = 1 ] && allowed="$allowed|$services"
  prefix_processes | grep -E '^[0-9]+ [A-Za-z]:\\' | grep -viE "\\\\($allowed)\\.exe( |$)"
}

declare -A took
# run NAME EXPECTED_RC SERVICES_MAY_RUN(0|1) msiexec-arguments...: one silent
# run through msiexec, bounded; the wineserver (and so the "boot") is left
# alone. The engine's helpers may take a moment to end after msiexec.
run() {
  local name=$1 expected=$2 services_may_run=$3; shift 3
  local start=$SECONDS left tries=0 mark
  mark=$(log_size)
  timeout "$run_bound" wine msiexec /qn "$@" >/dev/null 2>&1
  rc=$?
  took[$name]=$((SECONDS - start))
  check "$name ends within ${run_bound}s" [ "$rc" -ne 124 ]
  if [ "$rc" -eq 124 ]; then
    echo "still running after $name:"; prefix_processes
    finish
  fi
  check "$name ends with $expected (got $rc)" expect_rc "$expected"
  check_no_box "$name" "$mark"
  while left=$(left_behind "$services_may_run") && [ $((tries++)) -lt 10 ]; do sleep 1; done
  [ -z "$left" ] || echo "left running after $name:"$'\n'"$left"
  check "$name leaves no program running" [ -z "$left" ]
  left=$(prefix_processes | grep -iE "\\\\($services)\\.exe")
  [ -z "$left" ] || echo "running services of the client after $name (allowed):"$'\n'"$left"
}
# check_no_box NAME LOG_MARK: no message box of the run waited for a user.
check_no_box() {
  local boxes
  boxes=$(log_from "$2" | grep -aE '^<(ShowMsgBox> User selected|SendMSIWarningMessageBox> )')
  [ -z "$boxes" ] || echo "boxes shown in $1:"$'\n'"$boxes"
  check "$1 shows no message box" [ -z "$boxes" ]
}

wineserver -p  # until the end: a new server would run RunOnce
"$SRC/scripts/residue" BEFORE "$snap" || { echo "FAIL: the first snapshot"; exit 1; }

run "the first installation" 3010 1 /i "$(winepath -w "$WORK/v52.msi")"
shortcuts_to_common_programs
# What the client and its user add: settings kept through an overwrite, an
# edited configuration, a certificate beside the programs.
dir=$(client_dir)
wine reg add 'HKLM\SOFTWARE\Halvora\Varnet\SCV' /v Check /d on /f >/dev/null 2>&1
echo 'user sites' >"$dir/database/userc.c"
mkdir -p "$dir/certs" && echo cert >"$dir/certs/site.p12"

run "the upgrade to 5.3" 3010 1 /i "$(winepath -w "$WORK/v53.msi")"
shortcuts_to_common_programs
check "the upgrade kept the settings" grep -qF $'key=tamber_upgrade_mode \t value=upgrade' <<<"$(log_messages)"
run "an older package, refused" 1603 1 /i "$(winepath -w "$WORK/v52.msi")"
run "the overwrite with 5.4" 3010 1 /i "$(winepath -w "$WORK/v54.msi")"
shortcuts_to_common_programs
check "the overwrite ran as one" grep -qF $'key=tamber_upgrade_mode \t value=overwrite' <<<"$(log_messages)"
check "5.4 is installed" [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet' MinorVersion)" = 0x4 ]
run "the removal" 3010 0 /x "$(winepath -w "$WORK/v54.msi")"
run "a reinstallation before the restart, refused" 1603 0 /i "$(winepath -w "$WORK/v54.msi")"
# The two refusals reached a box, which the silent runs skipped.
check "the refusals' boxes were skipped as the runs were silent" \
  [ "$(log_messages | grep -c '^<ShowMsgBox> method is disabled because we are in silent mode')" -ge 2 ]

"$SRC/scripts/residue" AFTER "$snap" || { echo "FAIL: the last snapshot"; exit 1; }
"$SRC/scripts/residue" DIFF "$snap" >"$snap/residue.txt"
wineserver -k

# --- The residue against the survivors ---
# Each line takes the kind of the first survivor whose pattern matches it.
classified=$(awk -F'\t' -v list="$survivors" '
  FILENAME == list { if (!/^#/ && NF >= 3 && $2 != "") { kind[++n] = $1; pat[n] = $2 }; next }
  { k = "?"; for (i = 1; i <= n; i++) if ($0 ~ pat[i]) { k = kind[i]; break }; print k "\t" $0 }' \
  "$survivors" "$snap/residue.txt")
unexplained=$(grep -a $'^?\t' <<<"$classified" | cut -f2-)
[ -z "$unexplained" ] || echo "residue that no survivor explains:"$'\n'"$unexplained"
check "nothing remains but the listed survivors" [ -z "$unexplained" ]

# The snapshots saw the life: what the removal must leave is there, what it
# must take is not.
check "the residue holds the removal marker" grep -qF 'Varnet_UnInstall\"IsUnInstall" = "1"' "$snap/residue.txt"
check "and erase_VN.exe" grep -qF '+ file drive_c/windows/erase_VN.exe' "$snap/residue.txt"
check "and the certificate" grep -qF '+ file drive_c/Program Files/Halvora/Varnet/certs/site.p12' "$snap/residue.txt"
check "but no key of the client" bash -c '! grep -qF "key HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvora" "$1"' _ "$snap/residue.txt"
# What passes as an extracted settings file must be one.
not_settings=$(sed -n 's/^settings-extract\t+ file \(.*\) ([0-9]* bytes)$/\1/p' <<<"$classified" |
  while read -r f; do grep -q '^\[version\]' "$WINEPREFIX/$f" || echo "$f"; done)
check "every temporary file left is an extracted settings file" [ -z "$not_settings" ]

echo "surviving items by kind:"
grep -av $'^?\t' <<<"$classified" | grep . | cut -f1 | sort | uniq -c | sed 's/^/  /'
echo "run times:"; for name in "${!took[@]}"; do echo "  ${took[$name]}s $name"; done | sort -n
finish
