#!/usr/bin/env bash
# The sample package's dialogs checked as the installer's validation would:
# events name dialogs and arguments that exist, every tab order closes on
# itself, a dialog's first, default and cancel controls are its own, and
# Next and Back follow only the dt_XY flow properties.
source "$(dirname "$0")/lib.sh"

sample_package "$WORK/varnet.msi" || { echo "FAIL: package build"; exit 1; }
table() { msi_table "$WORK/varnet.msi" "$1"; }
table Dialog >"$WORK/Dialog"; table Control >"$WORK/Control"; table ControlEvent >"$WORK/ControlEvent"
table InstallUISequence >"$WORK/Sequence"

# problems AWK-ARGS...: what the awk program prints, joined with ';'.
problems() { awk -F'\t' "$@" | sort -u | tr '\n' ';'; }

bad=$(problems 'FILENAME ~ /Dialog$/ { dialog[$1] = 1; next }
  FILENAME ~ /Control$/ { control[$1 "/" $2] = 1; next }
  !(($1 "/" $2) in control) { print $1 "/" $2 ": no such control" }
  ($3 == "NewDialog" || $3 == "SpawnDialog") && !($4 in dialog) { print $1 "/" $2 ": " $3 " " $4 }
  $3 == "EndDialog" && $4 !~ /^(Exit|Retry|Ignore|Return|Error(Abort|Cancel|Ignore|No|Ok|Retry|Yes))$/ { print $1 "/" $2 ": EndDialog " $4 }' \
  "$WORK/Dialog" "$WORK/Control" "$WORK/ControlEvent")
check "every event names a control, a dialog or an argument that exists (${bad:-ok})" [ -z "$bad" ]

bad=$(problems 'FILENAME ~ /Control$/ { control[$1 "/" $2] = 1; next }
  { for (i = 8; i <= 10; i++) if ($i != "" && !(($1 "/" $i) in control)) print $1 ": " $i }' "$WORK/Control" "$WORK/Dialog")
check "first, default and cancel controls belong to their dialog (${bad:-ok})" [ -z "$bad" ]

bad=$(problems 'FILENAME ~ /Dialog$/ { first[$1] = $8; next }
  $11 != "" { next_of[$1 "/" $2] = $11; in_order[$1 "/" $2] = 1 }
  END {
    for (d in first) {
      c = first[d]; n = 0
      do { seen[d "/" c] = 1; c = next_of[d "/" c]; n++ } while (c != "" && c != first[d] && n < 100)
      if (c != first[d]) print d ": the tab order does not return to " first[d]
    }
    for (k in in_order) if (!(k in seen)) print k ": in no closed tab order"
  }' "$WORK/Dialog" "$WORK/Control")
check "every tab order closes on itself (${bad:-ok})" [ -z "$bad" ]

# The flow: from the wizard dialog at position i, Next goes to each later
# dialog j exactly when dt_ij is 1, and Back to each earlier one.
wizard="W:WelcomeDlg L:LicenseDlg D:DestinationDlg M:MaintenanceDlg S:EditionDlg R:ReadyDlg"
expected=$(i=0; for xa in $wizard; do j=0; for yb in $wizard; do
    x=${xa%%:*} y=${yb%%:*}
    if [ $j -gt $i ] && [ "$x" != R ]; then echo "${xa#*:} Next ${yb#*:} dt_$x$y=\"1\""; fi
    if [ $j -lt $i ]; then echo "${xa#*:} Back ${yb#*:} dt_$x$y=\"1\""; fi
    j=$((j+1)); done; i=$((i+1)); done | sort)
actual=$(awk -F'\t' '$3 == "NewDialog" && $1 ~ /^(Welcome|License|Destination|Maintenance|Edition|Ready)Dlg$/ {
  print $1 " " $2 " " $4 " " $5 }' "$WORK/ControlEvent" | sort)
check "Next and Back follow only the flow properties" [ "$actual" = "$expected" ]
check "the wizard starts at the welcome dialog, after OnBegin and before the prologue" \
  awk -F'\t' '$1=="OnBegin"{b=$3} $1=="WelcomeDlg"{w=$3} $1=="OnFirstBefore"{p=$3} END{exit !(b < w && w < p)}' "$WORK/Sequence"
check "the end dialogs are in the sequence" \
  [ "$(awk -F'\t' '$3 < 0 {print $3 "=" $1}' "$WORK/Sequence" | sort | tr '\n' ' ')" = "-1=ExitDlg -2=UserExitDlg -3=FatalErrorDlg " ]
props=$(table Property)
check "the engine's font is named" grep -qxP 'DefaultUIFont\tDlgFont8' <<<"$props"
check "the engine's error dialog is named" grep -qxP 'ErrorDialog\tErrorDlg' <<<"$props"
finish
