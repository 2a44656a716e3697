#include "events/shared_steps.h"

#include <direct.h>
#include <io.h>

#include <string>

#include "addfiles/addfiles.h"
#include "config/config.h"
#include "deferred/deferred.h"
#include "log/install_log.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "state/state.h"
#include "system/system.h"
#include "upgrade/upgrade.h"
#include "util/files.h"

namespace {

const wchar_t kClientKey[] = L"SOFTWARE\\Halvora\\Varnet";
const wchar_t kSuiteSetupKey[] = L"SOFTWARE\\Halvora\\Halvora Product Suite\\setup";
const wchar_t kVarguardMenu[] = L"Halvora Tessel-1 Varguard\\";
const wchar_t kVarnetMenu[] = L"Halvora Tessel-1 Varnet\\";

bool Flag(const wchar_t* name, int defaultValue) { return IsProductINIvalueTrue(name, defaultValue) != 0; }

// Each option has two spellings, each a key of its own.
const wchar_t kShowRestart[] = L"ShowRestart", kShowRestrat[] = L"ShowRestrat";
const wchar_t kRestartAfter[] = L"RestartAfterInstall", kRestratAfter[] = L"RestratAfterInstall";
const wchar_t* const kRestartSettings[] = {kShowRestart, kShowRestrat, kRestartAfter, kRestratAfter};

// With a user interface, Windows runs OnBegin in the user's process and this
// handler in the installer service, which reloads the package's Property
// rows: a setting that product.ini changed would come back as the package
// had it. The container, which crosses as ALLCADPROPS, holds what OnBegin
// published; where OnBegin did not run, the four settings come from there.
void RepublishRestartSettings() {
    if (SettingsPublishedHere()) return;
    std::wstring taken;
    for (const wchar_t* name : kRestartSettings) {
        XString stored;
        if (TheCADContainer().Find(name, &stored) < 0) continue;
        SetPropertyUnlogged(name, stored);
        stored.setEncoding(XString::Unicode);
        taken += (taken.empty() ? L"" : L", ") + std::wstring(name) + L"=" + stored.wvalue();
    }
    if (!taken.empty()) LogMessage(0, L"OnInstallFinish", L"%s taken from the deferred data", taken.c_str());
}

std::wstring Programs() { return GetCommonProgramsDir().wvalue(); }

}  // namespace

bool CheckDestinationParents(const wchar_t* label, const XString& installDir) {
    XString created;
    if (!CheckInstallDirParents(label, installDir, &created)) return false;
    if (created.length() > 0) TheCADContainer().Set(kCreatedDir, created);
    return true;
}

UINT OnBeforeCommon() {
    if (CheckRequirements()) return ERROR_SUCCESS;
    LogMessage(0, L"OnBeforeCommon", L"Aborting installation because of failure in CheckRequirements");
    return ERROR_INSTALL_FAILURE;
}

int OnAfterCommon() {
    HandleEntrustSupport();
    AdjustVarnetShortcuts();
    HandleSimplified();
    WriteBuildNumberToRegistry();
    WriteProductGuidToRegistry();
    WriteCommonValuesToRegistry();
    AllowUserFastSwitching();
    ConfigureFirewallRules();
    CreateLogShortcut();
    WriteEstimatedSiteToRegistry();
    XString addFiles;
    if (GetProperty(L"AddFilesTempDir", &addFiles) == ERROR_SUCCESS && addFiles.length() > 0)
        DeleteDirTree(addFiles.wvalue());
    else
        LogMessage(0, L"OnAfterCommon", L"Error: Failed to find temp dir for additional files");
    return 1;
}

int HandleEntrustSupport() {
    const wchar_t kLabel[] = L"OnFirstAfter";  // in both flows
    if (Flag(L"EntrustSupport", 1)) return 1;
    wchar_t path[256] = L"";
    DWORD needed = ExpandEnvironmentStringsW(L"%windir%\\system32\\kmpapi32.dll", path, 256);
    if (needed == 0 || needed > 256)
        LogMessage(0, kLabel, L"Can't ExpandEnvironmentStrings - valueStrBuff too short (%d)", 256);
    else if (!DeleteFileW(path))
        LogMessage(0, kLabel, L"Failed to DeleteFile (%s)", path);
    if (!delRegistryValue(HKEY_LOCAL_MACHINE, kClientKey, L"EntrustSupport"))
        LogMessage(0, kLabel, L"Failed to Delete Registry Value (SOFTWARE\\Halvora\\Varnet\\EntrustSupport)");
    return 1;
}

UINT SetRebootAtEnd(BOOL reboot) {
    if (g_hMsi == 0) return ERROR_INVALID_HANDLE;
    return MsiSetMode(g_hMsi, MSIRUNMODE_REBOOTATEND, reboot);
}

