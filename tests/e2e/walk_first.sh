#!/usr/bin/env bash
# A first installation walked through its dialogs on a display, as a person
# would: W, L, D, S, R with the default settings; Back from R walks the same
# dialogs in reverse; the folder typed on D and the edition chosen on S are
# what gets installed.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/display.sh"
source "$(dirname "$0")/wizard.sh"
set_winver "${2:-winxp}"

sample_package "$WORK/varnet.msi" || { echo "FAIL: package build"; exit 1; }
start_wizard "$WORK/varnet.msi"
check "the wizard opens on the welcome dialog" at_welcome
folder='C:\Apps\VPN\' edition=Varnet
forward
check "Next walks W, L, D, S, R (walked: $path)" [ "$path" = WLDSR ]
backward
check "Back from R walks the same dialogs in reverse (walked: $path)" [ "$path" = WLDSRSDLW ]
# Without the answers forward would type and pick them again: what gets
# installed then shows what D and S kept.
unset folder edition
path=W; forward
check "the choices stay when walking forward again" [ "$path" = WLDSR ]
check "the installation ends on the completed dialog" install_from_ready
wizard_done
check "the run asks for the restart (3010, got $rc)" expect_rc 3010

dir="$WINEPREFIX/drive_c/Apps/VPN/Varnet"
check "the client is installed into the folder typed on D" \
  all [ -f "$dir/bin/tamber.dll" ] -- [ ! -e "$(client_dir)" ] -- \
      [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet\5.0' BDDIR)" = 'C:\Apps\VPN\Varnet' ]
check "the edition chosen on S is installed" \
  all [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet\Configuration' Edition)" = Varnet ] -- \
      [ "$(edition_section)" = VN_Configuration ]
check "the handlers ran once each" [ "$(banners)" = "$first_install_banners" ]
walk_finish
