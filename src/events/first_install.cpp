#include "events/first_install.h"

#include <memory>

#include "addfiles/addfiles.h"
#include "config/config.h"
#include "deferred/deferred.h"
#include "events/kernel_steps.h"
#include "events/shared_steps.h"
#include "kernel/kernel.h"
#include "legacy/legacy.h"
#include "log/install_log.h"
#include "logon/logon.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "state/state.h"
#include "system/system.h"
#include "upgrade/upgrade.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

const wchar_t kLabelBegin[] = L"OnBegin";
const wchar_t kLabelBefore[] = L"OnFirstBefore";
const wchar_t kLabelAfter[] = L"OnFirstAfter";

UINT Refuse(int message) {
    StopWithMessage(message);
    return ERROR_INSTALL_FAILURE;
}

bool SupportedPlatform() {
    DWORD major = 0, minor = 0, servicePack = 0;
    const bool nt = GetOSVersion(&major, &minor, &servicePack);
    LogMessage(0, kLabelBegin, L"Running on Windows version: %d.%d service pack: %d.", static_cast<int>(major),
               static_cast<int>(minor), static_cast<int>(servicePack));
    return nt && major >= 5;
}

void ForceOverwriteOnReinstall() {
    XString mode;
    if (GetProperty(L"REINSTALLMODE", &mode) == ERROR_SUCCESS)
        LogMessage(0, L"TEST", L"REINSTALLMODE = %s", mode.wvalue());
    if (SetProperty(L"REINSTALLMODE", L"amus", true) != ERROR_SUCCESS)
        LogMessage(0, kLabelBegin,
                   L"SetProperty failed (REINSTALLMODE=amus) => will NOT overwrite files => Upgrade will probably fail\n");
}

// Every run builds its container here. One that ALLCADPROPS already held
// came from outside this run (a command line can carry one) and must not
// reach the deferred handlers.
void ForgetEarlierContainer() {
    const int earlier = TheCADContainer().Count();
    if (earlier == 0) return;
    LogMessage(0, kLabelBegin, L"ALLCADPROPS held %d entries before this run began; they are not taken", earlier);
    TheCADContainer().Clear();
}

}  // namespace

bool IsUserAdmin() {
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_READ, &rawToken)) return false;
    KernelHandle token(rawToken);

    DWORD size = 0;
    GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &size);
    if (size == 0) return false;
    std::unique_ptr<BYTE[]> buffer(new BYTE[size]);
    if (!GetTokenInformation(token.get(), TokenGroups, buffer.get(), size, &size)) return false;

    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, &administrators))
        return false;
    // Attributes are not looked at: a deny-only Administrators group (a
    // filtered token) counts as membership.
    const TOKEN_GROUPS* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.get());
    bool member = false;
    for (DWORD i = 0; i < groups->GroupCount && !member; ++i) member = EqualSid(groups->Groups[i].Sid, administrators);
    FreeSid(administrators);
    return member;
}

UINT OnBeginSteps() {
    CopyMSILogFile();
    LogMessage(0, kLabelBegin, L"Function started.");
    ForgetEarlierContainer();
    if (!SupportedPlatform()) return Refuse(1100);
    if (!IsUserAdmin()) return Refuse(1101);

    Property_table_to_CAD();
    SetProductINIProperties();
    MarkSettingsPublished();
    StoreVGInitialState();
    if (IsDowngrade()) return ERROR_INSTALL_FAILURE;  // it has told the user
    if (!initiateDialogsFlowAttributes()) return ERROR_INSTALL_FAILURE;
    HideCancelButton(g_hMsi);
    if (!IsFirstInstall()) {
        LogMessage(0, kLabelBegin, L"Aborting installation because reboot was not done after uninstall");
        ShowMsgBoxById(1102, 0);  // a notice, not an error box
        SetFinishErrorString(1102);
        return ERROR_INSTALL_FAILURE;
    }
    ForceOverwriteOnReinstall();
    return ERROR_SUCCESS;
}

UINT OnFirstBeforeSteps() {
    UINT result = ERROR_INSTALL_FAILURE;
    // OnFirstAfter restores it: the record travels in the container.
    if (!StoreEntrustINI(SaveRecord::kInContainer)) LogMessage(0, kLabelBefore, L"Failed to save entrust.ini");
    if (OnBeforeCommon() == ERROR_SUCCESS) {
        HandleVarnetInPath();
        XString installDir;
        GetTargetPath(L"INSTALLDIR", &installDir);
        if (!CheckDriveIsValid(installDir))
            StopWithMessage(1109);
        else if (!CheckDiskSpace(installDir))
            StopWithMessage(1108);
        else if (!CheckDestinationParents(kLabelBefore, installDir))
            StopWithMessage(1122);
        else
            result = ERROR_SUCCESS;
    }
    StoreAdditionalFileFromBinaryTable();
    SetDeferredCustomActionFN(L"OnFirstAfter");
    StoreDeferredProperties();
    return result;
}

UINT OnFirstAfterSteps() {
    ShowSetupInfo(XString(L""), false);
    StepProgressBar(g_hMsi);
    XString installDir;
    GetTargetPath(L"INSTALLDIR", &installDir);
    if (!LockInstallDir(kLabelAfter, installDir, GetCADValue(kCreatedDir))) return ERROR_INSTALL_FAILURE;

    PrepareInstallDir(installDir);
    StepProgressBar(g_hMsi);

    ApplyRegistrySections();
    StepProgressBar(g_hMsi);

    if (isVista()) {
        LogMessage(0, kLabelAfter, L"Registring NP");
        TamberEnableVistaNP();
    }
    HandleSDLSupport();
    WriteDTBaseDefaults();
    WriteProductVersionToRegistry();
    IncludeBrandingFiles(installDir);
    if (!RestoreEntrustINI(SaveRecord::kInContainer))
        LogMessage(0, L"StoreVGInitialState", L"Failed to restore entrust.ini (perhaps restore was not needed)");
    LogMessage(0, kLabelAfter, L"Target dir is: %s", installDir.wvalue());
    if (isXP() || isVista()) CopySignedBDfiles(installDir);
    if (!IsProductINIvalueTrue(L"ShowDriverSignatureWarning", 1)) RunXPDRV(installDir);
    UninstallGenericDriver(L"Scap");
    RemoveOldBindingsAndInstallVNA(kLabelAfter, installDir);
    StepProgressBar(g_hMsi);
    InstallFilterDriver(kLabelAfter, installDir);
    StepProgressBar(g_hMsi);
    InstallVpnDriver(kLabelAfter, installDir);

    StepProgressBar(g_hMsi);
    HandleDefaultPolicy();
    StepProgressBar(g_hMsi);
    RunInstallScripts(installDir);
    OnAfterCommon();
    StepProgressBar(g_hMsi);
    return ERROR_SUCCESS;
}
