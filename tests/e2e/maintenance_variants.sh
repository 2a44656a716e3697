#!/usr/bin/env bash
# Two maintenance variants on Windows XP: the newer package installed over
# the client as an overwrite, which throws the old settings away, and a
# removal refused because another product depends on the client. Along the
# way, an installation directory that others could change: Wine shows a
# directory's Unix owner and mode bits as its owner and access list, so
# "o+w" is Everyone (S-1-1-0) may write, and a file of another Unix user is
# owned by ANONYMOUS LOGON (S-1-5-7); it never changes an owner.
#
# Under Wine a new wineserver is a restart: the server is kept alive
# throughout, so that no RunOnce entry runs between the steps.
source "$(dirname "$0")/lib.sh"

set_winver winxp
winlogon='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon'
wine reg add "$winlogon" /v GinaDLL /d msgina.dll /f >/dev/null 2>&1
wineserver -w

sample_package "$WORK/v52.msi" || { echo "FAIL: package build"; exit 1; }
sample_package "$WORK/v53.msi" Version=5.3.1800 MinorVersion=3 OverwriteConfiguration=1 SplitKernelInstall=1 ||
  { echo "FAIL: package build"; exit 1; }
code53=$(product_code "$WORK/v53.msi")

dir=$(client_dir)
key='HKLM\SOFTWARE\Halvora\Varnet'
sys32="$WINEPREFIX/drive_c/windows/system32"
radd() { wine reg add "$@" /f >/dev/null 2>&1; }
contains() { [[ "$1" == *"$2"* ]]; }
line_no() { grep -nxF -- "$1" <<<"$2" | cut -d: -f1; }
others_write() { echo $(( 0$(stat -c %a "$1") & 2 )); }  # 2: Everyone may write
# locked DIRECTORY FINDING: the line that resetting a directory's access leaves.
locked() { echo "Installation directory $1 was $2: its owner is now Administrators and its access list SYSTEM and Administrators full control, Users read and execute"; }
# The current user's hive under HKEY_USERS, as Wine names it.
user_sid=$(wine reg query HKU 2>/dev/null | tr -d '\r' | sed -n 's/^HKEY_USERS\\\(S-1-5-21-[0-9-]*\)$/\1/p' | head -1)

wineserver -p
kept_run "$WORK/v52.msi" /i
check "5.2 installed" expect_rc 3010
check "a directory only the installation can write is used without a word" lacks 'Installation directory' "$(log_messages)"

# --- What the old installation and its users left behind ---
mkdir -p "$dir/policy/site"
echo rules >"$dir/policy/local.pol"; echo more >"$dir/policy/site/office.pol"; echo cert >"$dir/policy/user.p12"
cp "$dir/database/userc.c" "$WORK/userc-installed.c"
echo 'user sites' >"$dir/database/userc.c"
for hive in .DEFAULT ${user_sid:+"$user_sid"}; do
  radd "HKU\\$hive\\Software\\Halvora\\Varnet\\Profiles" /v Last /d office
  radd "HKU\\$hive\\Software\\Halvora\\Other" /v Keep /d yes
done
radd "$key" /v OldSetting /d stale
radd "$key\\Legacy\\Deep" /v Old /d 1
radd "$key\\GUI" /v OldTheme /d blue
radd "$key\\5.0\\policy" /v Rule1 /d allow-dns
radd "$key\\SCV" /v Check /d on
radd 'HKLM\SOFTWARE\Halvora\SDS' /v Marker /d sds
radd 'HKLM\SOFTWARE\Halvora\BD1' /v Marker /d bd1
# As an SDL installation leaves XP: the shim in front of the old GINA.
radd "$winlogon" /v GinaDLL /d hvrginashim.dll
radd "$winlogon" /v HvrOldGina /d msgina.dll
[ -e "$sys32/msgina.dll" ] || echo gina >"$sys32/msgina.dll"

# --- The newer package, set to overwrite ---
chmod o+w "$dir"
mark=$(log_size)
kept_run "$WORK/v53.msi" /i
check "5.3 installed over 5.2" expect_rc 3010
overwrite_log=$(log_from "$mark")
check "the run chose the overwrite" grep -qF $'key=tamber_upgrade_mode \t value=overwrite' <<<"$overwrite_log"
check "and marked it a reinstallation" grep -qF $'key=_IsMaintenance \t value=Reinstall' <<<"$overwrite_log"
check "OnMaintBefore locked the directory Everyone could write before stopping the client" \
  [ "$(line_no "<OnMaintBefore> $(locked 'C:\Program Files\Halvora\Varnet' 'writable by S-1-1-0')" "$overwrite_log")" \
    -lt "$(line_no '<OnMaintBefore> Stop Desktop Product' "$overwrite_log")" ]
check "so Everyone may no longer write it, and OnMaintAfter found it locked" \
  all [ "$(others_write "$dir")" = 0 ] -- lacks '<OnMaintAfter> Installation directory' "$overwrite_log"
check "the maintenance handlers ran to their end" \
  bash -c 'grep -qxF "<OnMaintBefore> Function ended" <<<"$1" && grep -qxF "<OnMaintAfter> Function ended" <<<"$1"' _ "$overwrite_log"
