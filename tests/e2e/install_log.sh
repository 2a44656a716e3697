# Where the library's install log is in the prefix WINEPREFIX, and the
# handler banners in it: sourced by lib.sh and by scripts/bench, and needs
# nothing else.

unix_path() { winepath -u "$1" 2>/dev/null; }
# The user's temporary directory, asked of Wine once (a loaded machine can
# make one `wine cmd` come back empty) and kept in the prefix. Without it
# every path below would point at / and negative log checks would pass: it
# fails loudly instead.
temp_dir() {
  local t i
  if [ ! -s "$WINEPREFIX/.tamber_temp_dir" ]; then
    for i in 1 2 3 4 5; do
      t=$(unix_path "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')")
      [ -n "$t" ] && [ -d "$t" ] && { echo "$t" >"$WINEPREFIX/.tamber_temp_dir"; break; }
      sleep 1
    done
  fi
  if [ ! -s "$WINEPREFIX/.tamber_temp_dir" ]; then
    echo "FAIL: Wine did not name its temporary directory" >&2
    return 1
  fi
  cat "$WINEPREFIX/.tamber_temp_dir"
}
install_log() { local t; t=$(temp_dir) || return 1; echo "$t/HVInstLog/install_varnet_R33.elg"; }
# banners_in LINES: the handler banners in LINES (time stamps taken off), in
# order, "NAME started|ended" per line. A banner line is followed by its
# rule of hashes (a handler's own "Function started" line is not).
banners_in() {
  awk 'prev ~ /^<[A-Za-z]+> Function (started|ended)$/ && /^<> #+$/ {
      sub(/^</, "", prev); sub(/> Function /, " ", prev); print prev } { prev = $0 }' <<<"$1"
}
