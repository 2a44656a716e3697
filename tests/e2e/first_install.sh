#!/usr/bin/env bash
# A silent first installation of the sample package on one Windows version
# (win2k, winxp or vista), checked against what the machine should hold.
source "$(dirname "$0")/lib.sh"
version=${2:?usage: $0 BUILD_DIR win2k|winxp|vista}
case $version in win2k|winxp) legacy=1 ;; *) legacy=0 ;; esac

set_winver "$version"
# A GINA already in place: the client must chain to it.
wine reg add 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon' /v GinaDLL /d msgina.dll /f >/dev/null 2>&1
# An older client's Winlogon notification package: Vista and later have no use for it.
notify='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon\Notify\hvrNotify'
wine reg add "$notify\Events" /v Logon /d WLEventLogon /f >/dev/null 2>&1
echo notify >"$WINEPREFIX/drive_c/windows/system32/hvrNotify.dll"
build_package "$ARCH" "$WORK/varnet.msi" >/dev/null 2>&1 || { echo "FAIL: package build"; exit 1; }
code=$(product_code "$WORK/varnet.msi")
msiexec_install "$WORK/varnet.msi"

dir=$(client_dir)
windir='C:\Program Files\Halvora\Varnet\'
check "the run ends asking for a restart (3010)" expect_rc 3010

# --- Handlers, in the order the engine ran them ---
check "every handler ran once, in order, and ended" [ "$(banners)" = "$first_install_banners" ]
check "OnFirstBefore scheduled OnFirstAfter" has_line "<SetDeferredCustomActionFN> Set the deferred CA to DCAFN1=OnFirstAfter"
check "OnExecuteStub handed the container to OnFirstAfter" \
  bash -c "grep -aq '<SetProperty> SetProperty >> key=OnFirstAfter 	 value=\[\[' '$(install_log)'"
check "OnFirstAfter loaded its container from CustomActionData" has_line "<GetProperty> Entering with property CustomActionData"
check "OnFirstAfter read INSTALLDIR from the container" \
  bash -c "grep -aqF 'INSTALLDIR' <(grep -a '<GetTargetPath>' '$(install_log)')"
check "OnFirstAfter logged its target directory" has_line "<OnFirstAfter> Target dir is: $windir"
engine_log=$(tr -d '\r' < "$WORK/msi.log")
check "the library's lines reach the engine's log, from OnBegin" grep -qF '<OnBegin> Function started.' <<<"$engine_log"
check "the library's lines reach the engine's log, from the deferred OnFirstAfter" \
  grep -qF "<OnFirstAfter> Target dir is: $windir" <<<"$engine_log"

