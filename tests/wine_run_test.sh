#!/usr/bin/env bash
# tests/wine-run itself: a crash anywhere in a test's prefix fails the test,
# and no process of the prefix outlives the test, however it ends.
# Usage: wine_run_test.sh BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: $0 BUILD_DIR}
root=${TAMBER_WINE_ROOT:-$here/build/wine}
standin=$build/tools/service_standin.exe  # runs two minutes; with "crash" it faults
run=$here/tests/wine-run
# The architecture's own Wine, as wine-run takes it; none here: not run.
source "$here/tests/wine-arch"
tamber_wine_arch "$root" || exit
p=${tamber_arch}_  # both architectures' runs may go on at once

passed=0; failed=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then passed=$((passed+1)); else failed=$((failed+1)); echo "FAIL: $what"; fi
}

# The processes started with the prefix NAME (its wineserver included), by
# their environment. Other suites may run the same programs beside us.
of_prefix() { grep -lzxF "WINEPREFIX=$root/t/$1" /proc/[0-9]*/environ 2>/dev/null; }
nothing_left() { [ -z "$(of_prefix "$1")" ]; }
standin_runs() {
  local f
  for f in $(of_prefix "$1"); do
    grep -qaF service_standin.exe "${f%/environ}/cmdline" 2>/dev/null && return 0
  done
  return 1
}
has() { grep -qF -- "$1" <<<"$2"; }

# A run that ends well: Wine starts its services in the prefix, and they end with it.
out=$("$run" ${p}wine_run_plain wine cmd /c echo plain run 2>&1); rc=$?
check "a plain run passes" test "$rc" = 0
check "a plain run says nothing of crashes" bash -c '! grep -q "wine-run: FAIL" <<<"$1"' _ "$out"
check "a plain run leaves nothing" nothing_left ${p}wine_run_plain

# The test's own process crashes.
out=$("$run" ${p}wine_run_crash wine "$standin" crash 2>&1); rc=$?
check "a crash fails the run" test "$rc" != 0
check "a crash is named by its note" has "wine-run: FAIL: a process crashed in this test's prefix: process " "$out"
check "a crash is named by Wine's words" has "wine-run: FAIL: Wine reported: wine: Unhandled page fault" "$out"
check "a crash leaves nothing" nothing_left ${p}wine_run_crash

# A crash whose output goes nowhere, in a process the test started and then
# went on without: only the note can tell.
out=$("$run" ${p}wine_run_quiet bash -c "wine '$standin' crash >/dev/null 2>&1; echo went on" 2>&1); rc=$?
check "a silent crash fails the run" test "$rc" != 0
check "a silent crash is named" has "wine-run: FAIL: a process crashed in this test's prefix" "$out"
check "the test went on after the silent crash" has "went on" "$out"
check "a silent crash leaves nothing" nothing_left ${p}wine_run_quiet

# Wine's line for a call it cannot make fails the run, but for the two that
# Wine's own msi.dll makes in its custom action server.
call() { echo "wine: Call from 000000017000ABCD to unimplemented function $1, aborting" >&2; }
out=$("$run" ${p}wine_run_lines bash -c "$(declare -f call); call rpcrt4.dll.NdrClientInitializeNew;
  call rpcrt4.dll.I_RpcExceptionFilter; call kernel32.dll.NoSuchCall" 2>&1); rc=$?
check "a call Wine cannot make fails the run" test "$rc" != 0
check "that call is named" has "wine-run: FAIL: Wine reported: wine: Call from 000000017000ABCD to unimplemented function kernel32.dll.NoSuchCall" "$out"
check "msi's two calls are let through" bash -c '! grep -q "FAIL.*rpcrt4" <<<"$1"' _ "$out"
out=$("$run" ${p}wine_run_msi_lines bash -c "$(declare -f call); call rpcrt4.dll.NdrClientInitializeNew;
  call rpcrt4.dll.I_RpcExceptionFilter" 2>&1); rc=$?
check "msi's two calls alone do not fail the run" test "$rc" = 0

# A process the test started and left running ends with the test, well
# before its own two minutes.
out=$("$run" ${p}wine_run_left bash -c "wine '$standin' & sleep 5; echo left at \$(date +%s)" 2>&1); rc=$?
ended=$(date +%s)
check "a run that left a process passes" test "$rc" = 0
check "a process left running ends with the test" nothing_left ${p}wine_run_left
left=$(sed -n 's/^left at //p' <<<"$out")
check "the test did not wait for it" test $((ended - ${left:-0})) -lt 60

# Killed outright, as ctest's timeout does: wine-run and every process below
# it get SIGKILL. Wine detaches the processes it starts itself (start.exe
# here), so those are not below it, and the prefix must still end.
kill_tree() {
  local child
  for child in $(pgrep -P "$1"); do kill_tree "$child"; done
  kill -KILL "$1" 2>/dev/null
}
"$run" ${p}wine_run_killed bash -c "wine start /unix '$standin'; sleep 300" >/dev/null 2>&1 &
runner=$!
for _ in $(seq 120); do standin_runs ${p}wine_run_killed && break; sleep 1; done
check "the killed run had started its process" standin_runs ${p}wine_run_killed
sleep 5  # past start.exe's own end
{ kill_tree "$runner"; wait "$runner"; } 2>/dev/null
for _ in $(seq 30); do nothing_left ${p}wine_run_killed && break; sleep 1; done
check "a killed run leaves nothing" nothing_left ${p}wine_run_killed

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
