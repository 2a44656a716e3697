#!/usr/bin/env bash
# A newer package over an installed client, walked on a display: the
# maintenance dialog with its preset, an overwrite chosen there, and the
# boxes that a simplified package and a pending restart bring up, each
# followed by the end dialog's text.
#
# What Wine cannot show here: the library's boxes reach the engine as
# warnings (MsiProcessMessage), which Wine shows as a plain message box titled
# "Windows Installer" instead of the package's ErrorDialog. And the error and
# fatal-exit boxes of the library's external UI handler never appear: Wine
# runs custom actions in a separate server process, so the handler that a
# custom action installs there never receives the engine's messages. The
# handler tests call it in-process instead.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/display.sh"
source "$(dirname "$0")/wizard.sh"
set_winver winxp
upgrade=$(mode_text upgrade) overwrite=$(mode_text overwrite)
policy="$(client_dir)/policy/local.pol"
plant_policy() { mkdir -p "$(dirname "$policy")" && echo rules >"$policy"; }
# box_then_end ANSWER TEXT: the engine's box says TEXT; ANSWER it, then the
# failed run's end dialog repeats the reason given in ID_FINISH_ERROR_STRING.
box_then_end() {
  ui --timeout 60 wait "Windows Installer" && shown "$2" && ui click "$1" &&
    ui --timeout 60 wait "${setup}Failed" && shown "$3" && ui click Finish
}
msg1119="Installation will overwrite your current settings."

for v in "v52 Version=5.2.1742" "v53 Version=5.3.1800 MinorVersion=3" \
         "v54 Version=5.4.1900 MinorVersion=4 OverwriteConfiguration=1" \
         "quebec Version=5.4.1901 MinorVersion=4 IsSimplified=1 IsQuebec=1" \
         "simple Version=5.4.1902 MinorVersion=4 IsSimplified=1"; do
  sample_package "$WORK/${v%% *}.msi" ${v#* } || { echo "FAIL: package build ${v%% *}"; exit 1; }
done
wineserver -p
kept_run "$WORK/v52.msi" /i
check "5.2 installed" expect_rc 3010

# --- Upgrade preselected; the person chooses overwrite ---
plant_policy
start_wizard "$WORK/v53.msi"
at_welcome && forward M
check "the maintenance dialog comes after the licence, with upgrade preselected" \
  all [ "$path" = WLM ] -- selected "$upgrade"
mode=overwrite; forward; mode=
check "then R: W, L, M, R (walked: $path)" [ "$path" = WLMR ]
check "the installation ends on the completed dialog" install_from_ready
wizard_done
check "the overwrite chosen on M is done: the old policy is gone" [ ! -e "$policy" ]

# --- OverwriteConfiguration 1: overwrite preselected, and the edition asked ---
start_wizard "$WORK/v54.msi"
at_welcome && forward M
check "overwrite is preselected" selected "$overwrite"
forward
check "the path is W, L, M, S, R (walked: $path)" [ "$path" = WLMSR ]
cancel_wizard; wizard_done

# --- A simplified package over a full client ---
start_wizard "$WORK/quebec.msi"
check "box 1119 comes first; No stops the run and the end dialog says why" \
  box_then_end No "$msg1119" "Installation aborted by user."
wizard_done
check "the refused run changed nothing" all expect_rc 1603 -- [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet' MinorVersion)" = 0x3 ]
start_wizard "$WORK/simple.msi"
check "without IsQuebec: refusal 1117, its box and then its end text" \
  box_then_end OK "Misconfiguration of package type." "Misconfiguration of package type. Installation aborted."
wizard_done
plant_policy
start_wizard "$WORK/quebec.msi"
ui --timeout 60 wait "Windows Installer" && ui click Yes
at_welcome && forward
check "Yes goes on as an overwrite: no maintenance dialog, the edition asked (walked: $path)" [ "$path" = WLSR ]
check "the installation ends on the completed dialog" install_from_ready
wizard_done
check "the overwrite is done: the old policy is gone, the client is simplified" \
  all [ ! -e "$policy" ] -- [ "$(reg_value 'HKLM\SOFTWARE\Halvora\Varnet' IsSimplified)" = 0x1 ]

# --- A reinstallation before the restart that a removal asked for ---
kept_run "$WORK/quebec.msi" /x
start_wizard "$WORK/v54.msi"
check "refusal 1102: its box and then its end text" \
  box_then_end OK "you have not rebooted since last uninstalling" "you have not rebooted since last uninstalling"
wizard_done
check "the refused run installs nothing" all expect_rc 1603 -- [ ! -e "$(client_dir)/bin/tamber.dll" ]
walk_finish
