#include "kernel/kernel.h"
#include "legacy/legacy.h"
#include "log/install_log.h"
#include "session/session.h"
#include "util/files.h"

UINT RemoveKernelComponents(const XString& dir) {
    const wchar_t kLabel[] = L"OnRemoveBefore";
    ShowSetupInfoById(1113, true);
    RunConn_config(dir, L"rem VPN");
    LogMessage(0, kLabel, L"Return code from uninstallVPN: %d", static_cast<int>(UninstallGenericDriver(L"Tessel-1")));
    LogMessage(0, kLabel, L"Return code from uninstallVexl: %d", static_cast<int>(UninstallGenericDriver(L"Scap")));
    LogMessage(0, kLabel, L"Return code from unhook VNA: %d", static_cast<int>(UnhookVNA(dir)));
    LogMessage(0, kLabel, L"Return code from UnInstall VNA: %d", static_cast<int>(UnInstallVNA(dir)));
    UINT result = UninstallBD(dir);
    LogMessage(0, kLabel, L"Return code from uninstallBD: %d", static_cast<int>(result));
    RunBDKern(dir, L"-v -u HV_BD1MP");
    CleanUpLegacyAdapter(kLabel, AdapterCleanupLine::kAnnounced);
    ShowSetupInfoById(1113, false);
    return result;
}

// Only the driver file is found through the Windows directory: without one
// the file is left (a relative path would point at the current directory),
// and the service and event-log source still go.
void CleanUpLegacyAdapter(const wchar_t* label, AdapterCleanupLine line) {
    const XString windows = GetShortWinDirA(label);
    if (windows.length() == 0)
        LogMessage(0, label, L"No Windows directory: the legacy adapter's omva.sys is left");
    else if (line == AdapterCleanupLine::kAnnounced)
        LogMessage(0, label, L"calling addreg_w2K_omva_cleanup");
    addreg_w2K_omva_cleanup(windows.length() == 0 ? "" : windows.value());
}
