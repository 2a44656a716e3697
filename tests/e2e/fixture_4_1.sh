# What an installed Varguard 4.1 client leaves on a machine, laid down in the
# current Wine prefix. Sourced after lib.sh.
#
# fixture_4_1 [NAME=N ...]: the client with the DWORD values given added to
# its key (SSOEnabled=1, SDLEnabled=1; SLANEnabled=0 makes it a Varnet).
# Sets old41_win (its directory, as 4.1 recorded it), old41_dir (the same as
# a Linux path), old41_menu (its Start-menu folder), sys32 and windir_u.
fixture_4_1() {
  old41_win='C:\Program Files\Halvora\Varnet 4.1'
  old41_dir=$(unix_path "$old41_win")
  windir_u=$WINEPREFIX/drive_c/windows
  sys32=$windir_u/system32
  old41_menu="$(unix_path "$(wine cmd /c echo %ALLUSERSPROFILE% 2>/dev/null | tr -d '\r')")/Start Menu/Programs/Varnet"

  # The installation directory; 4.1 removes its firewall service through
  # bin\bdvnservice.exe, here the call recorder.
  mkdir -p "$old41_dir"/{bin,log,certs,database} "$old41_menu"
  cp "$BUILD/tools/recorder.exe" "$old41_dir/bin/bdvnservice.exe"
  echo 'bdenc 4.1' >"$old41_dir/bin/bdenc.dll"
  echo 'sites 4.1' >"$old41_dir/sites.dat"
  echo 'log 4.1' >"$old41_dir/log/vn.log"
  echo '4.1 user sites' >"$old41_dir/database/userc.c"
  echo 'certificate' >"$old41_dir/certs/user.p12"
  echo 'shortcut' >"$old41_menu/Varguard.lnk"

  # Files outside it: the Windows directory and system32.
  mkdir -p "$sys32/drivers"
  local f
  for f in bdenc.ini bduninst.exe; do echo "4.1 $f" >"$windir_u/$f"; done
  for f in bdnetcfg.dll hvrgina.dll drivers/bd.sys enterr.dll hvprod.dll entpm10.dll kmpapi32.dll; do
    echo "4.1 $f" >"$sys32/$f"
  done

  local esc=${old41_win//\\/\\\\} values='' kv
  for kv in SLANEnabled=1 "$@"; do
    values+=$(printf '"%s"=dword:%08x\n' "${kv%%=*}" "${kv#*=}")$'\n'
  done
  # Its GINA is its own (hvr...), in front of Winlogon's.
  cat >"$WORK/client41.reg" <<EOF
REGEDIT4

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvora\\Varnet]
"CurrentVersion"="4.1"
"LastSite"="gw41.example"
$values
[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvora\\Varnet\\Sites]
"Default"="gw41.example"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvora\\BD1]
"BDDIR"="$esc"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvora\\BD1\\Rules]
"Count"=dword:00000003

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvora\\Products]
"Varnet"="4.1"
"Other"="1.0"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Varnet]
"DisplayName"="Varguard 4.1"
"UninstallString"="C:\\\\windows\\\\bduninst.exe"

[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_BDVNSERVICE\\0000]
"Service"="bdvnservice"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\bdenc.exe]
"path"="$esc\\\\bin"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]
"bdenc.exe"="$esc\\\\bin\\\\bdenc.exe"

[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon]
"GinaDLL"="hvrgina.dll"
EOF
  wine reg import "$(winepath -w "$WORK/client41.reg")" >/dev/null 2>&1
  wineserver -w
}
