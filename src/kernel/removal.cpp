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

    wchar_t windows[kShortPathChars] = L"";
    GetExpandedShortPath(L"%windir%", windows);
    XString narrow = XString(windows) + XString(L'\\');
    narrow.setEncoding(XString::Ascii);
    LogMessage(0, kLabel, L"calling addreg_w2K_omva_cleanup");
    addreg_w2K_omva_cleanup(narrow.value());

    ShowSetupInfoById(1113, false);
    return result;
}
