#!/usr/bin/env bash
# check-stdcall.sh OBJECT...: on x86, the installer calls each handler as
# __stdcall with one MSIHANDLE, and rundll32 calls SetServicesStartTypeAuto2
# as __stdcall with (HWND, HINSTANCE, LPSTR, int). The objects' symbols carry
# that convention: "_Name@bytes" for __stdcall, a bare "_Name" for __cdecl,
# which the .def file would export just the same and which would then leave
# its argument on the caller's stack.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# CMake hands the target's objects over as one ';'-separated list.
IFS=';' read -ra objects <<<"$*"
symbols=$(i686-w64-mingw32-nm -g --defined-only "${objects[@]}" 2>/dev/null | awk '$2 == "T" { print $3 }')

passed=0; failed=0
while read -r name rest; do
  [ -n "$name" ] || continue
  [ "$rest" = DATA ] && continue
  bytes=4
  [ "$name" = SetServicesStartTypeAuto2 ] && bytes=16
  if grep -qxF "_$name@$bytes" <<<"$symbols"; then passed=$((passed+1))
  else
    failed=$((failed+1))
    echo "FAIL: $name is not __stdcall with $bytes bytes of parameters: $(grep -E "^_$name(@[0-9]+)?\$" <<<"$symbols" || echo 'not defined')"
  fi
done < <(sed -n '/^EXPORTS/,$p' "$here/src/tamber.def" | tail -n +2)
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
