#!/usr/bin/env bash
# A package that names no deferred routine: OnExecuteStub stops the run.
source "$(dirname "$0")/lib.sh"

build_package smoke.wxs "$WORK/smoke.msi" Schedule=no || exit 1
install "$WORK/smoke.msi"

check "the installation fails with 1603" [ "$rc" -eq 1603 ]
check "the log names the reason" \
  has_line "<OnExecuteStub> Error : Failed to get the number string of the deferred CA routines."
check "OnExecuteStub wrote no end banner" bash -c "! grep -q '<OnExecuteStub> Function ended' '$(install_log)'"
check "no deferred action ran" [ ! -e "$(temp_dir)/caprobe/CustomActionData.txt" ]
check "OnFirstAfter never started" bash -c "! grep -q '<OnFirstAfter>' '$(install_log)'"
check "nothing is left installed" [ ! -e "$WINEPREFIX/drive_c/Program Files (x86)/TamberSmoke/readme.txt" ]
finish
