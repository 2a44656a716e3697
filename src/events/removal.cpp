#include "events/maintenance.h"

#include "deferred/deferred.h"
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

const wchar_t kLabelRemove[] = L"OnRemoveBefore";
const wchar_t kLabelRemoveAfter[] = L"OnRemoveAfter";

struct KeyToRemove {
    const wchar_t* logLine;
    const wchar_t* key;
};
const KeyToRemove kRemovedKeys[] = {
    {L"removing LOAD_SERVICE_KEY from hkey_local_machine", L"SYSTEM\\CurrentControlSet\\Services\\BD0"},
    {L"removing SERVICE_KEY from hkey_local_machine", L"SYSTEM\\CurrentControlSet\\Services\\BD1"},
    {L"removing SERVICE_KEY_VPN from hkey_local_machine", L"SYSTEM\\CurrentControlSet\\Services\\Tessel-1"},
    {L"removing SLAN_KEY from hkey_local_machine", L"SOFTWARE\\Halvora\\SLAN"},
};

XString InstalledDir() {
    XString dir;
    UINT result = GetProperty(L"tamber_old_installed_path", &dir);
    if (result != ERROR_SUCCESS) {
        dir = GetDefaultClientDir();
        LogMessage(result, kLabelRemove, L"Take the default fot tamber_old_installed_path");
    }
    EnsureTrailingBackslash(dir);
    return dir;
}

bool Exists(XString dir) {
    dir.setEncoding(XString::Unicode);
    return GetFileAttributesW(dir.wvalue()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

UINT OnRemovePrologueSteps() {
    if (IsSilentMode()) HandleQuietMode();
    if (!CheckDependentPkgs()) {
        LogMessage(0, kLabelRemove, L"CheckDependentPkgs returned FALSE");
        SetFinishErrorString(1114);
        return ERROR_INSTALL_FAILURE;
    }
    SetDeferredCustomActionFNs(L"OnRemoveBefore", L"OnRemoveAfter");
    StoreDeferredProperties();
    return ERROR_SUCCESS;
}

UINT OnRemoveBeforeSteps() {
    // OnRemoveAfter restores it: a deferred handler leaves the record on the
    // machine.
    if (!BackupOldFile(GetWinDir(), XString(L"entrust.ini"), 0, SaveRecord::kOnMachine))
        LogMessage(0, kLabelRemove, L"Failed to rename entrust.ini");
    ShowSetupInfoById(1112, true);
    StopClientProcesses();
    ShowSetupInfoById(1112, false);

    const XString dir = InstalledDir();
    // A directory already gone is not locked, and nothing is run or copied
    // from it (a user could make it afresh); the rest of the removal goes on,
    // so that such a client can still be removed.
    const bool locked = LockInstallDir(kLabelRemove, dir);
    if (!locked && Exists(dir)) return ERROR_INSTALL_FAILURE;
    if (locked) {
        RunUninstallScripts(dir);
        CopyAndWriteToRegEraseExeForAfterRebbot(dir);
    }
    LogMessage(0, kLabelRemove, L"Target dir is: %s", dir.wvalue());
    if (locked) RemoveKernelComponents(dir);
    DeleteFromEnvironmentPath(dir + L"bin");

    addreg_CleanKernelINF();
    DeleteDTBaseFromRegistry();
    DeleteVarnetKeyFromAllUsers();
    DeleteBDFromRegistry();
    DeleteSDSFromRegistry();
    if (isVista()) TamberRemoveVistaNP();
    DeleteVNFromRegistry();
    if (!isVista()) RestoreOldGina();

    DWORD watchdog = UninstallGenericDriver(L"VN_Watchdog");
    LogMessage(0, kLabelRemove, L"Return code from uninstallVnWatchdog: %d", static_cast<int>(watchdog));
    DWORD service = UninstallGenericDriver(L"VN_Service");
    LogMessage(0, kLabelRemove, L"Return code from uninstallVnService: %d", static_cast<int>(service));
    RestoreAllSections();
    return ERROR_SUCCESS;
}

UINT OnRemoveAfterSteps() {
    LogMessage(0, kLabelRemoveAfter, L"Function started");
    if (!BackupOldFile(GetWinDir(), XString(L"entrust.ini"), 1, SaveRecord::kOnMachine))
        LogMessage(0, kLabelRemoveAfter, L"Failed to restore entrust.ini");
    LogMessage(0, kLabelRemoveAfter,
               L"call API addreg_DeleteRegistryOnUninstall() that delete installtion registry values & keys except a "
               L"few that need to be saved");
    addreg_DeleteRegistryOnUninstall();
    for (const KeyToRemove& k : kRemovedKeys) {
        LogMessage(0, kLabelRemoveAfter, L"%s", k.logLine);
        RegRecursiveDeleteKey(HKEY_LOCAL_MACHINE, k.key);
    }
    delRegistryValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvora\\Products", L"Varnet");
    XString installDir;
    GetTargetPath(L"INSTALLDIR", &installDir);
    installDir.setEncoding(XString::Unicode);
    // The removal is done but for this: a tree that another account can
    // replace is left rather than followed, and one already gone needs nothing.
    if (Exists(installDir) && LockInstallDir(kLabelRemoveAfter, installDir)) DeleteDirTree(installDir.wvalue());
    DeleteClientSystemFiles();
    RemoveProgramShortcuts();
    return ERROR_SUCCESS;
}
