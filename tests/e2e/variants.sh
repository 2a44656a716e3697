# Silent first installations with the package settings that change what is
# installed: the basic edition, a simplified package, the restart settings,
# the split kernel installation, the installation folder taken from the
# settings, no Entrust support, and a run started by the suite launcher.
# Settings that would clash get a run in a fresh prefix of their own; the
# two runs serve as each other's control.
source "$TAMBER_SRC/tests/e2e/lib.sh"

# Wine's installer puts ProgramMenuFolder in the user's Start menu even for a
# per-machine package; Windows uses the common one, where the library looks.
# Point the user's folder there, so the shortcuts land where Windows puts them.
shell_folders='Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
common_programs_raw() {
  wine reg query "HKLM\\$shell_folders" /v 'Common Programs' 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *Common Programs *REG_EXPAND_SZ *//p'
}
common_programs() {  # the common Programs folder, as a Unix path
  local raw; raw=$(common_programs_raw)
  # cmd expands the variables; wine quotes the argument for it.
  unix_path "$(wine cmd /c echo "$raw" 2>/dev/null | tr -d '\r' | sed 's/^"\(.*\)"$/\1/')"
}
shortcuts_to_common() {
  local raw; raw=$(common_programs_raw)
  [ -n "$raw" ] && wine reg add "HKCU\\$shell_folders" /v Programs /t REG_EXPAND_SZ /d "$raw" /f >/dev/null 2>&1
}

tab=$'\t'
client_key='HKLM\SOFTWARE\Halvora\Varnet'
services='HKLM\SYSTEM\CurrentControlSet\Services'
suite_setup='HKLM\SOFTWARE\Halvora\Halvora Product Suite\setup'
# grep -q stops reading early; in a pipeline under pipefail the writer's
# SIGPIPE would decide the result, so these search captured text.
not_logged() { lacks "$1" "$(log_messages)"; }
installer_property() { grep -qxF "Property(S): $1 = $2" <<<"$(tr -d '\r' < "$WORK/msi.log")"; }
journaled_edition() { grep -qxF "    value = $1" <<<"$(journal_dump | grep -A3 -xF '    name  = Edition')"; }

# --- Run 1, this prefix: basic edition, simplified, no restart prompt, split
# kernel, no Entrust support (its library is absent), the folder preset ---
# The stand-in VN_SMS.exe runs the batch at once, where the real one leaves it
# for the restart; with rundll32 switched off its last line cannot yet put the
# services back to automatic start, as at the end of a real installation.
sample_package "$WORK/basic.msi" DesktopSecurityAskUser=0 DesktopSecurityDefault=0 \
  IsSimplified=1 ShowRestrat=0 SplitKernelInstall=1 EntrustSupport=0 PathAskUser=0 'DefaultPath=%SystemDrive%\Tools'
check "the basic-edition package was built" test -s "$WORK/basic.msi"
check "the Start-menu shortcuts go to the common folder" shortcuts_to_common
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;rundll32.exe=d" msiexec_install "$WORK/basic.msi"
client_folder=Tools/Varnet
dir=$(client_dir)
programs=$(common_programs)
check "the common Programs folder exists" test -n "$programs" -a -d "$programs"
win_dir='C:\Tools\Varnet\'

check "the installation asks for a restart (3010, got $rc)" expect_rc 3010
check "OnFirstAfter ran to its end" has_line '<OnFirstAfter> Function ended'

# No path dialog: the expanded DefaultPath and the product folder.
check "the client went to the DefaultPath's folder" \
  test -f "$dir/bin/VN_GUI.exe" -a ! -e "$WINEPREFIX/drive_c/Program Files/Halvora/Varnet"
check "OnFirstAfter worked in that folder" has_line "<OnFirstAfter> Target dir is: $win_dir"

# Without Entrust support its library is deleted; here there is none.
check "the missing Entrust library is logged as is" \
  has_line '<OnFirstAfter> Failed to DeleteFile (C:\windows\system32\kmpapi32.dll)'

# Basic edition.
check "the edition setting chose Varnet" has_line "<SetProperty> SetProperty >> key=tamber_VG_type ${tab} value=Varnet"
check "the deferred phase saw Varnet" has_line '<IsVarguardChosen> ClientType=Varnet'
check "the Start-menu folder is renamed to Varnet with its Varnet.lnk only" \
  test "$(ls "$programs/Halvora Tessel-1 Varnet" 2>&1)" = Varnet.lnk
check "no Varguard Start-menu folder is left" test ! -e "$programs/Halvora Tessel-1 Varguard"
check "bin\\VN_Diagnostics.exe is deleted, VN_GUI.exe is not" \
  test ! -e "$dir/bin/VN_Diagnostics.exe" -a -f "$dir/bin/VN_GUI.exe"