# --- Registry script sections and their journal ---
expected_sections="ALL ALL1 ExpectedDialupDelay NOT_SupportBDZ WNT_W2K ServiceInteractive Kernel"
[ $legacy = 1 ] && expected_sections+=" W2K_XP"
expected_sections+=" VG_Configuration Support3rdPartyGina"
check "sections applied in order: $expected_sections" [ "$(applied_sections | tr '\n' ' ' | sed 's/ $//')" = "$expected_sections" ]
check "reg_ini_DB holds one block per applied section" [ "$(journal_blocks)" -eq "$(wc -w <<<"$expected_sections")" ]
first_block=$(journal_dump | sed -n '/^block 1 /,/^block 2 /p')
# Nothing of the maker's existed before: the first write created its key.
check "the journal's first block records the key it created" grep -qxF '    firstCreatedKey = SOFTWARE\Halvora' <<<"$first_block"
check "the edition's configuration was written" [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet\Configuration' Edition)" = Varguard ]
if [ $legacy = 1 ]; then
  check "W2K_XP wrote its value" [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet\Platform' LegacyLogonNotify)" = 0x1 ]
else
  check "W2K_XP is not applied" [ -z "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet\Platform' LegacyLogonNotify)" ]
fi

# --- Command lines of the client's tools ---
bdkern="bdkern.exe|\"${windir}boot\\modules\\bdkern.exe\"  "
for args in "-unbind ms_psched" "-v -u HV_OMVA" "-v -u *NM_VDEV" "-v -u HV_BD1" "-v -u HV_BD1MP" "-unbind2 ms_psched hv_vgvna"; do
  check "bdkern.exe ran with $args" has_call "$bdkern$args|"
done
check "the filter driver was installed from netbdvn.inf" grep -qE '^bdkern.exe\|.*  -v  -l [^ ]*netbdvn.inf -c s -i hv_bd1\|' <<<"$(calls)"
check "vna_utils.exe installed the adapter" \
  has_call "vna_utils.exe|\"${windir}bin\\vna_utils.exe\" -d product install Varnet  \"${windir}boot\\modules\\netvna.inf\" System32\\drivers\\omdrv.sys|"
check "conn_config.exe registered the VPN" has_call "conn_config.exe|\"${windir}bin\\conn_config.exe\"  add Tessel-1 VPN|"
check "hvexec.exe ran the install scripts with HV_MSI_INSTALLER=1" \
  has_call "hvexec.exe|\"${windir}hvexec.exe\"  -i \"${windir}product.ini\" -m install|"
check "HV_MSI_INSTALLER reached the scripts" bash -c "grep -a '^hvexec.exe|' '$WINEPREFIX/drive_c/tamber_calls.txt' | tr -d '\r' | grep -q '|1$'"
check "xpdrv.exe was not run (driver signature warning on)" bash -c "! grep -aq '^xpdrv.exe|' '$WINEPREFIX/drive_c/tamber_calls.txt'"
order=$(calls | cut -d'|' -f1,2 | sed -n 's/^bdkern.exe|.*bdkern.exe"  //p; s/^\(vna_utils.exe\|conn_config.exe\|hvexec.exe\)|.*/\1/p' | tr '\n' ';')
check "the tools ran in the order of the flow" \
  [ "$order" = "-unbind ms_psched;-v -u HV_OMVA;-v -u *NM_VDEV;vna_utils.exe;-v -u HV_BD1;-v -u HV_BD1MP;$(calls | sed -n 's/^bdkern.exe|.*bdkern.exe"  \(-v  -l .*-i hv_bd1\)|.*/\1/p');-unbind2 ms_psched hv_vgvna;conn_config.exe;hvexec.exe;" ]
check "the log shows the non-split kernel branch" has_line "<OnFirstAfter> addreg_CleanKernelINF()"
check "InstallBD's result was logged after it" has_line "<OnFirstAfter> Return code from InstallBD: 0"
check "the tools' own output sits between the marker lines" \
  bash -c "grep -a -A1 'Switching to external logging' '$(install_log)' | grep -q '^stand-in bdkern.exe'"

# --- The VPN driver and the client's services ---
tessel='HKLM\SYSTEM\CurrentControlSet\Services\Tessel-1'
check "Tessel-1 is a kernel driver" [ "$(reg_value "$tessel" Type)" = 0x1 ]
check "Tessel-1 starts with the system" [ "$(reg_value "$tessel" Start)" = 0x1 ]
check "Tessel-1 is in Extended Base" [ "$(reg_value "$tessel" Group)" = "Extended Base" ]
check "Tessel-1's image is vpn.sys" [ "$(reg_value "$tessel" ImagePath)" = '\SystemRoot\System32\drivers\vpn.sys' ]
for service in VN_Service VN_WatchDog; do
  check "$service is installed to start automatically" \
    [ "$(reg_value "HKLM\\SYSTEM\\CurrentControlSet\\Services\\$service" Start)" = 0x2 ]
done

# --- Logon integration ---
if [ $legacy = 1 ]; then
  check "no network provider on $version" bash -c "! grep -aq '^LogonISReg.dll|SetNP' '$WINEPREFIX/drive_c/tamber_calls.txt'"
  check "the notification package stays on $version" \
    [ -f "$WINEPREFIX/drive_c/windows/system32/hvrNotify.dll" -a "$(reg_value "$notify\Events" Logon)" = WLEventLogon ]
else
  check "the network provider was registered" has_call "LogonISReg.dll|SetNP $windir|"
  check "the log says so" has_line "<OnFirstAfter> Registring NP"
  check "hvrNotify.dll is deleted" [ ! -e "$WINEPREFIX/drive_c/windows/system32/hvrNotify.dll" ]
  check "the notification package's key is deleted with its subkeys" reg_key_gone "$notify"
fi
check "the client chains to the GINA it found" [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet' ThirdPartyGina)" = msgina.dll ]
check "SDL stays off by default" [ -z "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet' SDLEnabled)" ]

# --- Registration values ---
check "DTBase defaults point into the installation" \
  [ "$(reg_value 'HKLM\SOFTWARE\Halvora\DTBase\5.0' SharedDir)" = "${windir}shared" ]
check "DTBase default profile of the full edition" [ "$(reg_value 'HKLM\SOFTWARE\Halvora\DTBase\5.0' DefaultProfile)" = VG_2K ]
check "product version 5.2" [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet' MajorVersion) $(reg_value 'HKLM\SOFTWARE\Halvora\Varnet' MinorVersion)" = "0x5 0x2" ]
sp='HKLM\SOFTWARE\Halvora\Varnet\5.0'
sp_levels() { echo "$(reg_value "$sp" CurrentSP) $(reg_value "$sp\\SP9" PrevSP) $(reg_value "$sp\\SP9" CurrentMSP) [$(reg_value "$sp\\SP9\\MSP0" PrevMSP)]"; }
check "the first service-pack levels: CurrentSP 9, PrevSP 0, CurrentMSP 0, no PrevMSP" [ "$(sp_levels)" = "9 0 0 []" ]
check "build number from subarch.ini" [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet\5.0' BuildNumber)" = 0x6ce ]
check "PRODDIR is the installation directory" [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet\5.0' PRODDIR)" = "$windir" ]
check "PRODUCT_GUID is this package's product code" [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet\5.0' PRODUCT_GUID)" = "$code" ]
check "EstimatedSize of the running product" \
  [ -n "$(reg_value "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$code" EstimatedSize)" ]
check "the uninstall target directory is recorded" \
  [ "$(reg_value 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Varnet_UnInstall' VN_TARGETDIR)" = "${windir%\\}" ]
check "the installer registered the product icon" \
  bash -c "wine reg query 'HKLM\\SOFTWARE\\Classes\\Installer\\Products' /s 2>/dev/null | grep -q ProductIcon"

# --- Files and shortcuts ---
check "the site's userc.c replaced the packaged one" cmp -s "$SRC/package/client/userc_site.c" "$dir/database/userc.c"
check "the external additional file went to HVSelfInstall" cmp -s "$SRC/package/client/local.policy" "$dir/HVSelfInstall/local.policy"
check "product.ini came from the Binary table" cmp -s "$SRC/package/client/product.ini" "$dir/product.ini"
for sub in log sds shared vg_ts; do check "working directory $sub exists" [ -d "$dir/$sub" ]; done
check "the temporary directory of the additional files is gone" \
  bash -c "d=\$(sed -n 's/.*key=AddFilesTempDir 	 value=//p' '$(install_log)' | head -1 | tr -d '\r'); [ -n \"\$d\" ] && [ ! -e \"\$(winepath -u \"\$d\" 2>/dev/null)\" ]"
check "the log shortcut is under Program Files" [ -f "$WINEPREFIX/drive_c/Program Files/Halvora/HVInstLog/install_varnet_R33.elg.lnk" ]
check "authmsg.txt is removed without IncludeBrandingFiles" [ ! -e "$dir/authmsg.txt" ]
check "logo.bmp is removed without IncludeBrandingFiles" [ ! -e "$dir/logo.bmp" ]

# --- Firewall: Vista and later only ---
if [ $legacy = 1 ]; then
  check "no firewall command on $version" bash -c "! grep -aq 'advfirewall' '$(install_log)'"
else
  check "firewall rules added" bash -c "grep -aqF '<Tamber_RunProcess> running command: <\"C:\\windows\\system32\\netsh.exe\" advfirewall firewall add rule name = ' '$(install_log)'"
fi
check "the install scripts find the client's bin on the search path" \
  grep -qF "<AddInstDirToPath> New PATH is: ${windir}bin;" <<<"$(log_messages)"
finish