void HandleRebootAtFinish() {
    if (IsActivatedByLauncher()) {
        // The suite launcher restarts the machine itself.
        SetRebootAtEnd(FALSE);
        setRegistryStringValue(HKEY_LOCAL_MACHINE, kSuiteSetupKey, L"NeedReboot", L"1");
        return;
    }
    RepublishRestartSettings();
    // Each option has two spellings; either one set to false switches it off.
    const bool showRestart = Flag(kShowRestart, 1), showRestrat = Flag(kShowRestrat, 1);
    const bool restartAfter = Flag(kRestartAfter, 1), restratAfter = Flag(kRestratAfter, 1);
    const bool show = showRestart && showRestrat;
    const bool restart = restartAfter && restratAfter;
    SetRebootAtEnd(restart);
    if (!show && restart) SetProperty(L"REBOOTPROMPT", L"Suppress", false);
}

void CreateLogShortcut() {
    const XString log = GetInstallLogPath();
    const std::wstring programFiles = GetProgramFilesDir().wvalue();
    const std::wstring shortcut = programFiles + L"Halvora\\HVInstLog\\install_varnet_R33.elg.lnk";
    if (_waccess(log.wvalue(), 0) != 0) return;
    if (_waccess(shortcut.c_str(), 0) == 0) {
        HV_DeleteFile(shortcut.c_str());
    } else {
        _wmkdir((programFiles + L"Halvora").c_str());
        _wmkdir((programFiles + L"Halvora\\HVInstLog").c_str());
    }
    ShortcutCreate(log.wvalue(), shortcut.c_str(), L"Shortcut to VG/VN installation log file");
}

bool HandleQuietMode() {
    const wchar_t kLabel[] = L"HandleQuietMode";
    XString old;
    if (GetProperty(L"tamber_old_installed_path", &old) != ERROR_SUCCESS || old.length() == 0) {
        LogMessage(0, kLabel, L"cound not get tamber_old_installed_path");
        return false;
    }
    UINT result = SetTargetPath(L"INSTALLDIR", old);
    LogMessage(0, kLabel, L"InstPath = %s. uRet = %x", old.wvalue(), result);
    return result == ERROR_SUCCESS;
}

UINT HandleVarnetInPath() {
    XString path;
    GetTargetPath(L"INSTALLDIR", &path);
    XString normalised = path;
    AppendVarnetFolder(normalised);
    if (normalised.equals(path)) return ERROR_SUCCESS;
    UINT result = SetTargetPath(L"INSTALLDIR", normalised);
    if (result != ERROR_SUCCESS)
        LogMessage(result, L"HandleVarnetInPath", L"Can't initiate the install dir with: %s", normalised.wvalue());
    return result;
}

void AdjustVarnetShortcuts() {
    if (!IsVarnetChosen()) return;
    XString dir;
    GetTargetPath(L"INSTALLDIR", &dir);
    HV_DeleteFile(dir + L"bin\\VN_Diagnostics.exe");
    const std::wstring programs = Programs();
    HV_DeleteFile((programs + kVarguardMenu + L"Varguard Diagnostics.lnk").c_str());
    _wrename((programs + kVarguardMenu + L"Varguard.lnk").c_str(), (programs + kVarguardMenu + L"Varnet.lnk").c_str());
    _wrename((programs + L"Halvora Tessel-1 Varguard").c_str(), (programs + L"Halvora Tessel-1 Varnet").c_str());
}

void HandleSimplified() {
    const wchar_t kLabel[] = L"HandleSimplified";
    if (Flag(L"IsSimplified", 0)) {
        setRegistryStringValue(HKEY_LOCAL_MACHINE, kClientKey, L"installationType", L"Simplified");
        setRegistryDWORDValue(HKEY_LOCAL_MACHINE, kClientKey, L"IsSimplified", L"1");
    } else if (!(IsMaintUpgradeChosen() && IsSimplifiedInRegistry())) {
        setRegistryDWORDValue(HKEY_LOCAL_MACHINE, kClientKey, L"IsSimplified", L"0");
    }
    XString simplified;
    GetProperty(L"SIMP_VG_PKG", &simplified);
    if (!simplified.equals(L"1")) {
        LogMessage(0, kLabel, L"%s = <%s>", L"SIMP_VG_PKG", simplified.wvalue());
        return;
    }
    LogMessage(0, kLabel, L"%s = 1", L"SIMP_VG_PKG");
    XString dir;
    GetTargetPath(L"INSTALLDIR", &dir);
    HV_DeleteFile(dir + L"product.ini");
    HV_CopyFile(dir + L"product.ini.simp", dir + L"product.ini");
    HV_DeleteFile(dir + L"product.ini.simp");
}

void RemoveProgramShortcuts() {
    const std::wstring programs = Programs();
    HV_DeleteFile((programs + kVarguardMenu + L"Varguard.lnk").c_str());
    HV_DeleteFile((programs + kVarguardMenu + L"Varguard Diagnostics.lnk").c_str());
    RemoveDirectoryW((programs + kVarguardMenu).c_str());
    HV_DeleteFile((programs + kVarnetMenu + L"Varnet.lnk").c_str());
    RemoveDirectoryW((programs + kVarnetMenu).c_str());
}
