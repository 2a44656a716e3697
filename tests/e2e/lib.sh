# Helpers for end-to-end runs: sourced by the scripts in this folder, which
# tests/wine-run starts inside a fresh Wine prefix.
set -uo pipefail

SRC=${TAMBER_SRC:?run through tests/wine-run}
BUILD=${1:?usage: $0 BUILD_DIR}
# The architecture of the library and package under test (tests/wine-run
# gives the prefix its Windows and its Wine).
ARCH=${TAMBER_ARCH:-x64}
WORK=$WINEPREFIX/e2e
mkdir -p "$WORK"

passed=0; failed=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then passed=$((passed+1)); else failed=$((failed+1)); echo "FAIL: $what"; fi
}
# all CMD... -- CMD...: every command succeeds.
all() {
  local cmd=()
  while [ $# -gt 0 ]; do
    if [ "$1" = -- ]; then "${cmd[@]}" || return 1; cmd=(); else cmd+=("$1"); fi
    shift
  done
  "${cmd[@]}"
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
  exit $?
}

build_package() { "$SRC/scripts/build-package" "$@"; }

# install [/props FILE] [/ui reduced] PACKAGE.msi [PROPERTY=VALUE ...]: runs
# the package through the engine with a verbose log in $WORK/msi.log (and the
# command line kept in FILE), waits for every Wine process to end (unless the
# server is kept, see keep_server) and leaves the engine's full result in $rc.
install() {
  local props=()
  if [ "$1" = /props ]; then props=(/props "$(winepath -w "$2")"); shift 2; fi
  if [ "$1" = /ui ]; then props+=(/ui "$2"); shift 2; fi
  local pkg; pkg=$(winepath -w "$1"); shift
  local out
  out=$(wine "$BUILD/tools/msirun.exe" /log "$(winepath -w "$WORK/msi.log")" "${props[@]}" "$pkg" "$@" | tr -d '\r')
  # A kept server never ends, so waiting for it would never return.
  [ -n "${server_kept:-}" ] || wineserver -w
  rc=$(sed -n 's/^msirun: result //p' <<<"$out")
  rc=${rc:-none}
}

source "$SRC/tests/e2e/install_log.sh"
# The log's lines without their time stamps.
log_messages() { sed -e 's/\r$//' -e 's/^<[^>]*> //' "$(install_log)" 2>/dev/null; }
# (Not a pipe into grep -q: under pipefail an early exit fails the pipe.)
has_line() { grep -qxF -- "$1" <<<"$(log_messages)"; }
# lacks TEXT IN: no line of IN holds TEXT.
lacks() { ! grep -qF -- "$1" <<<"$2"; }

# --- The sample package ---

# set_winver win2k|winxp|win2003|vista|win7: the version this prefix reports.
set_winver() { "$SRC/tests/wine-version" "$1" || exit 1; }

# sample_package OUT.msi [Version=X.Y.Z] [Probe=yes] [settings...]: the
# sample package of the architecture under test; each setting KEY=VALUE replaces or adds a key of its
# product.ini.
sample_package() {
  local out=$1; shift
  local ini="$WORK/product-$(basename "$out" .msi).ini" kv build=()
  cp "$SRC/package/client/product.ini" "$ini"
  for kv in "$@"; do
    if [[ $kv == Version=* || $kv == Probe=* ]]; then build+=("$kv"); continue; fi
    sed -i "/^${kv%%=*}=/d" "$ini"
    echo "$kv" >> "$ini"
  done
  build_package "$ARCH" "$out" ProductIni="$ini" "${build[@]}" >/dev/null 2>&1
}
# msi_table PACKAGE TABLE: the table's rows, without the three header lines.
msi_table() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }
product_code() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' '$1=="ProductCode"{print $2}'; }

# Runs that must not restart the machine keep one wineserver (a new one is a
# restart under Wine: wineboot runs RunOnce).
keep_server() { wineserver -p; server_kept=1; }
# kept_run PKG MSIEXEC-ARGS...
kept_run() {
  local pkg; pkg=$(winepath -w "$1"); shift
  wine msiexec /qn "$@" "$pkg" >/dev/null 2>&1
  rc=$?
}
# A mark in the log: its line count now (0 before the first run).
log_size() { if [ -f "$(install_log)" ]; then wc -l <"$(install_log)"; else echo 0; fi; }
# The log after MARK, without time stamps (line breaks inside messages kept).
log_from() { tail -n +"$(($1 + 1))" "$(install_log)" | tr -d '\r' | sed 's/^<[^>]*> //'; }
# logged_after MARK LINE: LINE is a whole line of the log after MARK.
logged_after() { grep -qxF -- "$2" <<<"$(log_from "$1")"; }

