#!/usr/bin/env bash
# Files a local user plants in the temporary directory, where the deferred
# handlers (SYSTEM on Windows) take their saved copies back from: a backup of
# entrust.ini on a machine without one, a backup of userc.c and the policy
# key's save file. None reaches the Windows directory, the client or the
# policy key, and the log names each. A maintenance run without planted
# files restores the policy key from its own save.
#
# Under Wine the one user runs everything and owns every file, so here the
# record of what the run saved decides. The planted files are read-only,
# which stops a run from deleting them (on Windows too). RegRestoreKey is a
# stub whose fixme line shows the call. One wineserver throughout: a new one
# is a restart.
source "$(dirname "$0")/lib.sh"

sample_package "$WORK/v52.msi" || { echo "FAIL: package build"; exit 1; }
tmp=$(temp_dir) || exit 1
wtmp="$(winepath -w "$tmp")\\"
entrust="$WINEPREFIX/drive_c/windows/entrust.ini"
dir=$(client_dir)
plant() { echo "$2" >"$tmp/$1" && chmod a-w "$tmp/$1"; }
refused() {  # refused RUN-LOG LABEL FILE
  grep -qxF "<$2> $3 in $wtmp was not saved by this run; it is not restored" <<<"$1"
}
# A run with the registry channel's fixme lines in $WORK/reg.out.
traced_run() {
  WINEDEBUG=-all,fixme+reg wine msiexec /qn "$@" "$(winepath -w "$WORK/v52.msi")" >"$WORK/reg.out" 2>&1
  rc=$?
}
restore_called() { grep -F 'RegRestoreKeyW' "$WORK/reg.out" | grep -qF 'policy.reg'; }
restore_not_called() { ! restore_called; }
wineserver -p

# --- A first installation finds a backup of entrust.ini it did not save ---
rm -f "$entrust"
plant BackupOfAnOldFile_entrust.ini '[planted]'
kept_run "$WORK/v52.msi" /i
check "installed" expect_rc 3010
check "the planted entrust.ini backup is not restored, and the log says so" \
  all [ ! -e "$entrust" ] -- refused "$(log_from 0)" BackupOldFile BackupOfAnOldFile_entrust.ini

# --- A maintenance run without planted files restores what it saved ---
chmod u+w "$tmp/BackupOfAnOldFile_entrust.ini" && rm "$tmp/BackupOfAnOldFile_entrust.ini"
wine reg add 'HKLM\SOFTWARE\Halvora\Varnet\5.0\policy' /v Rule1 /d allow-dns /f >/dev/null 2>&1
cp "$dir/database/userc.c" "$WORK/userc-installed.c"
echo 'user sites' >"$dir/database/userc.c"
mark=$(log_size)
traced_run /i
check "the maintenance run succeeds" expect_rc 3010
check "it restores the policy key from the copy it saved, then deletes that" all restore_called -- [ ! -e "$tmp/policy.reg" ]
check "it restores the user's userc.c" [ "$(tr -d '\r' <"$dir/database/userc.c")" = 'user sites' ]
check "it refuses nothing" lacks "it is not restored" "$(log_from "$mark")"

# --- One with a planted policy save and a planted userc.c backup ---
plant policy.reg 'planted policy'
plant BackupOfAnOldFile_userc.c 'planted sites'
mark=$(log_size)
traced_run /i
check "the maintenance run with planted files succeeds" expect_rc 3010
log=$(log_from "$mark")
check "the planted policy save is not restored, and the log says so" \
  all refused "$log" RestorePolicyKey policy.reg -- restore_not_called -- \
  [ "$(cat "$tmp/policy.reg")" = 'planted policy' ]
# The planted file holds the backup's name, so the user's copy could not be
# saved: the client keeps the package's.
check "the planted userc.c backup does not become the client's: it has the package's" \
  all refused "$log" BackupOldFile BackupOfAnOldFile_userc.c -- cmp -s "$dir/database/userc.c" "$WORK/userc-installed.c"

# --- The removal saves and restores entrust.ini too ---
plant BackupOfAnOldFile_entrust.ini '[planted]'
mark=$(log_size)
kept_run "$WORK/v52.msi" /x
check "removed" expect_rc 3010
check "the removal does not restore the planted entrust.ini backup either" \
  all [ ! -e "$entrust" ] -- refused "$(log_from "$mark")" BackupOldFile BackupOfAnOldFile_entrust.ini
wineserver -k
finish
