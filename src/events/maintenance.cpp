#include "events/maintenance.h"

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

namespace {

const wchar_t kLabelPrologue[] = L"OnMaintPrologue";
const wchar_t kLabelBefore[] = L"OnMaintBefore";
const wchar_t kLabelAfter[] = L"OnMaintAfter";

bool UpgradeNotFrom4_1() { return IsMaintUpgradeChosen() && !IsUpgradeFrom4_1(); }

void RemoveOldVNADevice() {
    XString oldDir;
    UINT result = GetProperty(L"tamber_old_installed_path", &oldDir);
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabelBefore, L"Failed to GetProperty: tamber_old_installed_path");
        return;
    }
    EnsureTrailingBackslash(oldDir);
    if (UINT removed = RemoveVNADevice(oldDir)) LogMessage(removed, kLabelBefore, L"Failed to remove VNA device");
}

// Settings and registrations that an overwrite replaces.
void ForgetOldSettings() {
    DeletePolicyFiles();
    DeleteVarnetKeyFromAllUsers();
    DeleteBDFromRegistry();
    DeleteSDSFromRegistry();
    ClearClientKeyKeepSCV();
    RestoreOldGina();
}

UINT Remove4_1() {
    LogMessage(0, kLabelBefore, L"Removing 4.1");
    XString oldDir;
    UINT result = GetProperty(L"tamber_old_installed_path", &oldDir);
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabelBefore, L"Failed to GetProperty: tamber_old_installed_path");
        return ERROR_INSTALL_FAILURE;
    }
    BroadcastKillBdEnc("5.0");
    RemoveOldBdEncService();
    oldDir.setEncoding(XString::Unicode);
    DeleteDirTree(oldDir.wvalue());
    Remove4_1WinFiles();
    if (IsMaintUpgradeChosen()) Backup4_1RegistryInfo();
    Remove4_1RegistryKeys();
    Remove4_1StartMenu();
    return ERROR_SUCCESS;
}

void FinishUpgradeFrom4_1(const XString& dir) {
    InstallFilterDriver(kLabelAfter, dir);
    if (IsMaintUpgradeChosen()) {
        Restore4_1RegistryInfo();
        Upgrade4_1Gina();
    }
    int result = setRegistryDWORDValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvora\\Varnet", L"UpgradedFrom", L"4200");
    LogMessage(0, kLabelAfter, L"write again the 'UpgradedFrom' value returned with: %d", result);
}

// The filter driver is already installed: re-sign it where the system
// checks signatures.
void UpdateFilterDriver(const XString& dir) {
    CopyBDsys(dir);
    if (!isXP() && !isVista()) return;
    if (IsProductINIvalueTrue(L"SplitKernelInstall", 0)) {
        SetServicesStatupType(SERVICE_DEMAND_START);
        UINT result = updateSignBD_with_VN_SMS_service(dir);
        LogMessage(0, kLabelAfter, L"Return code from updateSignBD_with_VN_SMS_service: %d", static_cast<int>(result));
    } else {
        LogMessage(0, kLabelAfter, L"Return code from updateSignBD: %d", static_cast<int>(updateSignBD(dir)));
    }
}

}  // namespace

UINT OnMainPrologueSteps() {
    if (IsSilentMode()) {
        HandleQuietMode();  // keep the old installation directory
        if (!IsUpgradeFrom4_1()) SetServicesStatupType(SERVICE_AUTO_START);
    }
    if (OnBeforeCommon() != ERROR_SUCCESS) return ERROR_INSTALL_FAILURE;
    if (IsUpgradeFrom4_1() && IsMaintUpgradeChosen() && IsVarguardChosen() && !WarnOn4_1Upgrade()) {
        SetFinishErrorString(1121);
        return ERROR_INSTALL_FAILURE;
    }
    // The check's own refusal names the folder; a normal run logs no read.
    if (!CheckDestinationParents(kLabelPrologue, GetTargetPathUnlogged(L"INSTALLDIR"))) {
        StopWithMessage(1122);
        return ERROR_INSTALL_FAILURE;
    }
    // OnMaintBefore records these settings too, but a deferred handler cannot
    // hand properties on; the old client key is still intact here, so they
    // travel to OnMaintAfter in the container.
    if (IsUpgradeFrom4_1() && IsMaintUpgradeChosen()) Backup4_1RegistryInfo();
    StoreAdditionalFileFromBinaryTable();
    SetDeferredCustomActionFNs(L"OnMaintBefore", L"OnMaintAfter");
    StoreDeferredProperties();
    return ERROR_SUCCESS;
}

