#!/usr/bin/env bash
# A repair that any user may start carries its own container and schedule on
# the command line: the execute side must build both again, so that nothing
# of a directory the user chose (its reg.ini, its tools) reaches the deferred
# handlers, which run as the system. A plain repair still repairs.
# Wine's msiexec has no /f by product code: the repair is REINSTALL=ALL.
source "$(dirname "$0")/lib.sh"

sample_package "$WORK/v52.msi" || { echo "FAIL: package build"; exit 1; }
evil="$WINEPREFIX/drive_c/evil"
client_key='HKLM\SOFTWARE\Halvora\Varnet'
repair_banners="OnBegin started OnBegin ended OnMaintPrologue started OnMaintPrologue ended OnExecuteStub started \
OnExecuteStub ended OnMaintBefore started OnMaintBefore ended OnMaintAfter started OnMaintAfter ended \
OnInstallFinish started OnInstallFinish ended "
banners_since() { banners_in "$(log_from "$1")" | tr '\n' ' '; }
calls_since() { calls | tail -n +$(($1 + 1)); }

install "$WORK/v52.msi"
check "installed (got $rc)" [ "$rc" = 3010 ]

# --- A copy of the client in C:\evil\ whose registry script writes a proof ---
cp -r "$(client_dir)" "$evil"
printf '[ALL]\r\nkey=SOFTWARE\\EvilProof\r\nname=Applied\r\ntype=REGDB_STRING\r\nvalue=yes\r\nsize=4\r\n' >"$evil/reg.ini"
printf '%s' 'REINSTALL=ALL REINSTALLMODE=omus ALLCADPROPS="[[INSTALLDIR=C:\evil\]]|[[UILevel=2]]|[[tamber_install_mode=new]]|" DCAFNNUM=1 DCAFN1=OnFirstAfter' \
  >"$WORK/forged.txt"
mark=$(log_size); calls_mark=$(calls | wc -l)
install /props "$WORK/forged.txt" "$WORK/v52.msi"
log=$(log_from "$mark")
check "the repair with a forged container succeeds (got $rc)" [ "$rc" = 3010 ]
check "it runs as a plain repair: OnBegin, the maintenance prologue and its routines" \
  [ "$(banners_since "$mark")" = "$repair_banners" ]
check "OnBegin lets the carried container go" \
  grep -qxF '<OnBegin> ALLCADPROPS held 3 entries before this run began; they are not taken' <<<"$log"
check "no registry script of C:\\evil\\ is applied" \
  all reg_key_gone 'HKLM\SOFTWARE\EvilProof' -- lacks 'C:\evil\reg.ini' "$log"
check "the tools ran, none of them from C:\\evil\\" \
  all [ -n "$(calls_since "$calls_mark")" ] -- lacks 'evil' "$(calls_since "$calls_mark" | tr 'A-Z' 'a-z')"
check "the handlers work on the installed directory" \
  all logged_after "$mark" '<OnMaintAfter> Target dir is: C:\Program Files\Halvora\Varnet\' -- lacks 'C:\evil' "$log"

# --- A plain repair puts back what the registry script writes ---
wine reg delete "$client_key" /v LogLevel /f >/dev/null 2>&1
mark=$(log_size)
install "$WORK/v52.msi" REINSTALL=ALL REINSTALLMODE=omus
check "a plain repair succeeds (got $rc)" [ "$rc" = 3010 ]
check "it runs the maintenance handlers" [ "$(banners_since "$mark")" = "$repair_banners" ]
check "it takes no container from before" lacks 'before this run began' "$(log_from "$mark")"
check "it writes the client's values again" \
  all [ "$(reg_value "$client_key" LogLevel)" = 0x1 ] -- \
      [ "$(reg_value "$client_key" InstallPath)" = 'C:\Program Files\Halvora\Varnet' ]
finish