# msiexec_install PACKAGE.msi [PROPERTY=VALUE ...]: a silent run through
# msiexec itself, verbose log in $WORK/msi.log. msiexec's exit code reaches
# Linux cut to 8 bits: compare with expect_rc.
msiexec_install() {
  local pkg; pkg=$(winepath -w "$1"); shift
  wine msiexec /qn /i "$pkg" /l*v "$(winepath -w "$WORK/msi.log")" "$@" >"$WORK/msiexec.out" 2>&1
  rc=$?
  wineserver -w
}
expect_rc() { [ "$rc" -eq $(( $1 % 256 )) ]; }

# A run whose settings choose another folder names it in client_folder.
client_dir() { echo "$WINEPREFIX/drive_c/${client_folder:-Program Files/Halvora/Varnet}"; }
# The stand-ins' call journal: name|command line|current directory|HV_MSI_INSTALLER
calls() { tr -d '\r' 2>/dev/null < "$WINEPREFIX/drive_c/tamber_calls.txt"; }
has_call() { grep -qF -- "$1" <<<"$(calls)"; }

# reg_value 'HKLM\KEY' NAME: the value's data as reg query prints it (the
# prefix's own view: the one its own reg.exe sees), empty when missing.
reg_value() {
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    awk -F'    ' -v n="$2" 'tolower($2) == tolower(n) { print $4; exit }'
}
reg_key_exists() { wine reg query "$1" >/dev/null 2>&1; }
# reg_key_gone 'HKLM\KEY': the parent's listing came back and lacks the key
# (a parent that is gone itself is asked of its own parent), so that a
# failed Wine call never counts as gone.
reg_key_gone() {
  local parent=${1%\\*} name=${1##*\\} listing
  [ "$parent" != "$1" ] || return 1
  if ! listing=$(wine reg query "$parent" 2>/dev/null | tr -d '\r'); then
    reg_key_gone "$parent"
    return
  fi
  # A key without values or subkeys lists nothing, not even its own name:
  # its parent's listing must then name it.
  if [ -z "$listing" ]; then _reg_key_listed "$parent" || return 1; fi
  ! _reg_names_subkey "$listing" "$name"
}
# _reg_key_listed 'HKLM\KEY': the parent's listing came back and names the key.
_reg_key_listed() {
  local parent=${1%\\*} listing
  [ "$parent" != "$1" ] || return 1
  listing=$(wine reg query "$parent" 2>/dev/null | tr -d '\r') && _reg_names_subkey "$listing" "${1##*\\}"
}
# _reg_names_subkey LISTING NAME: the first unindented line of a listing
# names its key; the ones after it, its subkeys.
_reg_names_subkey() {
  awk -v key="$2" '/^[^ ]/ { if (seen++) { n = $0; sub(/.*\\/, "", n); if (tolower(n) == tolower(key)) found = 1 } }
    END { exit !found }' <<<"$1"
}

# The section names of reg_ini_DB's blocks, in order, one per line (decoded
# by the journal inspector; each block's first record names its section's key).
journal_dump() { wine "$BUILD/tools/regdb_inspect.exe" "$(winepath -w "$(client_dir)/reg_ini_DB")" 2>/dev/null | tr -d '\r'; }
journal_blocks() { journal_dump | grep -c '^block '; }

# The log's lines for one label, without time stamps.
log_lines() { log_messages | grep -F -- "<$1> "; }
# The sections regInsertSection applied, in order.
applied_sections() { log_messages | sed -n 's/.*regInsertSection: WINI_FILE_NAME = .* SectionName=//p'; }
# The edition's configuration section that was applied: VN_ or VG_Configuration.
edition_section() { applied_sections | grep -x 'V[NG]_Configuration'; }
# The handler banners in order, "NAME started|ended" per line.
banners() { banners_in "$(log_messages)"; }

first_install_banners="OnBegin started
OnBegin ended
OnFirstBefore started
OnFirstBefore ended
OnExecuteStub started
OnExecuteStub ended
OnFirstAfter started
OnFirstAfter ended
OnInstallFinish started
OnInstallFinish ended"

# Windows puts a per-machine package's shortcuts into the common Programs
# folder, where the library looks for them; Wine's engine puts them into the
# user's. This moves them where Windows would have put them.
common_programs() { echo "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"; }
shortcuts_to_common_programs() {
  local user="$WINEPREFIX/drive_c/users/${USER:-root}/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
  [ -d "$user" ] || user=$(find "$WINEPREFIX/drive_c/users" -type d -path '*Start Menu/Programs' | grep -v Public | head -1)
  mkdir -p "$(common_programs)"
  local folder
  for folder in "$user"/Halvora\ Tessel-1\ *; do
    [ -d "$folder" ] && mv "$folder" "$(common_programs)/"
  done
  return 0
}
