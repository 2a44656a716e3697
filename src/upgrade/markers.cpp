#include "log/install_log.h"
#include "regdb/regdb.h"
#include "upgrade/upgrade.h"
#include "util/files.h"

namespace {

const wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kRunOnceValue[] = L"InstallShieldSetupForVN";
const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Varnet_UnInstall";
const wchar_t kUninstallFlag[] = L"IsUnInstall";
const wchar_t kTargetDirValue[] = L"VN_TARGETDIR";
const wchar_t kLauncherKey[] = L"SOFTWARE\\Halvora\\Halvora Product Suite\\setup";

// Reads a value as text; logs the failure under IsFirstInstall.
bool ReadMarker(const wchar_t* key, const wchar_t* value, XString* text) {
    DWORD type = 0, size = 0;
    LONG result = TamberRegDB(HKEY_LOCAL_MACHINE).GetKeyValueEx(key, value, &type, text, &size);
    if (result != ERROR_SUCCESS)
        LogMessage(result, L"IsFirstInstall", L"ERROR: TRegDB.GetKeyValueEx failed for key: '%s'", value);
    return result == ERROR_SUCCESS;
}

}  // namespace

int CopyAndWriteToRegEraseExeForAfterRebbot(const XString& installDir) {
    const wchar_t kLabel[] = L"CopyAndWriteToRegEraseExeForAfterRebbot";
    XString dir = installDir;
    dir.setEncoding(XString::Unicode);
    XString target = GetWinDir() + L"erase_VN.exe";
    XString source = dir + L"bin\\erase_VN.exe";
    if (!HV_CopyFile(source, target)) {
        LogMessage(0, kLabel, L"Failed to HV_CopyFile(%s, %s)", source.wvalue(), target.wvalue());
        return -1;
    }
    if (setRegistryStringValue(HKEY_LOCAL_MACHINE, kRunOnceKey, kRunOnceValue, target.wvalue()) <= 0) {
        LogMessage(0, kLabel, L"Failed to setRegistryStringValue(%s\\%s)", kRunOnceKey, kRunOnceValue);
        return -1;
    }
    if (setRegistryStringValue(HKEY_LOCAL_MACHINE, kUninstallKey, kUninstallFlag, L"1") <= 0) {
        LogMessage(0, kLabel, L"Failed to setRegistryStringValue(%s\\%s)", kUninstallKey, kUninstallFlag);
        return -1;
    }
    return 0;
}

int ClearUnInstallMarker() { return delRegistryValue(HKEY_LOCAL_MACHINE, kUninstallKey, kUninstallFlag); }

int WriteUnInstallTargetDir(XString installDir) {
    ClearUnInstallMarker();
    installDir.setEncoding(XString::Unicode);
    if (installDir.endsWith(L"\\")) installDir = installDir.substring(0, installDir.length() - 1);
    return setRegistryStringValue(HKEY_LOCAL_MACHINE, kUninstallKey, kTargetDirValue, installDir.wvalue());
}

bool IsFirstInstall() {
    XString flag;
    if (!ReadMarker(kUninstallKey, kUninstallFlag, &flag)) return true;
    if (!flag.equals(L"1")) return true;
    XString pending;
    // Windows removes the RunOnce entry when it runs it at the restart.
    return !ReadMarker(kRunOnceKey, kRunOnceValue, &pending);
}

bool IsActivatedByLauncher() {
    DWORD type = 0, size = 0;
    XString text;
    if (TamberRegDB(HKEY_LOCAL_MACHINE).GetKeyValueEx(kLauncherKey, L"ActivatedByLauncher", &type, &text, &size) !=
        ERROR_SUCCESS)
        return false;
    return text.equals(L"1");
}
