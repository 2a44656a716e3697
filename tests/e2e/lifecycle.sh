#!/usr/bin/env bash
# The client's whole life on one Windows version (winxp or vista): a first
# installation, the newer package installed over it as a silent upgrade, a
# removal, a reinstallation refused until the restart, and one after it.
#
# Under Wine a new wineserver is a restart: wineboot runs RunOnce. The
# server is kept alive from the removal to the refused reinstallation, and
# killed to restart.
source "$(dirname "$0")/lib.sh"
version=${2:?usage: $0 BUILD_DIR winxp|vista}
vista=0; [ "$version" = vista ] && vista=1

set_winver "$version"
winlogon='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon'
wine reg add "$winlogon" /v GinaDLL /d msgina.dll /f >/dev/null 2>&1
echo "[entrust]" > "$WINEPREFIX/drive_c/windows/entrust.ini"
wineserver -w

sample_package "$WORK/v52.msi" || { echo "FAIL: package build"; exit 1; }
sample_package "$WORK/v53.msi" Version=5.3.1800 MinorVersion=3 || { echo "FAIL: package build"; exit 1; }
sample_package "$WORK/v51.msi" Version=5.1.1500 MinorVersion=1 || { echo "FAIL: package build"; exit 1; }
code52=$(product_code "$WORK/v52.msi"); code53=$(product_code "$WORK/v53.msi")
packed52=$(sed -E 's/[{}-]//g' <<<"$code52" | sed -E 's/^(.{8})(.{4})(.{4})(.{16})(.{0})$/\1 \2 \3 \4/' |
  awk '{ r=""; for(i=1;i<=3;i++){ s=""; for(j=length($i);j>0;j--) s=s substr($i,j,1); r=r s }
         for(j=1;j<=length($4);j+=2) r=r substr($4,j+1,1) substr($4,j,1); print r }')

