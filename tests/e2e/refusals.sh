# Silent first installations that the library refuses: each ends with 1603,
# the message in the log and as the final dialog's error text, and nothing of
# the client installed. All run in this prefix, one after the other, each
# condition taken away before the next; a last run with them gone installs.
source "$TAMBER_SRC/tests/e2e/lib.sh"

build_package "$ARCH" "$WORK/varnet.msi" >/dev/null 2>&1
check "the package was built" test -s "$WORK/varnet.msi"

msg_1100='Varguard does not support this Operating System.'
msg_1102='You cannot run the installation because you have not rebooted since last uninstalling this product.
'
msg_1104='This version of Halvora Tessel-1 Varnet/Varguard is not compatible with Tessel-1 & Bastide-1 QV.
Please remove Tessel-1 & Bastide-1 QV and then reinstall Halvora Tessel-1 Varnet/Varguard .
The installation will now terminate.'
msg_1105='This version of Halvora Tessel-1 Varnet/Varguard is not compatible with Ebbtide-1 QV.
Please remove Ebbtide-1 QV and then reinstall Halvora Tessel-1 Varnet/Varguard .
The installation will now terminate.'
msg_1108='There is insufficient space available on the selected disk. Please free some space on this drive and run the installation again.
This installation will now terminate.'
msg_1109='Illegal destination drive. Installation should be on a fixed drive only.
This installation will now terminate.'

log_file=$(install_log) || exit 1
uninstall_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Varnet_UnInstall'
run_once_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\RunOnce'

# Each run starts with no install log and no tool calls of its own.
install_fresh() {
  rm -f "$log_file" "$WINEPREFIX/drive_c/tamber_calls.txt"
  msiexec_install "$WORK/varnet.msi" "$@"
}

# The log as one line, line breaks as \001, so that texts with line breaks
# can be found whole. grep -q stops reading early; in a pipeline under
# pipefail the writer's SIGPIPE would decide the result, so these search
# captured text.
log_holds() { grep -qF -- "$(printf '%s' "$1" | tr '\n' '\001')" <<<"$(log_messages | tr '\n' '\001')"; }
log_lacks() { ! log_holds "$1"; }
no_banner_of() { ! grep -q "^$1 " <<<"$(banners)"; }
box_skipped() {
  log_holds "<ShowMsgBox> $1
" && has_line "<ShowMsgBox> method is disabled because we are in silent mode. uType is: $2"
}
nothing_installed() {
  [ ! -e "$(client_dir)" ] && reg_key_gone 'HKLM\SOFTWARE\Halvora\Varnet' && [ -z "$(calls 2>/dev/null)" ]
}

# refused WHAT TEXT MB_TYPE: the checks every refusal shares.
refused() {
  local what=$1 text=$2 type=$3
  check "$what: the run ends with 1603 (got $rc)" expect_rc 1603
  check "$what: the message is logged, its box skipped as the run is silent" box_skipped "$text" "$type"
  check "$what: the message is the final dialog's error text" \
    log_holds "<SetProperty> SetProperty >> key=ID_FINISH_ERROR_STRING $(printf '\t') value=$text
"
  check "$what: OnFirstAfter never ran" no_banner_of OnFirstAfter
  check "$what: nothing of the client is installed" nothing_installed
}

# --- 1100: Windows NT 4.0, and 98 (not NT, so no version is read) ---
unsupported() {  # WINE_VERSION "MAJOR.MINOR service pack: N" as logged
  set_winver "$1"
  install_fresh
  refused "$1" "$msg_1100" 0x10
  check "$1: the version is logged" has_line "<OnBegin> Running on Windows version: $2."
  check "$1: OnBegin stops before the package settings, without its end banner" \
    test "$(banners | tr '\n' '|')$(log_lines 'Setting Product.ini')" = 'OnBegin started|'
}
unsupported nt40 '4.0 service pack: 6'
unsupported win98 '0.0 service pack: 0'
wine reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null 2>&1
wineserver -w

# --- 1109: the destination is on a CD-ROM drive ---
mkdir -p "$WORK/cdrom"
ln -sfn "$WORK/cdrom" "$WINEPREFIX/dosdevices/r:"
wine reg add 'HKLM\Software\Wine\Drives' /v r: /d cdrom /f >/dev/null 2>&1
wineserver -k; wineserver -w  # drive types are read when Wine starts
# wmic reports GetDriveType's answer: 5 is a CD-ROM, 3 a fixed drive.
drive_type() {
  wine wmic logicaldisk get name,drivetype 2>/dev/null | iconv -f UTF-16LE -t UTF-8 2>/dev/null |
    tr -d '\r' | awk -v d="$1" '$2==d {print $1}'
}
check "Wine reports R: as a CD-ROM drive (DriveType $(drive_type R:))" test "$(drive_type R:)" = 5
install_fresh 'INSTALLDIR=R:\Varnet\'
refused "CD-ROM destination" "$msg_1109" 0x10
check "CD-ROM destination: the drive check says false" \
  has_line '<CheckDriveIsValid> CheckDriveIsValid: result for drive <R:\> = false.'
check "CD-ROM destination: no space check follows" log_lacks '<CheckDiskSpace>'
check "CD-ROM destination: OnFirstBefore still ends" has_line '<OnFirstBefore> Function ended'
check "CD-ROM destination: nothing was written to R:" test -z "$(ls -A "$WORK/cdrom")"