check "the policy files are deleted" all [ ! -e "$dir/policy/local.pol" ] -- [ ! -e "$dir/policy/site" ]
check "a certificate among them is kept" [ -f "$dir/policy/user.p12" ]
check "the per-user client keys are deleted" reg_key_gone 'HKU\.DEFAULT\Software\Halvora\Varnet'
check "also in the user's own hive" all [ -n "$user_sid" ] -- reg_key_gone "HKU\\$user_sid\\Software\\Halvora\\Varnet"
check "other keys of the users stay" [ "$(reg_value 'HKU\.DEFAULT\Software\Halvora\Other' Keep)" = yes ]
check "the client key's old values are deleted" [ -z "$(reg_value "$key" OldSetting)" ]
check "its old subkeys are deleted" reg_key_gone "$key\\Legacy"
check "also where the installation writes again" [ -z "$(reg_value "$key\\GUI" OldTheme)" ]
check "the policy key is not kept as in an upgrade" reg_key_gone "$key\\5.0\\policy"
check "SCV keeps its value" [ "$(reg_value "$key\\SCV" Check)" = on ]
check "the SDS and BD1 keys are deleted" \
  [ -z "$(reg_value 'HKLM\SOFTWARE\Halvora\SDS' Marker)$(reg_value 'HKLM\SOFTWARE\Halvora\BD1' Marker)" ]
check "the installation then wrote its values afresh" \
  [ "$(reg_value "$key" MinorVersion)/$(reg_value "$key" InstallPath)" = '0x3/C:\Program Files\Halvora\Varnet' ]
check "the previous GINA is back" [ "$(reg_value "$winlogon" GinaDLL)" = msgina.dll ]
check "and HvrOldGina is gone" [ -z "$(reg_value "$winlogon" HvrOldGina)" ]
check "the user's userc.c gives way to the one a new installation has" cmp -s "$dir/database/userc.c" "$WORK/userc-installed.c"
check "userc.c was neither saved nor restored" lacks BackupOfAnOldFile_userc.c "$overwrite_log"
# The split kernel installation re-signs the filter driver through VN_SMS.exe.
windir='C:\Program Files\Halvora\Varnet\'
sign_inf=$(tr -d '\r' <"$dir/bin/bdinst.bat" 2>/dev/null | sed -n 's/.*  -v -p \([^ ]*\) -c s -i HV_BD1MP$/\1/p')
check "the batch's setup file is the installed netbdvnm.inf" \
  [ -n "$sign_inf" -a "$(unix_path "$sign_inf")" -ef "$dir/boot/modules/netbdvnm.inf" ]
check "bin\\bdinst.bat re-signs the filter driver, each line ending in CR LF" cmp -s "$dir/bin/bdinst.bat" <(sed 's/$/\r/' <<EOF
start "xpdrv" "${windir}bin\\xpdrv.exe"
chdir "${windir}boot\\modules\\"
"${windir}boot\\modules\\bdkern.exe"  -v -p ${sign_inf} -c s -i HV_BD1MP
"C:\\windows\\system32\\rundll32.exe" "${windir}bin\\tamber.dll" SetServicesStartTypeAuto2
EOF
)
check "its result is logged" grep -qxF "<OnMaintAfter> Return code from updateSignBD_with_VN_SMS_service: 0" <<<"$overwrite_log"

# --- A removal while another product depends on the client ---
dependent='Halvora Gateway Agent'
radd "$key\\5.0\\SP9\\MSP0\\DependentPkgs" /v "$dependent" /d 1
mark=$(log_size)
calls_before=$(calls | wc -l)
kept_run "$WORK/v53.msi" /x
check "the removal stops with 1603" expect_rc 1603
# (The marker keeps the log's trailing line breaks.)
removal_log=$(log_from "$mark"; echo "<end>")
check "OnRemovePrologue names the check" grep -qxF "<OnRemoveBefore> CheckDependentPkgs returned FALSE" <<<"$removal_log"
removal_banners=$(banners_in "$removal_log")
check "OnRemovePrologue wrote no end banner, and no deferred handler ran" \
  [ "$(grep -E '^OnRemove' <<<"$removal_banners" | tr '\n' ';')" = 'OnRemovePrologue started;' ]
msg1114=$'This product can not be uninstalled.\nThe following products are dependent on the current product: \n'
check "the finish dialog's error text is message 1114" contains "$removal_log" $'key=ID_FINISH_ERROR_STRING \t value='"$msg1114"$'\n\n<'
check "the message box names the dependent product" \
  contains "$removal_log" "<ShowMsgBox> $msg1114"$'\n'"$dependent"$'\n\nPlease uninstall these products first.'
check "the client is still installed" all [ -f "$dir/product.ini" ] -- [ "$(reg_value "$key" MinorVersion)" = 0x3 ] -- \
  reg_key_exists "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$code53"
check "no uninstall script ran and no erase program waits" all [ "$(calls | wc -l)" -eq "$calls_before" ] -- \
  [ -z "$(reg_value 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce' InstallShieldSetupForVN)" ]

# --- A removal of a directory another account owns, under a parent Everyone may change ---
wine reg delete "$key\\5.0\\SP9\\MSP0\\DependentPkgs" /v "$dependent" /f >/dev/null 2>&1
chmod o+w "$(dirname "$dir")"; chown nobody "$dir"
mark=$(log_size)
kept_run "$WORK/v53.msi" /x
check "the removal goes on" expect_rc 3010
check "OnRemoveBefore reports the parent and leaves it as it was" \
  all logged_after "$mark" '<OnRemoveBefore> Installation directory C:\Program Files\Halvora\Varnet\: its parent C:\Program Files\Halvora\ is writable by S-1-1-0, so the directory could be replaced; the parent is left as it is and the directory is used all the same' -- \
      [ "$(others_write "$(dirname "$dir")")" = 2 ]
check "OnRemoveBefore locked the directory ANONYMOUS LOGON owned and could write" \
  logged_after "$mark" "<OnRemoveBefore> $(locked 'C:\Program Files\Halvora\Varnet\' 'owned by S-1-5-7 and writable by S-1-5-7')"
check "and OnRemoveAfter removed what the installation left in it" [ ! -e "$dir/reg_ini_DB" ]
wineserver -k
finish
