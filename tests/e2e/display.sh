# A display of the test's own: sourced after lib.sh by the scripts that show
# the installer's dialogs. Starts Xvfb on a free display, exports DISPLAY and
# stops the server when the script exits, however it exits.
#   screenshot FILE.png    the whole screen as it is now

_display_pid=
_display_stop() {
  [ -n "$_display_pid" ] || return 0
  # Wine's processes are the display's clients: end them first, or each
  # complains of the lost connection.
  [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null
  kill "$_display_pid" 2>/dev/null
  wait "$_display_pid" 2>/dev/null
  _display_pid=
}

trap _display_stop EXIT
# A signal ends the script through its EXIT trap.
trap 'exit 129' HUP; trap 'exit 130' INT; trap 'exit 143' TERM

# Xvfb picks a display number that no other server holds and writes it to
# the pipe (-displayfd) once it accepts connections.
start_display() {
  local fifo number=""
  fifo=$(mktemp -u "${TMPDIR:-/tmp}/display.XXXXXX")
  mkfifo "$fifo" || return 1
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  _display_pid=$!
  read -r -t 20 number <"$fifo"
  rm -f "$fifo"
  if [ -z "$number" ] || ! kill -0 "$_display_pid" 2>/dev/null; then
    _display_stop
    echo "display: Xvfb did not start" >&2
    return 1
  fi
  export DISPLAY=":$number"
  # Even a script killed outright (no trap runs) takes its server with it.
  local script=$$ server=$_display_pid
  (while kill -0 "$script" 2>/dev/null; do sleep 2; done; kill "$server" 2>/dev/null) </dev/null >/dev/null 2>&1 &
}

# ui COMMAND...: the person at the dialogs (tools/uidriver); what it says
# on failure goes to $WORK/uidriver.err.
ui() { wine "$BUILD/tools/uidriver.exe" "$@" 2>>"$WORK/uidriver.err" | tr -d '\r'; }

screenshot() {  # screenshot FILE.png
  import -display "$DISPLAY" -window root "$1" 2>/dev/null
}

start_display || { echo "FAIL: no display for the test"; exit 1; }
# There is no window manager: Wine's windows go unmanaged, so that Wine draws
# their title bars itself and does not wait 2 s for a manager to withdraw
# each window it hides (each change of dialog).
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
