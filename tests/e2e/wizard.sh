# Walking the sample package's dialogs on the test's display, as a person
# would: sourced after lib.sh and display.sh. The wizard's dialogs are named
# by their letters W, L, D, M, S, R; $path collects the letters of the
# dialogs seen, in order.
setup="Tessel-1 Setup: "
letter() {
  case ${1#"$setup"} in
    Welcome) echo W ;; "Licence Agreement") echo L ;; "Destination Folder") echo D ;;
    "Upgrade or Overwrite") echo M ;; Edition) echo S ;; "Ready to Install") echo R ;; *) echo "[$1]" ;;
  esac
}
current() { letter "$(ui title)"; }

# start_wizard PACKAGE [PROPERTY=VALUE...]: msiexec with its full user
# interface in the background, its verbose log in $WORK/msi.log.
start_wizard() {
  local pkg=$1; shift
  : >"$WORK/uidriver.err"
  wine msiexec /i "$(winepath -w "$pkg")" /l*v "$(winepath -w "$WORK/msi.log")" "$@" >/dev/null 2>&1 &
  installer=$!
  path=""
}
# at_welcome: the wizard's first dialog is up.
at_welcome() { ui --timeout 60 wait "${setup}Welcome" && path=W; }
# press BUTTON: press it on the current dialog and note the dialog it leads to.
press() {
  local before
  before=$(ui title) && ui click "$1" && ui gone "$before" || return 1
  path+=$(current)
}
# forward [LETTER]: Next from dialog to dialog up to R (or LETTER), answering each as the
# variables say: the licence is accepted; $folder is typed on D; $mode
# (upgrade|overwrite) is chosen on M and $edition (Varnet|Varguard) on S
# when set.
forward() {
  local steps=0
  while [ "${path: -1}" != "${1:-R}" ] && [ $steps -lt 8 ]; do
    case ${path: -1} in
      L) ui check "I accept the terms of the licence agreement" || return 1 ;;
      D) [ -z "${folder:-}" ] || ui type 1 "$folder" || return 1 ;;
      M) [ -z "${mode:-}" ] || ui check "$(mode_text "$mode")" || return 1 ;;
      S) [ -z "${edition:-}" ] || ui check "$(edition_text "$edition")" || return 1 ;;
    esac
    press "Next >" || return 1
    steps=$((steps + 1))
  done
}
backward() { while [ "${path: -1}" != W ]; do press "< Back" || return 1; done; }
mode_text() { case $1 in upgrade) echo "Upgrade: keep the settings of the installed client" ;;
  overwrite) echo "Overwrite: replace them with the settings of this package" ;; esac; }
edition_text() { case $1 in Varnet) echo "Varnet: the remote-access client" ;;
  Varguard) echo "Varguard: the client with desktop security" ;; esac; }
# texts_hold GREP-ARGS...: the current dialog's texts hold a matching line,
# asked again for up to 5 s: a dialog can show before the installer has set
# its controls, and one `wine` call on a loaded machine can come back empty.
texts_hold() {
  local i
  for i in 1 2 3 4 5 6 7 8 9 10; do
    grep -q "$@" <<<"$(ui texts)" && return 0
    sleep 0.5
  done
  { echo "no line ${*: -1} among the dialog's texts:"; ui texts; } >>"$WORK/uidriver.err"
  return 1
}
# selected TEXT: the radio button or check box TEXT is set on the current dialog.
selected() { texts_hold -xF -- "Button	checked	$1"; }
# shown TEXT: the current dialog (or box) shows a static text TEXT.
shown() { texts_hold -F -- "$1"; }

# install_from_ready: Install on R, then Finish on the end dialog.
install_from_ready() {
  ui click Install && ui --timeout 240 wait "${setup}Completed" && ui click Finish
}
# cancel_wizard: Cancel, Yes on the question, Finish on the interrupted dialog.
cancel_wizard() {
  ui click Cancel && ui wait "${setup}Cancel" && ui click Yes &&
    ui wait "${setup}Interrupted" && ui click Finish
}
# wizard_done: msiexec's exit code in $rc (8 bits), or "hung" after 120 s.
wizard_done() {
  local i
  for i in $(seq 1200); do kill -0 "$installer" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$installer" 2>/dev/null; then wineserver -k; wait "$installer"; rc=hung; else wait "$installer"; rc=$?; fi
}
# walk_finish: the counts, with what the driver said when a check failed.
walk_finish() {
  [ "$failed" -eq 0 ] || sed 's/^/uidriver: /' "$WORK/uidriver.err"
  finish
}