check "VN_Configuration is applied, VG_Configuration is not" \
  test "$(edition_section)" = VN_Configuration
check "the registry says Edition = Varnet" test "$(reg_value "$client_key\\Configuration" Edition)" = Varnet
check "the journal holds the Varnet edition value" journaled_edition Varnet

# Simplified package.
check "installationType = Simplified" test "$(reg_value "$client_key" installationType)" = Simplified
check "IsSimplified = 1" test "$(reg_value "$client_key" IsSimplified)" = 0x1

# ShowRestrat=0: restart without asking.
check "REBOOTPROMPT = Suppress is set" has_line "<SetProperty> SetProperty >> key=REBOOTPROMPT ${tab} value=Suppress"
check "the installer ends with REBOOTPROMPT = Suppress" installer_property REBOOTPROMPT Suppress

# Split kernel installation.
check "the split installation ran" has_line '<OnFirstAfter> Return code from InstallBD_with_VN_SMS_service: 0'
check "the legacy kernel steps did not run" not_logged '<OnFirstAfter> addreg_CleanKernelINF()'
check "InstallBD did not run on its own" not_logged 'Return code from InstallBD:'
batch="$dir/bin/bdinst.bat"
check "bin\\bdinst.bat exists" test -s "$batch"
# The filter's setup file goes in its short form; it must name the installed file.
inf_short=$(tr -d '\r' 2>/dev/null < "$batch" | sed -n 's/.* -l \([^ ]*\) -c s -i hv_bd1$/\1/p')
check "the batch's setup file is the installed netbdvn.inf" \
  test -n "$inf_short" -a "$(unix_path "$inf_short")" -ef "$dir/boot/modules/netbdvn.inf"
expected_batch() {
  cat <<EOF
set "TMP=%~dps0bdtemp"
start "xpdrv" "${win_dir}bin\\xpdrv.exe"
del /q /f "%TMP%\\bdkern.tmp"
"C:\\windows\\system32\\findstr.exe" /m /i "hv_bd1" "%WINDIR%\\INF\\oem*.inf" > "%TMP%\\bdkern.tmp"
for /f "tokens=1 delims=. " %%i in (%TMP%\\bdkern.tmp) do del /q /f %%i.inf
for /f "tokens=1 delims=. " %%i in (%TMP%\\bdkern.tmp) do del /q /f %%i.pnf
del /q /f "%TMP%\\bdkern.tmp"
"C:\\windows\\system32\\findstr.exe" /m /i "hv_bd1" "%WINDIR%\\INF\\netbd*.inf" > "%TMP%\\bdkern.tmp"
for /f "tokens=1 delims=. " %%i in (%TMP%\\bdkern.tmp) do del /q /f %%i.inf
for /f "tokens=1 delims=. " %%i in (%TMP%\\bdkern.tmp) do del /q /f %%i.pnf
"${win_dir}boot\\modules\\bdkern.exe"  -v -u HV_BD1
"${win_dir}boot\\modules\\bdkern.exe"  -v -u HV_BD1MP
"${win_dir}boot\\modules\\bdkern.exe"  -v  -l ${inf_short} -c s -i hv_bd1
set "TMP=%TEMP%"
"C:\\windows\\system32\\rundll32.exe" "${win_dir}bin\\tamber.dll",SetServicesStartTypeAuto2
EOF
}
check "bin\\bdinst.bat holds the expected lines, each ending in CR LF" \
  cmp -s "$batch" <(expected_batch | sed 's/$/\r/')
# The list stays where the batch names it, for a run after the restart.
check "the batch's list is in bin\\bdtemp, not in the Windows temporary directory" \
  test -f "$dir/bin/bdtemp/bdkern.tmp" -a ! -e "$WINEPREFIX/drive_c/windows/temp/bdkern.tmp"

