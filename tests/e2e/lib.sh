# Helpers for end-to-end runs: sourced by the scripts in this folder, which
# tests/wine-run starts inside a fresh Wine prefix.
set -uo pipefail

SRC=${TAMBER_SRC:?run through tests/wine-run}
BUILD=${1:?usage: $0 BUILD_DIR}
WORK=$WINEPREFIX/e2e
mkdir -p "$WORK"

passed=0; failed=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then passed=$((passed+1)); else failed=$((failed+1)); echo "FAIL: $what"; fi
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit $?
}

build_package() { "$SRC/scripts/build-package" "$@"; }

# install PACKAGE.msi [PROPERTY=VALUE ...]: runs the package through the engine
# with a verbose log in $WORK/msi.log, waits for every Wine process to end and
# leaves the engine's full result in $rc.
install() {
  local pkg; pkg=$(winepath -w "$1"); shift
  local out
  out=$(wine "$BUILD/tools/msirun.exe" /log "$(winepath -w "$WORK/msi.log")" "$pkg" "$@" | tr -d '\r')
  wineserver -w
  rc=$(sed -n 's/^msirun: result //p' <<<"$out")
  rc=${rc:-none}
}

unix_path() { winepath -u "$1" 2>/dev/null; }
temp_dir() { unix_path "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')"; }
install_log() { echo "$(temp_dir)/HVInstLog/install_varnet_R33.elg"; }
# The log's lines without their time stamps.
log_messages() { sed -e 's/\r$//' -e 's/^<[^>]*> //' "$(install_log)" 2>/dev/null; }
has_line() { log_messages | grep -qxF -- "$1"; }