dir=$(client_dir)
windir='C:\Program Files\Halvora\Varnet\'
key='HKLM\SOFTWARE\Halvora\Varnet'
# What an older generation's virtual adapter leaves: its driver file, its
# service and its event-log source. Maintenance and removal both clean it up.
drivers="$WINEPREFIX/drive_c/windows/system32/drivers"
omva_sys="$drivers/omva.sys"
omva_keys=('HKLM\SYSTEM\CurrentControlSet\Services\OMVA' 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\System\OMVA')
plant_omva() {
  echo omva >"$omva_sys"
  wine sc create OMVA binpath= 'C:\windows\system32\drivers\omva.sys' type= kernel start= demand >/dev/null 2>&1
  wine reg add "${omva_keys[1]}" /f >/dev/null 2>&1
  reg_key_exists "${omva_keys[0]}" && reg_key_exists "${omva_keys[1]}"
}
check_omva_gone() {  # check_omva_gone RUN
  check "$1 deleted omva.sys" [ ! -e "$omva_sys" ]
  check "$1 deleted the OMVA service" reg_key_gone "${omva_keys[0]}"
  check "$1 deleted the OMVA event-log source" reg_key_gone "${omva_keys[1]}"
}

# --- First installation, then what the user makes of it ---
wineserver -p  # until the simulated restart
kept_run "$WORK/v52.msi" /i
check "5.2 installed" expect_rc 3010
shortcuts_to_common_programs
blocks_per_run=$(journal_blocks)

# --- The same package again: a maintenance run of the installed product ---
check "the legacy adapter is planted before the maintenance run" plant_omva
rm -f "$drivers/bd.sys"
mark=$(log_size); calls_mark=$(calls | wc -l)
kept_run "$WORK/v52.msi" /i
check "the same package reinstalls" expect_rc 3010
check "as a maintenance run" logged_after "$mark" "<OnMaintAfter> Function ended"
check_omva_gone "the maintenance run"
# The filter driver is in place already: its file is copied and re-signed.
check "CopyBDsys copied the installed bd.sys into the system's drivers" cmp -s "$dir/boot/modules/bd.sys" "$drivers/bd.sys"
sign=$(calls | tail -n +$((calls_mark + 1)) | grep -F ' -p ')
sign_inf=$(sed -n 's/.*  -v -p \([^ ]*\) -c s -i HV_BD1MP|.*/\1/p' <<<"$sign")
check "updateSignBD ran bdkern.exe once" \
  [ "$(cut -d'|' -f1,2 <<<"$sign")" = "bdkern.exe|\"${windir}boot\\modules\\bdkern.exe\"  -v -p $sign_inf -c s -i HV_BD1MP" ]
check "on the installed netbdvnm.inf" [ -n "$sign_inf" -a "$(unix_path "$sign_inf")" -ef "$dir/boot/modules/netbdvnm.inf" ]
check "in the modules directory" [ "$(cut -d'|' -f3 <<<"$sign")" = "${windir}boot\\modules" ]
check "its result is logged" logged_after "$mark" "<OnMaintAfter> Return code from updateSignBD: 0"
check "the product stays registered" reg_key_exists "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$code52"
check "PRODUCT_GUID is unchanged" [ "$(reg_value "$key\\5.0" PRODUCT_GUID)" = "$code52" ]
echo 'user sites' >"$dir/database/userc.c"
wine reg add 'HKLM\SOFTWARE\Halvora\DTBase\5.0' /v Profile /d Office /f >/dev/null 2>&1
wine reg add 'HKLM\SOFTWARE\Halvora\DTBase\5.0' /v DefaultProfile /d Travel /f >/dev/null 2>&1
wine reg add "$key\\5.0\\policy" /v Rule1 /d allow-dns /f >/dev/null 2>&1
wine reg add "$key\\SCV" /v Check /d on /f >/dev/null 2>&1
blocks_before=$(journal_blocks)

# --- The newer package over it: a silent upgrade ---
mark=$(log_size)
kept_run "$WORK/v53.msi" /i
check "5.3 installed over 5.2" expect_rc 3010
upgrade_log=$(log_from "$mark")
check "the run was a maintenance run" grep -qxF "<OnMaintAfter> Function ended" <<<"$upgrade_log"
check "the silent run kept the old installation directory" grep -qF "<HandleQuietMode> InstPath = ${windir%\\}. uRet = 0" <<<"$upgrade_log"
check "the user's userc.c is kept" [ "$(tr -d '\r' <"$dir/database/userc.c")" = 'user sites' ]
check "entrust.ini in the Windows directory survives" [ -f "$WINEPREFIX/drive_c/windows/entrust.ini" ]
check "the DTBase profiles are kept" \
  [ "$(reg_value 'HKLM\SOFTWARE\Halvora\DTBase\5.0' Profile)/$(reg_value 'HKLM\SOFTWARE\Halvora\DTBase\5.0' DefaultProfile)" = Office/Travel ]
check "the policy key survives" [ "$(reg_value "$key\\5.0\\policy" Rule1)" = allow-dns ]
check "the old product's Uninstall entry is gone" \
  reg_key_gone "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$code52"
check "the old product's Installer registration is gone" \
  reg_key_gone "HKLM\\SOFTWARE\\Classes\\Installer\\Products\\$packed52"
check "PRODUCT_GUID holds the new code" [ "$(reg_value "$key\\5.0" PRODUCT_GUID)" = "$code53" ]
check "the service-pack level moved to PrevMSP" [ "$(reg_value "$key\\5.0\\SP9\\MSP0" PrevMSP)" = 0 ]
check "the journal gained the new blocks" [ "$(journal_blocks)" -eq $((blocks_before + blocks_per_run)) ]
check "the services stay on automatic start" \
  [ "$(reg_value 'HKLM\SYSTEM\CurrentControlSet\Services\VN_Service' Start)/$(reg_value 'HKLM\SYSTEM\CurrentControlSet\Services\VN_WatchDog' Start)" = 0x2/0x2 ]
check "the installed version is 5.3" [ "$(reg_value "$key" MinorVersion)" = 0x3 ]

# --- An older package is refused and changes nothing ---
mark=$(log_size)
kept_run "$WORK/v51.msi" /i
check "5.1 over 5.3 stops with 1603" expect_rc 1603
check "OnBegin refuses the downgrade" grep -qF "<ShowMsgBox> Installation has detected that a newer version" <<<"$(log_from "$mark")"
check "nothing else ran" lacks 'Function started' "$(log_from "$mark" | grep -v '<OnBegin>')"
check "5.3 is still the installed version" [ "$(reg_value "$key" MinorVersion)" = 0x3 ]

# --- Removal ---
if [ $vista = 1 ]; then
  wine reg add "$key" /v SDLEnabled /t REG_DWORD /d 1 /f >/dev/null 2>&1
else
  # As an SDL installation leaves it: the shim in front of the old GINA.
  wine reg add "$winlogon" /v GinaDLL /d hvrginashim.dll /f >/dev/null 2>&1
  wine reg add "$winlogon" /v HvrOldGina /d msgina.dll /f >/dev/null 2>&1
  # Only a GINA whose file exists is put back.
  [ -e "$WINEPREFIX/drive_c/windows/system32/msgina.dll" ] || echo gina >"$WINEPREFIX/drive_c/windows/system32/msgina.dll"
fi
echo driver >"$WINEPREFIX/drive_c/windows/system32/drivers/vpn.sys"
# Keys of older kernel components that the removal takes away too.
for k in 'SYSTEM\CurrentControlSet\Services\BD0' 'SYSTEM\CurrentControlSet\Services\BD1' 'SOFTWARE\Halvora\SLAN'; do
  wine reg add "HKLM\$k\Sub" /v Left /d over /f >/dev/null 2>&1
done
mkdir -p "$dir/certs" && echo cert >"$dir/certs/site.p12"
check "the legacy adapter is planted before the removal" plant_omva
calls_before=$(calls | wc -l)
mark=$(log_size)
kept_run "$WORK/v53.msi" /x
check "the removal succeeds" expect_rc 3010
removal_log=$(log_from "$mark")
removal_calls=$(calls | tail -n +$((calls_before + 1)) | cut -d'|' -f1,2)
check "the uninstall scripts ran" grep -qF "hvexec.exe|\"${windir}hvexec.exe\"  -i \"${windir}product.ini\" -m uninstall" <<<"$removal_calls"
kernel=$(sed -n 's/^\(conn_config.exe\|vna_utils.exe\|bdkern.exe\)|"[^"]*"  *//p' <<<"$removal_calls" | tr '\n' ';')
check "the kernel components were removed in order" \
  grep -qE '^rem VPN;-d om drv unhook;-d product uninstall Varnet;(-d vna dev clean_cache [^;]*;)?-v +-u hv_bd1;-v -u HV_BD1MP;' <<<"$kernel"
for gone in 'SOFTWARE\Halvora\Varnet\GUI' 'SOFTWARE\Halvora\VarnetKernel' 'SOFTWARE\Halvora\Varnet\Configuration' \
            'SYSTEM\CurrentControlSet\Services\Tessel-1' 'SYSTEM\CurrentControlSet\Services\VN_Service' \
            'SYSTEM\CurrentControlSet\Services\VN_WatchDog' 'SOFTWARE\Halvora\DTBase' \
            'SYSTEM\CurrentControlSet\Services\BD0' 'SYSTEM\CurrentControlSet\Services\BD1' 'SOFTWARE\Halvora\SLAN'; do
  check "HKLM\\$gone is gone" reg_key_gone "HKLM\\$gone"
done
check "no Varnet value under Products" [ -z "$(reg_value 'HKLM\SOFTWARE\Halvora\Products' Varnet)" ]
check "the journal was read back whole" lacks 'RestoreAllSections: Can' "$removal_log"
machine_path=$(reg_value 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' Path)
check "bin left the machine Path (read: ${machine_path:-nothing})" \
  all [ -n "$machine_path" ] -- lacks 'halvora\varnet\bin' "${machine_path,,}"
check "the certificates are kept" [ -f "$dir/certs/site.p12" ]
check "nothing else of the installation directory is left" \
  [ -z "$(find "$dir" -type f ! -name '*.p12' ! -name '*.old' 2>/dev/null)" ]
check "the system driver file is deleted" [ ! -e "$WINEPREFIX/drive_c/windows/system32/drivers/vpn.sys" ]
check_omva_gone "the removal"
check "erase_VN.exe waits in the Windows directory" [ -f "$WINEPREFIX/drive_c/windows/erase_VN.exe" ]
check "its RunOnce value is set" \
  [ "$(reg_value 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce' InstallShieldSetupForVN)" = 'C:\windows\erase_VN.exe' ]
check "the removal marker is set" [ "$(reg_value 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Varnet_UnInstall' IsUnInstall)" = 1 ]
if [ $vista = 1 ]; then
  check "SDL was disabled, then the network provider removed" \
    grep -qE 'LogonISReg.dll\|EnableDisableSDL 0 [^;]*;LogonISReg.dll\|DelNP' <<<"$(tr '\n' ';' <<<"$removal_calls")"
else
  check "the previous GINA is back" [ "$(reg_value "$winlogon" GinaDLL)" = msgina.dll ]
fi
check "the Start-menu folder is gone" [ ! -e "$(common_programs)/Halvora Tessel-1 Varguard" ]

# --- Reinstalling: refused before the restart, accepted after it ---
mark=$(log_size)
kept_run "$WORK/v53.msi" /i
check "a reinstallation before the restart stops with 1603" expect_rc 1603
check "it names the pending restart" \
  logged_after "$mark" "<OnBegin> Aborting installation because reboot was not done after uninstall"
wineserver -k; sleep 1
wine cmd /c exit >/dev/null 2>&1  # boots: RunOnce runs erase_VN.exe
check "the restart ran erase_VN.exe" has_call "erase_VN.exe|C:\\windows\\erase_VN.exe|"
kept_run "$WORK/v53.msi" /i
check "after the restart the installation succeeds" expect_rc 3010
check "and is a first installation again" logged_after "$mark" "<OnFirstAfter> Function ended"

# --- One install log for the whole life, every handler framed ---
started=$(banners | grep -c ' started$')
ended=$(banners | grep -c ' ended$')
# Two runs stopped early in OnBegin (the downgrade and the pending restart).
check "every handler that ran wrote both banners, but the two refused OnBegins" [ "$started" -eq $((ended + 2)) ]
wineserver -k
finish