# VN_SMS.exe gets the log and the batch; the stand-in then runs the batch.
sms=$(calls | grep '^VN_SMS\.exe|' | cut -d'|' -f2)
sms_batch=${sms##* -p }
check "VN_SMS.exe was called once with the log and -p" \
  test "$(calls | grep -c '^VN_SMS\.exe|')" = 1 -a \
       "${sms% -p *}" = "\"${win_dir}\\bin\\VN_SMS.exe\"  -b -n -l -f \"$(winepath -w "$(install_log)")\""
check "VN_SMS.exe's -p names bin\\bdinst.bat" test -n "$sms_batch" -a "$(unix_path "$sms_batch")" -ef "$batch"
# The batch's tools, then the next kernel step: VN_SMS.exe was waited for.
# Compared without the trailing blank that "start" leaves on xpdrv's line.
batch_calls() { calls | sed -n '/^VN_SMS\.exe|/,$p' | sed -n '2,6p' | cut -d'|' -f1,2 | sed 's/ *$//'; }
check "the batch's tools ran after VN_SMS.exe, in order" test "$(batch_calls)" = "$(printf '%s\n' \
  "xpdrv.exe|\"${win_dir}bin\\xpdrv.exe\"" \
  "bdkern.exe|\"${win_dir}boot\\modules\\bdkern.exe\"  -v -u HV_BD1" \
  "bdkern.exe|\"${win_dir}boot\\modules\\bdkern.exe\"  -v -u HV_BD1MP" \
  "bdkern.exe|\"${win_dir}boot\\modules\\bdkern.exe\"  -v  -l ${inf_short} -c s -i hv_bd1" \
  "bdkern.exe|\"${win_dir}boot\\modules\\bdkern.exe\"  -unbind2 ms_psched hv_vgvna")"
start_types() { echo "$(reg_value "$services\\VN_Service" Start) $(reg_value "$services\\VN_WatchDog" Start)"; }
before=$(start_types)
check "VN_Service and VN_WatchDog start on demand" test "$before" = "0x3 0x3"
# What VN_SMS does after the restart: the batch's last line sets them back.
wine cmd /c "$(winepath -w "$batch")" >/dev/null 2>&1
wineserver -w
check "the batch run again with rundll32 puts both services back to automatic start" \
  test "$before -> $(start_types)" = "0x3 0x3 -> 0x2 0x2"
wineserver -k
kept_run "$WORK/basic.msi" /x
wineserver -w
check "the removal deletes the batch's temporary directory with the client" \
  test -d "$WINEPREFIX/drive_c/Tools" -a ! -e "$dir/bin/bdtemp"
wineserver -k

# --- Run 2, a fresh prefix: the default package started by the suite
# launcher; no path dialog either, but no DefaultPath ---
unset client_folder
export WINEPREFIX=$WORK/launcher-prefix
"$SRC/scripts/wine-prefix" fresh "$WINEPREFIX"
check "the suite launcher's flag is set" \
  wine reg add "$suite_setup" /v ActivatedByLauncher /d 1 /f >/dev/null 2>&1
sample_package "$WORK/default.msi" PathAskUser=0
check "the Start-menu shortcuts go to the common folder (launcher run)" shortcuts_to_common
msiexec_install "$WORK/default.msi"
dir=$(client_dir)
programs=$(common_programs)

check "a launcher run asks for no restart (0, got $rc)" expect_rc 0
check "OnFirstAfter ran to its end (launcher run)" has_line '<OnFirstAfter> Function ended'
check "without DefaultPath the client went to the default folder" \
  test -f "$dir/bin/VN_GUI.exe" -a "$(log_lines OnFirstAfter | grep -F 'Target dir is:')" = \
    '<OnFirstAfter> Target dir is: C:\Program Files\Halvora\Varnet\'
check "NeedReboot = 1 is left for the launcher" test "$(reg_value "$suite_setup" NeedReboot)" = 1
check "no REBOOTPROMPT is set for the launcher" not_logged 'key=REBOOTPROMPT'
# The full edition keeps what the basic one changes.
check "the full edition keeps its Start-menu folder and both shortcuts" \
  test "$(ls "$programs/Halvora Tessel-1 Varguard" 2>&1 | tr '\n' '|')" = 'Varguard Diagnostics.lnk|Varguard.lnk|'
check "the full edition has no Varnet Start-menu folder" test ! -e "$programs/Halvora Tessel-1 Varnet"
check "the full edition keeps bin\\VN_Diagnostics.exe" test -f "$dir/bin/VN_Diagnostics.exe"
check "VG_Configuration is applied, VN_Configuration is not" \
  test "$(edition_section)" = VG_Configuration
check "the registry says Edition = Varguard" test "$(reg_value "$client_key\\Configuration" Edition)" = Varguard
check "the journal holds the Varguard edition value" journaled_edition Varguard
check "a full package writes IsSimplified = 0 and no installationType" \
  test "$(reg_value "$client_key" IsSimplified)|$(reg_value "$client_key" installationType)" = "0x0|"
check "without the split setting the legacy kernel steps run" has_line '<OnFirstAfter> addreg_CleanKernelINF()'
check "without the split setting InstallBD runs" has_line '<OnFirstAfter> Return code from InstallBD: 0'
check "without the split setting no batch and no VN_SMS.exe" \
  test ! -e "$dir/bin/bdinst.bat" -a "$(calls | grep -c '^VN_SMS\.exe|')" = 0
check "without the split setting the services stay on automatic start" test "$(start_types)" = "0x2 0x2"
wineserver -k

finish
