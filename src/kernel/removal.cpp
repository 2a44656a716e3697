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
    CleanUpLegacyAdapter(kLabel);
    ShowSetupInfoById(1113, false);
    return result;
}

// The cleanup appends "system32\\drivers\\omva.sys" to what it is given:
// without a Windows directory it would delete relative to the current one.
void CleanUpLegacyAdapter(const wchar_t* label) {
    const XString windows = GetShortWinDirA(label);
    if (windows.length() == 0) {
        LogMessage(0, label, L"No Windows directory: the legacy adapter cleanup is skipped");
        return;
    }
    LogMessage(0, label, L"calling addreg_w2K_omva_cleanup");
    addreg_w2K_omva_cleanup(windows.value());
}
