# The x86 and x64 packages differ only in the custom-action library they
# carry: same actions, same sequences, same Binary rows and contents, the
# same locked installation directory.
source "$TAMBER_SRC/tests/e2e/lib.sh"

x86=$WORK/varnet-x86.msi x64=$WORK/varnet-x64.msi
build_package x86 "$x86" >/dev/null 2>&1
build_package x64 "$x64" >/dev/null 2>&1
check "both packages were built" test -s "$x86" -a -s "$x64"

# A table's rows, sorted; the three header lines (names, types, key) first.
table() {
  local rows; rows=$(msiinfo export "$1" "$2" 2>/dev/null | tr -d '\r')
  head -3 <<<"$rows"; tail -n +4 <<<"$rows" | sort
}
# A table's rows alone, sorted.
rows() { msi_table "$@" | sort; }
# At least the header and one row, and the same in both packages.
same_table() {
  local a b
  a=$(table "$x86" "$1"); b=$(table "$x64" "$1")
  [ "$(wc -l <<<"$a")" -gt 3 ] && [ "$a" = "$b" ]
}
for t in CustomAction InstallExecuteSequence InstallUISequence CreateFolder LockPermissions; do
  check "the $t rows are the same" same_table "$t"
done
check "every handler is a custom action of TamberDll" \
  test "$(rows "$x64" CustomAction | cut -f3 | sort -u)" = TamberDll

# The engine gives LocalSystem full control of a locked folder itself.
check "INSTALLDIR is created by its component and locked: Administrators full control, Everyone read and execute" \
  all test "$(rows "$x64" CreateFolder)" = $'INSTALLDIR\tClientRoot' -- \
  test "$(rows "$x64" LockPermissions)" = \
    $'INSTALLDIR\tCreateFolder\t\tAdministrators\t268435456\nINSTALLDIR\tCreateFolder\t\tEveryone\t-1610612736'

binary_names() { rows "$1" Binary | cut -f1; }
check "the Binary row names are the same" \
  test -n "$(binary_names "$x86")" -a "$(binary_names "$x86")" = "$(binary_names "$x64")"

same_stream() { [ -s "$WORK/x86/$1" ] && cmp -s "$WORK/x86/$1" "$WORK/x64/$1"; }
mkdir -p "$WORK/x86" "$WORK/x64"
for name in $(binary_names "$x64"); do
  msiinfo extract "$x86" "Binary.$name" > "$WORK/x86/$name" 2>/dev/null
  msiinfo extract "$x64" "Binary.$name" > "$WORK/x64/$name" 2>/dev/null
  [ "$name" = TamberDll ] && continue
  check "Binary $name has the same contents in both" same_stream "$name"
done

# pe_kind FILE: the COFF machine and the optional header's magic, in hex.
pe_kind() {
  local at
  at=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$at" ] && [ "$(od -An -c -j"$at" -N4 "$1" | tr -d ' ')" = 'PE\0\0' ] || return
  echo "$(od -An -tx2 -j$((at + 4)) -N2 "$1" | tr -d ' ') $(od -An -tx2 -j$((at + 24)) -N2 "$1" | tr -d ' ')"
}
check "the x86 package's TamberDll is PE32 for i386" test "$(pe_kind "$WORK/x86/TamberDll")" = "014c 010b"
check "the x64 package's TamberDll is PE32+ for x86-64" test "$(pe_kind "$WORK/x64/TamberDll")" = "8664 020b"
own_builds() { cmp -s "$WORK/x86/TamberDll" "$SRC/build/x86/tamber.dll" && cmp -s "$WORK/x64/TamberDll" "$SRC/build/x64/tamber.dll"; }
check "each package carries its own build of the library" own_builds

finish
