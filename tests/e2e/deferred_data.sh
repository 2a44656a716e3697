#!/usr/bin/env bash
# A package's immediate steps fill ALLCADPROPS; OnExecuteStub hands it to the
# deferred actions, which get it exactly as their CustomActionData.
source "$(dirname "$0")/lib.sh"
packed='[[UILevel=5]]|[[INSTALLDIR=C:\Apps\Client\]]|[[tamber_install_mode=new]]|'

build_package smoke.wxs "$WORK/smoke.msi" Schedule=yes || exit 1
install "$WORK/smoke.msi"

check "the installation succeeds" [ "$rc" -eq 0 ]
check "the payload is installed" [ -f "$WINEPREFIX/drive_c/Program Files (x86)/TamberSmoke/readme.txt" ]
probe="$(temp_dir)/caprobe/CustomActionData.txt"
check "the deferred probe ran" [ -f "$probe" ]
check "CustomActionData equals the packed text" [ "$(cat "$probe" 2>/dev/null)" = "$packed" ]
check "OnExecuteStub handed the text to OnFirstAfter" \
  has_line "<SetProperty> SetProperty >> key=OnFirstAfter 	 value=$packed"
check "OnExecuteStub finished" has_line "<OnExecuteStub> Function ended successfully"
check "OnFirstAfter read its container from CustomActionData" \
  has_line "<GetProperty> Entering with property CustomActionData"
check "OnFirstAfter stored the same container back" \
  has_line "<SetProperty> SetProperty >> key=CustomActionData 	 value=$packed"
check "OnFirstAfter ended" has_line "<OnFirstAfter> Function ended"
check "the lines reach the installer's own log" grep -aqF "<OnExecuteStub> Function ended successfully" "$WORK/msi.log"
finish
