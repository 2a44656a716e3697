#!/usr/bin/env bash
# Faults injected around real runs of the sample package: an install log that
# cannot be written, a missing client tool, a service that already exists, a
# lost registry journal, a file in use at removal and a registry key the
# library is denied. Each run must log what went wrong and go on.
#
# Each case has its own prefix beside the test's, so that no fault leaks
# into the next case, and keeps one wineserver (a new one would be a restart:
# wineboot runs RunOnce) until it ends or restarts on purpose.
source "$(dirname "$0")/lib.sh"

build_package "$ARCH" "$WORK/varnet.msi" >/dev/null 2>&1 || { echo "FAIL: package build"; exit 1; }
pkg=$WORK/varnet.msi
product_code=$(msiinfo export "$pkg" Property | tr -d '\r' | awk -F'\t' '$1=="ProductCode"{print $2}')
uninstall_key="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product_code"
windir='C:\Program Files\Halvora\Varnet\'
cases_root=$WINEPREFIX
trap 'wineserver -k 2>/dev/null' EXIT

new_prefix() {
  wineserver -k 2>/dev/null
  local dir="${cases_root}_$1"
  "$SRC/scripts/wine-prefix" fresh "$dir" || { echo "FAIL: prefix for $1"; exit 1; }
  export WINEPREFIX=$dir
  wineserver -p
}
# A silent run through msiexec that leaves the wineserver alone: a denied key
# and a running program live only as long as it.
msiexec_run() {
  wine msiexec /qn "$1" "$(winepath -w "$2")" /l*v "$(winepath -w "$WORK/msi.log")" >"$WORK/msiexec.out" 2>&1
  rc=$?
}
calls_from() { calls | tail -n +"$(($1 + 1))" | cut -d'|' -f1,2; }
removed() {
  check "$1: the removal ends asking for a restart (3010)" expect_rc 3010
  check "$1: OnRemoveAfter ran to its end" grep -qxF "<OnRemoveAfter> Function ended" <<<"$2"
  check "$1: the product is unregistered" reg_key_gone "$uninstall_key"
  check "$1: the Products value is gone" [ -z "$(reg_value 'HKLM\SOFTWARE\Halvora\Products' Varnet)" ]
}

# --- The install log's directory is a file: lines are lost, the run goes on ---
# A regular file in the directory's place defeats both the directory creation
# and the open. A directory without write permission would not do here: the
# tests run as root, and Wine leaves permission checks to the Unix side.
new_prefix log
tmp=$(temp_dir) || exit 1
rm -rf "$tmp/HVInstLog"
echo 'not a directory' >"$tmp/HVInstLog"
# warn+seh prints what the library sends to the debugger.
WINEDEBUG=warn+seh msiexec_run /i "$pkg"
check "log: the installation succeeds (3010)" expect_rc 3010
check "log: the library told the debugger the log could not be opened" \
  grep -qF 'OutputDebugStringA "Tamber: Failed to open log file.' "$WORK/msiexec.out"
