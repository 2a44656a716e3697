#!/usr/bin/env bash
# Dialogs that the settings and the suite launcher take out of a first
# installation, and a person who cancels, walked on a display.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/display.sh"
source "$(dirname "$0")/wizard.sh"
set_winver winxp
nothing_installed() { [ ! -e "$(client_dir)" ] && reg_key_gone 'HKLM\SOFTWARE\Halvora\Varnet\Configuration'; }

sample_package "$WORK/default.msi" || { echo "FAIL: package build"; exit 1; }
sample_package "$WORK/preset.msi" PathAskUser=0 'DefaultPath=%SystemDrive%\Tools' DesktopSecurityAskUser=0 \
  DesktopSecurityDefault=1 || { echo "FAIL: package build"; exit 1; }

# --- Cancel on the licence: the user-exit dialog, and nothing installed ---
start_wizard "$WORK/default.msi"
at_welcome && press "Next >"
check "cancel on L ends in the user-exit dialog (walked: $path)" all [ "$path" = WL ] -- cancel_wizard
wizard_done
check "the cancelled run ends as a user exit and installs nothing" all expect_rc 1602 -- nothing_installed

# --- Started by the suite launcher: no licence ---
suite_setup='HKLM\SOFTWARE\Halvora\Halvora Product Suite\setup'
wine reg add "$suite_setup" /v ActivatedByLauncher /d 1 /f >/dev/null 2>&1
start_wizard "$WORK/default.msi"
at_welcome && forward
check "a run started by the launcher walks W, D, S, R (walked: $path)" [ "$path" = WDSR ]
cancel_wizard; wizard_done
wine reg delete "$suite_setup" /v ActivatedByLauncher /f >/dev/null 2>&1

# --- The folder and the edition preset by the settings ---
start_wizard "$WORK/preset.msi"
at_welcome && forward
check "PathAskUser 0 and DesktopSecurityAskUser 0 walk W, L, R (walked: $path)" [ "$path" = WLR ]
check "the installation ends on the completed dialog" install_from_ready
wizard_done
tools="$WINEPREFIX/drive_c/Tools/Varnet"
check "the client is installed into the expanded DefaultPath and the product folder" \
  all [ -f "$tools/bin/tamber.dll" ] -- [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet\5.0' BDDIR)" = 'C:\Tools\Varnet' ]
check "the edition is DesktopSecurityDefault's" \
  [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet\Configuration' Edition)" = Varguard ]
walk_finish
