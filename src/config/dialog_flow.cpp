#include <string>

#include "config/config.h"
#include "log/install_log.h"
#include "session/session.h"
#include "state/state.h"
#include "upgrade/upgrade.h"
#include "util/files.h"

namespace {

const wchar_t kLabel[] = L"initiateDialogsFlowAttributes";
constexpr int kDialogs = 6;
const wchar_t kLetters[kDialogs + 1] = L"WLDMSR";
enum Dialog { W, L, D, M, S, R };
constexpr int kNone = -1;

bool Flag(const wchar_t* name, int defaultValue) { return IsProductINIvalueTrue(name, defaultValue) != 0; }

// The skipped path dialog's choice: the settings' DefaultPath, made a
// client folder.
void PresetInstallDir() {
    XString path;
    GetTargetPath(L"INSTALLDIR", &path);
    if (GetProductINI_strValue(L"DefaultPath", path) < 0 || path.length() == 0) return;
    Tamber_ExpandEnvironmentStrings(path);
    EnsureTrailingBackslash(path);
    AppendVarnetFolder(path);
    UINT result = SetTargetPath(L"INSTALLDIR", path);
    if (result != ERROR_SUCCESS)
        LogMessage(result, kLabel, L"Can't initiate the install dir with the old one (%s)", path.wvalue());
}

void PublishFlow(const bool shown[kDialogs]) {
    int next[kDialogs], previous[kDialogs];
    for (int a = 0; a < kDialogs; ++a) {
        auto counts = [&](int d) { return shown[d] && d != a && !((a == D && d == M) || (a == M && d == D)); };
        next[a] = previous[a] = kNone;
        for (int d = a + 1; d < kDialogs && next[a] == kNone; ++d)
            if (counts(d)) next[a] = d;
        for (int d = a - 1; d >= 0 && previous[a] == kNone; --d)
            if (counts(d)) previous[a] = d;
    }
    for (int x = 0; x < kDialogs; ++x) {
        for (int y = 0; y < kDialogs; ++y) {
            bool linked = (y > x && next[x] == y) || (y < x && previous[x] == y);
            wchar_t name[] = {L'd', L't', L'_', kLetters[x], kLetters[y], 0};
            SetProperty(name, linked ? L"1" : L"0", true);
        }
    }
}

}  // namespace

bool ResolveMaintenanceMode(bool* showUpdateOverwrite, bool* overwrite) {
    const bool clientSimplified = IsSimplifiedInRegistry();
    const bool quebec = Flag(L"IsQuebec", 0);
    const bool packageSimplified = Flag(L"IsSimplified", 0);
    const bool overwriteConfiguration = Flag(L"OverwriteConfiguration", 0);
    const bool showUpdate = Flag(L"ShowUpdateOverwrite", 1);
    const bool showWarning = Flag(L"ShowOverwriteWarning", 1);
    *showUpdateOverwrite = showUpdate;
    *overwrite = overwriteConfiguration;
    if (IsFirstInstallation() || !packageSimplified || clientSimplified) return true;

    // A simplified package over a full client may only overwrite it.
    if (!quebec) return StopWithMessage(1117);
    if (!overwriteConfiguration && !showUpdate) return StopWithMessage(1118);
    if (showWarning && ShowMsgBoxById(1119, MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == IDNO) {
        SetFinishErrorString(1121);
        return false;
    }
    *showUpdateOverwrite = false;
    *overwrite = true;
    return true;
}

bool initiateDialogsFlowAttributes() {
    LogMessage(0, kLabel, L"Enter");
    const bool showLicense = Flag(L"ShowLic", 1) && !IsActivatedByLauncher();
    const bool askPath = Flag(L"PathAskUser", 1);
    bool showUpdateOverwrite = Flag(L"ShowUpdateOverwrite", 1);
    const bool askSecurity = Flag(L"DesktopSecurityAskUser", 1);
    const bool first = IsFirstInstallation();

    if (!first) {
        bool overwrite = false;
        if (!ResolveMaintenanceMode(&showUpdateOverwrite, &overwrite)) return false;
        SetProperty(L"tamber_upgrade_mode", overwrite ? L"overwrite" : L"upgrade", true);
        if (overwrite) SetProperty(L"_IsMaintenance", L"Reinstall", true);
    }
    if (first && !askPath) PresetInstallDir();
    if (!askSecurity) SetProperty(L"tamber_VG_type", Flag(L"DesktopSecurityDefault", 0) ? L"Varguard" : L"Varnet", true);

    const bool maintenanceOverwrite = !IsFirstInstallation() && IsMaintOverwriteChosen();
    bool shown[kDialogs];
    shown[W] = true;
    shown[L] = showLicense;
    shown[D] = askPath && first;
    shown[M] = showUpdateOverwrite && !first;
    shown[S] = askSecurity && (first || maintenanceOverwrite);
    shown[R] = true;
    PublishFlow(shown);
    return true;
}