check "log: the file in the directory's place is untouched" [ "$(cat "$tmp/HVInstLog")" = 'not a directory' ]
check "log: no install log was written anywhere" [ -z "$(find "$WINEPREFIX/drive_c" -name install_varnet_R33.elg)" ]
check "log: the engine ran the deferred handler" grep -aq 'OnFirstAfter' "$WORK/msi.log"
check "log: no line reached the engine's log either" bash -c "! grep -aq '> Function started' '$WORK/msi.log'"
check "log: the install scripts ran" has_call "hvexec.exe|\"${windir}hvexec.exe\"  -i \"${windir}product.ini\" -m install|"
check "log: the registry script was applied" [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet\Configuration' Edition)" = Varguard ]
check "log: the version is registered" [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet' MinorVersion)" = 0x2 ]
check "log: the VPN driver is registered" [ "$(reg_value 'HKLM\SYSTEM\CurrentControlSet\Services\Tessel-1' Group)" = "Extended Base" ]
check "log: the uninstall target directory is recorded" \
  [ "$(reg_value 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Varnet_UnInstall' VN_TARGETDIR)" = "${windir%\\}" ]
check "log: the journal was written" [ "$(journal_blocks)" -gt 0 ]

# --- A client tool is missing at removal: 82 is logged, the removal goes on ---
new_prefix tool
msiexec_run /i "$pkg"
check "tool: installed" expect_rc 3010
rm -f "$(client_dir)/bin/vna_utils.exe"
mark=$(log_size); calls_mark=$(calls | wc -l)
msiexec_run /x "$pkg"
removal_log=$(log_from "$mark")
unhook="${windir}bin\\vna_utils.exe\" -d om drv unhook"
# The runner's result for the missing tool, in hexadecimal.
result=$(cmd="<Tamber_RunProcess> running command: <\"$unhook>" awk \
  '$0 == ENVIRON["cmd"] { found = 1 } found && /^<Tamber_RunProcess> command returned with: / { print; exit }' <<<"$removal_log")
check "tool: the unhook run is logged as not started (52 hex)" [ "$result" = "<Tamber_RunProcess> command returned with: <52>" ]
check "tool: the flow logs 82 for the unhook" grep -qxF "<OnRemoveBefore> Return code from unhook VNA: 82" <<<"$removal_log"
check "tool: and for the adapter removal" grep -qxF "<OnRemoveBefore> Return code from UnInstall VNA: 82" <<<"$removal_log"
removal_calls=$(calls_from "$calls_mark")
check "tool: the filter driver was still removed after it" grep -qE '^bdkern.exe\|.*  -v +-u hv_bd1$' <<<"$removal_calls"
check "tool: and its miniport" grep -qF "bdkern.exe|\"${windir}boot\\modules\\bdkern.exe\"  -v -u HV_BD1MP" <<<"$removal_calls"
removed tool "$removal_log"
check "tool: the journal was replayed" [ -z "$(reg_value 'HKLM\SOFTWARE\Halvora\VarnetKernel' DriverImage)" ]

# --- The VPN driver's service exists already: 1073 is logged, the run goes on ---
new_prefix service
wine sc create Tessel-1 binpath= 'C:\windows\system32\drivers\other.sys' type= kernel start= demand \
  displayname= 'Other Module' >/dev/null 2>&1
tessel='HKLM\SYSTEM\CurrentControlSet\Services\Tessel-1'
check "service: Tessel-1 exists before the installation" [ "$(reg_value "$tessel" DisplayName)" = 'Other Module' ]
msiexec_run /i "$pkg"
check "service: the installation succeeds (3010)" expect_rc 3010
install_lines=$(log_messages)
check "service: the manager's refusal is logged with its code" \
  grep -qF "<Drivers Controller> InstallGenericDriver: CreateService failed (1073) (Error code:1073)" <<<"$install_lines"
check "service: the flow logs the result" grep -qxF "<OnFirstAfter> Return code from installVPN: 1073" <<<"$install_lines"
check "service: the VPN connection was still added" has_call "conn_config.exe|\"${windir}bin\\conn_config.exe\"  add Tessel-1 VPN|"
check "service: the install scripts still ran" has_call "hvexec.exe|\"${windir}hvexec.exe\"  -i \"${windir}product.ini\" -m install|"
check "service: OnFirstAfter ran to its end" grep -qxF "<OnFirstAfter> Function ended" <<<"$install_lines"
check "service: the existing service is left as it was" \
  [ "$(reg_value "$tessel" ImagePath)/$(reg_value "$tessel" Start)" = 'C:\windows\system32\drivers\other.sys/0x3' ]
check "service: no event-log source was registered" \
  reg_key_gone 'HKLM\SYSTEM\CurrentControlSet\Services\Eventlog\System\Tessel-1'
check "service: the client's services were installed" [ "$(reg_value 'HKLM\SYSTEM\CurrentControlSet\Services\VN_Service' Start)" = 0x2 ]

# --- The journal is gone at removal: logged, nothing undone, removal succeeds ---
new_prefix journal
msiexec_run /i "$pkg"
check "journal: installed" expect_rc 3010
check "journal: reg_ini_DB was written" [ -s "$(client_dir)/reg_ini_DB" ]
check "journal: the Kernel section wrote its value" [ -n "$(reg_value 'HKLM\SOFTWARE\Halvora\VarnetKernel' DriverImage)" ]
rm -f "$(client_dir)/reg_ini_DB"
mark=$(log_size)
msiexec_run /x "$pkg"
removal_log=$(log_from "$mark")
check "journal: the missing journal is logged" \
  grep -qxF "<Registry Controller> RestoreAllSections: storeCurrSection: Can't open the ini DB file reg_ini_DB" <<<"$removal_log"
removed journal "$removal_log"
# Only the journal takes this value back.
check "journal: values only the journal undoes are left" [ -n "$(reg_value 'HKLM\SOFTWARE\Halvora\VarnetKernel' DriverImage)" ]
check "journal: the services were still removed" \
  reg_key_gone 'HKLM\SYSTEM\CurrentControlSet\Services\VN_Service'

# --- A file in use at removal ends as .old; the next removal deletes it ---
# A running program's image cannot be deleted but can be renamed, as on
# Windows; a file merely held open without FILE_SHARE_DELETE can be neither.
new_prefix locked
msiexec_run /i "$pkg"
check "locked: installed" expect_rc 3010
dir=$(client_dir)
cp "$BUILD/tools/service_standin.exe" "$dir/holder.exe"  # runs two minutes when not a service
wine "$(winepath -w "$dir/holder.exe")" >/dev/null 2>&1 &
holder=$!
for _ in $(seq 50); do grep -q 'holder\.exe' "/proc/$holder/maps" 2>/dev/null && break; sleep 0.2; done
check "locked: holder.exe is running from the installation directory" grep -q 'holder\.exe' "/proc/$holder/maps"
mark=$(log_size)
msiexec_run /x "$pkg"
removed locked "$(log_from "$mark")"
check "locked: the file in use was renamed to holder.exe.old" [ -f "$dir/holder.exe.old" ]
check "locked: no holder.exe is left" [ ! -e "$dir/holder.exe" ]
check "locked: it is still the program" cmp -s "$BUILD/tools/service_standin.exe" "$dir/holder.exe.old"
check "locked: the package's own files are gone" [ ! -e "$dir/hvexec.exe" ]
kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null
wineserver -k; sleep 1
wineserver -p
wine cmd /c exit >/dev/null 2>&1  # the restart: RunOnce runs erase_VN.exe
check "locked: the restart ran erase_VN.exe" has_call 'erase_VN.exe|C:\windows\erase_VN.exe|'
msiexec_run /i "$pkg"
check "locked: after the restart the client installs again" expect_rc 3010
check "locked: the .old file outlived the installation" [ -f "$dir/holder.exe.old" ]
mark=$(log_size)
msiexec_run /x "$pkg"
removed "locked, again" "$(log_from "$mark")"
check "locked: the second removal deleted holder.exe.old" [ ! -e "$dir/holder.exe.old" ]

# --- A registry key the library must write is denied: logged, the run goes on ---
# Wine checks key ACLs but keeps them only in the running wineserver.
new_prefix denied
kernel_key='SOFTWARE\Halvora\VarnetKernel'
wine "$BUILD/tools/denykey.exe" "$kernel_key" >/dev/null 2>&1
check "denied: the key refuses writes" bash -c "! wine reg add 'HKLM\\$kernel_key' /v Probe /d 1 /f >/dev/null 2>&1"
msiexec_run /i "$pkg"
check "denied: the installation succeeds (3010)" expect_rc 3010
install_lines=$(log_messages)
for op in setRegistryExpStringValue setRegistryDWORDValue; do
  check "denied: $op logs access denied (5)" \
    grep -qxF "<Registry Controller> $op: Can't set registry key $kernel_key - error 5" <<<"$install_lines"
done
kernel_block=$(journal_dump | awk '/^block / { b = $0 } { print b "\t" $0 }' | grep -F 'name  = DriverImage' | cut -f1)
kernel_records=$(journal_dump | awk -v b="$kernel_block" '/^block / { in_b = ($0 == b) } in_b && /^  record / { print $7 }')
check "denied: the journal records both writes of the Kernel section as failed" [ "$(tr '\n' ' ' <<<"$kernel_records")" = "4 4 " ]
check "denied: the next section was still applied" [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet\Configuration' Edition)" = Varguard ]
check "denied: OnFirstAfter ran to its end" grep -qxF "<OnFirstAfter> Function ended" <<<"$install_lines"
check "denied: the version is registered" [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet' MinorVersion)" = 0x2 ]
mark=$(log_size)
msiexec_run /x "$pkg"
removal_log=$(log_from "$mark")
check "denied: the removal skips the failed records, logging each" \
  [ "$(grep -cxF '<Registry Controller> RestoreAllSections: ExecuteINISection: Unknown record status (4)' <<<"$removal_log")" -eq 2 ]
removed denied "$removal_log"
check "denied: the client's configuration was removed" [ -z "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet\Configuration' Edition)" ]

finish
