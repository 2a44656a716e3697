#!/usr/bin/env bash
# The tools that walk the installer's dialogs, proven on a tiny package of
# their own (ui_driver/): its own display, and uidriver playing the person
# through a welcome dialog, a spawned cancel question, an options dialog
# with a folder field, a radio group and a check box, and the engine's
# warning box. The
# screenshots stay in $WORK (someone looked at them: each shows its dialog,
# title bar included).
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/display.sh"

ui() { wine "$BUILD/tools/uidriver.exe" "$@" 2>>"$WORK/uidriver.err" | tr -d '\r'; }
welcome="Welcome to Tiny Dialogs"; options="Tiny Dialogs options"; question="Cancel Tiny Dialogs?"

# wixl writes no dialog tables: they come from the .idt files, the rows of
# existing tables from rows.sql.
tiny_package() {
  local out=$1 idt query
  (cd "$SRC/tests/e2e/ui_driver" && wixl -a x64 -o "$out" tiny.wxs) 2>/dev/null || return 1
  for idt in "$SRC"/tests/e2e/ui_driver/*.idt; do msibuild "$out" -i "$idt" || return 1; done
  while IFS= read -r query; do msibuild "$out" -q "$query" || return 1; done <"$SRC/tests/e2e/ui_driver/rows.sql"
}
tiny_package "$WORK/tiny.msi" || { echo "FAIL: package build"; exit 1; }

# start_install: msiexec with its full user interface, in the background.
start_install() {
  wine msiexec /i "$(winepath -w "$WORK/tiny.msi")" /l*v "$(winepath -w "$WORK/msi.log")" >/dev/null 2>&1 &
  installer=$!
}
# finish_install: the installer's exit code in $rc, or "hung" after 60 s.
finish_install() {
  local i hung=no
  for i in $(seq 600); do kill -0 "$installer" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$installer" 2>/dev/null; then hung=yes; wineserver -k; fi
  wait "$installer"; rc=$?
  [ "$hung" = no ] || rc=hung
  ended=$(date +%s%N)
  wineserver -w
}
logged() { grep -aqxF "$1" <(tr -d '\r' <"$WORK/msi.log"); }
installed() { [ -f "$WINEPREFIX/drive_c/$1/readme.txt" ]; }
not() { ! "$@"; }
# reach TITLE: the walk goes on only once that dialog shows (each later step
# would wait its full time for nothing).
reach() {
  if ui wait "$1"; then passed=$((passed+1)); return 0; fi
  echo "FAIL: the dialog \"$1\" did not show"; failed=$((failed+1))
  sed 's/^/uidriver said: /' "$WORK/uidriver.err"
  finish
}
# A screenshot of a dialog, not of an empty screen: more than a few colours.
pictured() { [ "$(identify -format %k "$1" 2>/dev/null || echo 0)" -gt 8 ]; }
# shows TEXTS CLASS STATE TEXT: the control is among the lines of `ui texts`.
shows() { local texts=$1 IFS=$'\t'; shift; grep -qxF -- "$*" <<<"$texts"; }

# A run that the person cancels: the question comes as a dialog of its own,
# on top of the one it came from; "Yes" ends the run as a user exit (1602).
start_install
reach "$welcome"
ui click Cancel
reach "$question"
check "the question is the current dialog while its parent still shows" \
  all [ "$(ui title)" = "$question" ] -- ui --timeout 1 wait "$welcome"
screenshot "$WORK/question.png"
ui click Yes
finish_install
check "the cancelled run ends as a user exit" expect_rc 1602
check "and installs nothing" not installed "Program Files/Tiny"

# The whole walk.
started=$(date +%s%N)
start_install
reach "$welcome"
titles=$(ui title)
check "the welcome text is deformatted by the engine" \
  shows "$(ui texts)" Static - "This installs Tiny Dialogs on your computer."
screenshot "$WORK/welcome.png"
ui click Cancel; reach "$question"; titles+=$'\n'$(ui title)
ui click No
check "No takes the question away" ui gone "$question"
titles+=$'\n'$(ui title)
check "a button that is not there fails, naming the current dialog" \
  all not ui --timeout 1 click Finish -- grep -qF "current dialog \"$welcome\"" "$WORK/uidriver.err"

ui click Next
reach "$options"
check "Next took the welcome dialog away" ui gone "$welcome"
titles+=$'\n'$(ui title)
before=$(ui texts)
check "the folder field shows INSTALLDIR, Plain is preset, the box is clear" all \
  shows "$before" Edit - 'C:\Program Files\Tiny\' -- shows "$before" Button checked Plain -- \
  shows "$before" Button - "Leave a note"
ui type 1 'C:\First'
check "the first edit field takes a folder" shows "$(ui texts)" Edit - 'C:\First'
check "the field found by its label takes the typed folder" ui type Folder: 'C:\Typed Here\Tiny'
check "the radio button takes the choice" ui check Spiced
check "the check box ticks" ui check "Leave a note"
ui uncheck "Leave a note"
check "and clears again" shows "$(ui texts)" Button - "Leave a note"
ui check "Leave a note"
after=$(ui texts)
check "the dialog shows the folder and the choices" all shows "$after" Edit - 'C:\Typed Here\Tiny' -- \
  shows "$after" Button checked Spiced -- shows "$after" Button - Plain -- shows "$after" Button checked "Leave a note"
screenshot "$WORK/options.png"
ui click Install

# The engine's warning box (MB_YESNO, second button default), as a package
# action raises it with MsiProcessMessage.
reach "Windows Installer"
titles+=$'\n'$(ui title)
check "the warning box shows its text" shows "$(ui texts)" Static - "Really spice it?"
screenshot "$WORK/box.png"
check "the box is answered by its title" ui --dialog "Windows Installer" click No
finish_install
echo "walk: $(( (ended - started) / 1000000 )) ms from msiexec's start to its end"

check "the dialogs came in order" [ "$titles" = "$welcome
$question
$welcome
$options
Windows Installer" ]
check "the run succeeds" expect_rc 0
check "the file went into the typed folder, not the default one" \
  all installed "Typed Here/Tiny" -- not installed "Program Files/Tiny"
check "the engine took the typed folder" logged 'Property(S): INSTALLDIR = C:\Typed Here\Tiny\'
check "the engine took the radio choice" logged 'Property(S): FLAVOUR = spiced'
check "the engine took the ticked box" logged 'Property(S): NOTE = 1'
check "the box's answer was No (7)" logged 'Property(S): SPICE_ANSWER = 7'
check "every screenshot shows a picture" all pictured "$WORK/welcome.png" -- pictured "$WORK/question.png" -- \
  pictured "$WORK/options.png" -- pictured "$WORK/box.png"
[ "$failed" -eq 0 ] || sed 's/^/uidriver said: /' "$WORK/uidriver.err"
finish
