#!/usr/bin/env bash
# A run with a user interface (reduced UI: the UI sequence runs) begins and
# chooses its prologue in the UI sequence; the execute sequence must not do
# either again, and the deferred handler still gets its data.
source "$(dirname "$0")/lib.sh"

build_package "$ARCH" "$WORK/varnet.msi" >/dev/null 2>&1 || { echo "FAIL: package build"; exit 1; }
wine msiexec /qr /i "$(winepath -w "$WORK/varnet.msi")" /l*v "$(winepath -w "$WORK/msi.log")" >/dev/null 2>&1
rc=$?
wineserver -w

check "the run ends asking for a restart (3010)" expect_rc 3010
check "OnBegin and OnFirstBefore ran in the UI sequence, before ExecuteAction" \
  [ "$(grep -a -o 'Action start [0-9:]*: \(OnBegin\|OnFirstBefore\|ExecuteAction\)\.' "$WORK/msi.log" | sed 's/.*: //' | tr '\n' ' ')" = "OnBegin. OnFirstBefore. ExecuteAction. " ]
check "each handler ran once, in order" [ "$(banners)" = "$first_install_banners" ]
check "OnFirstAfter got the container and installed the client" has_line "<OnFirstAfter> Target dir is: C:\\Program Files\\Halvora\\Varnet\\"
check "the registry sections were applied" [ "$(applied_sections | head -1)" = ALL ]
finish