UINT OnMaintBeforeSteps() {
    // The old client's tools run from its directory. Read without a log
    // line: the steps that use it log a missing path.
    if (!LockInstallDir(kLabelBefore, GetCADValue(L"tamber_old_installed_path"))) return ERROR_INSTALL_FAILURE;
    // OnMaintAfter restores it and userc.c: a deferred handler leaves their
    // records on the machine.
    if (!StoreEntrustINI(SaveRecord::kOnMachine)) LogMessage(0, kLabelBefore, L"Failed to save entrust.ini");
    LogMessage(0, kLabelBefore, L"Stop Desktop Product");
    StopClientProcesses();
    if (IsMaintUpgradeChosen()) StoreOldFiles();
    RemoveOldProductRegistration();
    RemoveProgramShortcuts();
    UninstallGenericDriver(L"Scap");
    CleanUpLegacyAdapter(kLabelBefore, AdapterCleanupLine::kUnannounced);
    RemoveOldVNADevice();
    if (IsMaintOverwriteChosen()) ForgetOldSettings();
    if (IsUpgradeFrom4_1()) return Remove4_1();
    return ERROR_SUCCESS;
}

UINT OnMaintAfterSteps() {
    ShowSetupInfo(XString(L""), false);
    StepProgressBar(g_hMsi);
    LogMessage(0, kLabelAfter, L"Function started");

    XString installDir;
    GetTargetPath(L"INSTALLDIR", &installDir);
    if (!LockInstallDir(kLabelAfter, installDir, GetCADValue(kCreatedDir))) return ERROR_INSTALL_FAILURE;
    PrepareInstallDir(installDir);
    LogMessage(0, kLabelAfter, L"Target dir is: %s", installDir.wvalue());

    // The sections below would overwrite the user's policy: keep it aside.
    // The restore comes in this handler, so what was saved is this local.
    SavedCopy policy;
    if (UpgradeNotFrom4_1()) policy = SavePolicyKey();
    StepProgressBar(g_hMsi);
    ApplyRegistrySections();
    StepProgressBar(g_hMsi);
    if (UpgradeNotFrom4_1()) RestorePolicyKey(policy);

    HandleSDLSupport();
    WriteDTBaseToRegistryWithCare();
    WriteProductVersionToRegistry();
    IncludeBrandingFiles(installDir);
    if (!RestoreEntrustINI(SaveRecord::kOnMachine))
        LogMessage(0, L"StoreVGInitialState", L"Failed to restore entrust.ini (perhaps restore was not needed)");
    if (isXP() || isVista()) CopySignedBDfiles(installDir);
    if (!IsProductINIvalueTrue(L"ShowDriverSignatureWarning", 1)) RunXPDRV(installDir);

    StepProgressBar(g_hMsi);
    RemoveOldBindingsAndInstallVNA(kLabelAfter, installDir);
    StepProgressBar(g_hMsi);
    if (IsUpgradeFrom4_1())
        FinishUpgradeFrom4_1(installDir);
    else
        UpdateFilterDriver(installDir);

    StepProgressBar(g_hMsi);
    InstallVpnDriver(kLabelAfter, installDir);
    StepProgressBar(g_hMsi);
    if (IsMaintUpgradeChosen() && !RestoreOldFiles())
        LogMessage(0, L"StoreVGInitialState", L"Can't restore the old configuration files.");
    HandleDefaultPolicy();
    RunInstallScripts(installDir);
    OnAfterCommon();
    StepProgressBar(g_hMsi);
    return ERROR_SUCCESS;
}
