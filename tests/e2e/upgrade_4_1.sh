#!/usr/bin/env bash
# A silent installation over a Varguard 4.1 client on XP, with single sign-on
# on and SDL never set: a maintenance run of the upgrade kind that takes
# 4.1's leftovers off the machine, keeps its certificates and the settings it
# carries, and puts the shim in place of 4.1's GINA. On a display, so that
# the old encryption agent's stand-in window can hear "kill-bdenc".
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/fixture_4_1.sh"
source "$(dirname "$0")/display.sh"

set_winver winxp
fixture_4_1 SSOEnabled=1
check "the fixture is a 4.1 client" [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet' CurrentVersion)" = 4.1 ]
sample_package "$WORK/varnet.msi" || { echo "FAIL: package build"; exit 1; }
wine "$BUILD/tools/bdenc_standin.exe" >/dev/null 2>&1 &
for i in $(seq 300); do [ -e "$WINEPREFIX/drive_c/tamber_bdenc_ready.txt" ] && break; sleep 0.1; done
# Without its window the kill-bdenc check below would fail for the wrong reason.
check "the old agent's stand-in is up" test -e "$WINEPREFIX/drive_c/tamber_bdenc_ready.txt"
msiexec_install "$WORK/varnet.msi"
check "the old agent's window got kill-bdenc with version 5.0 as 500000" \
  [ "$(tr -d '\r' <"$WINEPREFIX/drive_c/tamber_bdenc.txt" 2>/dev/null)" = "kill-bdenc 500000 0" ]

key='HKLM\SOFTWARE\Halvora\Varnet'
winlogon='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Winlogon'
check "the run ends asking for a restart (3010)" expect_rc 3010

# --- How the run saw the machine ---
for state in tamber_install_mode=upgrade tamber_old_version=4.1 tamber_VG_type=Varguard \
             "tamber_old_installed_path=$old41_win"; do
  check "detected $state" has_line "$state"
done
expected_banners="OnBegin started
OnBegin ended
OnMaintPrologue started
OnMaintPrologue ended
OnExecuteStub started
OnExecuteStub ended
OnMaintBefore started
OnMaintBefore ended
OnMaintAfter started
OnMaintAfter ended
OnInstallFinish started
OnInstallFinish ended"
check "a maintenance run: every handler once, in order, and ended" [ "$(banners)" = "$expected_banners" ]
check "the silent run stays in 4.1's directory" has_line "<HandleQuietMode> InstPath = $old41_win. uRet = 0"
check "the 4.1 warning is not shown, and the silent answer goes on" has_line "<WarnOn4_1Upgrade> returns with true"
check "the prologue recorded SSOEnabled and SDLEnabled before the key goes" \
  [ "$(log_lines Backup4_1RegistryInfo | head -3 | tr '\n' ';')" = "<Backup4_1RegistryInfo> starting;<Backup4_1RegistryInfo> SSOEnabled: 1.;<Backup4_1RegistryInfo> SDLEnabled: 0.;" ]
check "OnMaintBefore removed 4.1" has_line "<OnMaintBefore> Removing 4.1"
check "4.1's firewall service was removed with its own tool" has_call "bdvnservice.exe|-remove|"
check "the filter driver was installed afresh, not re-signed" \
  bash -c 'grep -qxF "<OnMaintAfter> addreg_CleanKernelINF()" <<<"$1" && ! grep -qF "updateSignBD" <<<"$1"' _ "$(log_messages)"

# --- The old directory: emptied but for its certificates, then the new client ---
for gone in bin/bdvnservice.exe bin/bdenc.dll sites.dat log/vn.log; do
  check "4.1's $gone is gone" [ ! -e "$old41_dir/$gone" ]
done
check "its certificate is kept" [ "$(cat "$old41_dir/certs/user.p12")" = certificate ]
check "its userc.c is carried into the new client" [ "$(tr -d '\r' <"$old41_dir/database/userc.c")" = '4.1 user sites' ]
check "the new client went into the same directory" [ -f "$old41_dir/hvexec.exe" ]
check "InstallPath names it" [ "$(reg_value "$key" InstallPath)" = "$old41_win" ]

# --- What 4.1 kept outside its directory ---
for f in bdenc.ini bduninst.exe; do check "Windows\\$f is gone" [ ! -e "$windir_u/$f" ]; done
for f in bdnetcfg.dll hvrgina.dll drivers/bd.sys enterr.dll hvprod.dll entpm10.dll kmpapi32.dll; do
  check "system32\\$f is gone" [ ! -e "$sys32/$f" ]
done
for tree in 'SOFTWARE\Halvora\BD1' 'SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Varnet' \
            'SYSTEM\CurrentControlSet\Enum\Root\LEGACY_BDVNSERVICE' 'SOFTWARE\Halvora\Varnet\Sites'; do
  check "HKLM\\$tree is gone" reg_key_gone "HKLM\\$tree"
done
check "4.1's values of the client key are gone" \
  [ "$(reg_value "$key" CurrentVersion)/$(reg_value "$key" LastSite)$(reg_value "$key" SLANEnabled)" = 5.0/ ]
# The new client writes its own Products value again: the deletion shows in the log.
check "4.1's Products value was deleted" \
  has_line "<Registry Controller> delRegistryValue: ends with SUCCESS.  mainKeyName='SOFTWARE\Halvora\Products'  valueName='Varnet' "
check "another product's value stays" [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Products' Other)" = 1.0 ]
check "bdenc.exe's App Paths and Run values are gone" \
  [ -z "$(reg_value 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\bdenc.exe' path)$(reg_value 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run' bdenc.exe)" ]
check "the Start-menu folder is gone" [ ! -e "$old41_menu" ]

# --- The carried settings, the GINA, the mark ---
check "the client key was written afresh" [ "$(reg_value "$key" MinorVersion)" = 0x2 ]
check "SSOEnabled is carried over" [ "$(reg_value "$key" SSOEnabled)" = 0x1 ]
check "SDLEnabled, absent in 4.1, is not written" [ -z "$(reg_value "$key" SDLEnabled)" ]
check "the write was logged" has_line "<Restore4_1RegistryInfo> RegInfo41_SSOEnabled is true; write returned 1."
check "4.1's GINA is replaced by the shim" [ "$(reg_value "$winlogon" GinaDLL)" = hvrginashim.dll ]
check "4.1's GINA is not taken for a third-party one" [ -z "$(reg_value "$key" ThirdPartyGina)" ]
check "UpgradedFrom = 4200" [ "$(reg_value "$key" UpgradedFrom)" = 0x1068 ]
finish