# --- 1108: a fixed drive with less than 40 MiB free ---
# A tmpfs of exactly 40 MiB, one page of it taken, as fixed drive T:.
mnt=$(mktemp -d /tmp/tamber-refusals.XXXXXX)
unmount() { wineserver -k 2>/dev/null; wineserver -w; umount "$mnt" 2>/dev/null; rmdir "$mnt" 2>/dev/null; }
trap unmount EXIT
mount -t tmpfs -o size=41943040 tmpfs "$mnt" && mounted=yes || mounted=no
check "a 40 MiB tmpfs can be mounted (needs root)" test $mounted = yes
if [ $mounted = yes ]; then
  head -c 4096 /dev/zero > "$mnt/taken"
  ln -sfn "$mnt" "$WINEPREFIX/dosdevices/t:"
  wine reg add 'HKLM\Software\Wine\Drives' /v t: /d hd /f >/dev/null 2>&1
  wineserver -k; wineserver -w
  check "Wine reports T: as a fixed drive" test "$(drive_type T:)" = 3
  free=$(stat -f -c '%f * %S' "$mnt"); free=$((free))
  check "T: has less than 40 MiB free ($free bytes)" test "$free" -lt 41943040
  install_fresh 'INSTALLDIR=T:\Varnet\'
  refused "too little space" "$msg_1108" 0x10
  check "too little space: the drive check passes first" \
    has_line '<CheckDriveIsValid> CheckDriveIsValid: result for drive <T:\> = true.'
  check "too little space: the log gives what is needed and what is free" \
    log_holds "<CheckDiskSpace> ERROR: not enough space on selected disk!!!  needed: 41943040 bytes, available: $free
<CheckDiskSpace> selected disk is identified by <T:\\>
"
  check "too little space: nothing was written to T:" test "$(ls "$mnt")" = taken
  rm -f "$WINEPREFIX/dosdevices/t:"
  wine reg delete 'HKLM\Software\Wine\Drives' /v t: /f >/dev/null 2>&1
  unmount
fi
trap - EXIT

# --- 1104: the firewall product, its version key present ---
wine reg add 'HKLM\SOFTWARE\Halvora\bd1' /v CurrentVersion /d 7.1 /f >/dev/null 2>&1
wine reg add 'HKLM\SOFTWARE\Halvora\bd1\7.1' /f >/dev/null 2>&1
install_fresh
refused "firewall product" "$msg_1104" 0x10
check "firewall product: the version and its key are logged" \
  log_holds "<CheckRequirements> CheckRequirements: BD1 version = 7.1
<CheckRequirements> BD1 version = 7.1 we found sub key with this version under SOFTWARE\\Halvora bd1 , bd1 exist on machine.
<CheckRequirements> BD1 exist on the machine - exit
"
check "firewall product: OnBeforeCommon gives up" \
  has_line '<OnBeforeCommon> Aborting installation because of failure in CheckRequirements'
check "firewall product: the drive is not even checked" log_lacks '<CheckDriveIsValid>'

# --- 1105: the bandwidth product; an empty key is enough. The firewall
# product's version stays, without its key, which must not block. ---
wine reg delete 'HKLM\SOFTWARE\Halvora\bd1\7.1' /f >/dev/null 2>&1
wine reg add 'HKLM\SOFTWARE\Halvora\et1' /f >/dev/null 2>&1
install_fresh
refused "bandwidth product" "$msg_1105" 0x10
check "bandwidth product: a firewall version without its key passes" \
  has_line '<CheckRequirements> BD1 version =  7.1 no sub key with this version was found under SOFTWARE\Halvora bd1 , bd1 does not exist.'
check "bandwidth product: it is named in the log" has_line '<CheckRequirements> ET1 exist on the machine - exit'
wine reg delete 'HKLM\SOFTWARE\Halvora\et1' /f >/dev/null 2>&1

# --- 1102: a removal still waits for its restart ---
wine reg add "$uninstall_key" /v IsUnInstall /d 1 /f >/dev/null 2>&1
wine reg add "$run_once_key" /v InstallShieldSetupForVN /d 'C:\windows\erase_VN.exe' /f >/dev/null 2>&1
install_fresh
refused "pending restart" "$msg_1102" 0x0
check "pending restart: the reason is logged" \
  has_line '<OnBegin> Aborting installation because reboot was not done after uninstall'
check "pending restart: OnBegin stops without its end banner, no prologue runs" \
  test "$(banners | tr '\n' '|')" = 'OnBegin started|'

# --- The same prefix with the conditions gone installs: the restart has run
# (Windows removed the RunOnce entry), only bd1's bare version is left. ---
wine reg delete "$run_once_key" /v InstallShieldSetupForVN /f >/dev/null 2>&1
install_fresh
check "without the conditions the installation succeeds (3010, got $rc)" expect_rc 3010
check "without the conditions OnFirstAfter runs to its end" has_line '<OnFirstAfter> Function ended'
check "without the conditions no finish error text is set" log_lacks 'key=ID_FINISH_ERROR_STRING'
check "without the conditions the requirements pass" \
  has_line '<CheckRequirements> Checking Requirements finish successfully.'
check "the installation clears the removal marker" test -z "$(reg_value "$uninstall_key" IsUnInstall)"
check "the client is installed" test -f "$(client_dir)/bin/VN_GUI.exe"

finish
