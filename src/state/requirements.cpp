#include <string>

#include "log/install_log.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "state/state.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

const wchar_t kMakerKey[] = L"SOFTWARE\\Halvora";
const wchar_t kFirewallKey[] = L"SOFTWARE\\Halvora\\bd1";
const wchar_t kBandwidthKey[] = L"SOFTWARE\\Halvora\\et1";
const wchar_t kDependentsKey[] = L"SOFTWARE\\Halvora\\Varnet\\5.0\\SP9\\MSP0\\DependentPkgs";
const wchar_t kUserMakerKey[] = L"Software\\Halvora";
const wchar_t kClientName[] = L"Varnet";

void AppendLine(const wchar_t* name, void* list) {
    static_cast<std::wstring*>(list)->append(L"\n").append(name);
}

// A user's hive is the user's to change: its keys on the way may be links to
// machine keys, which SYSTEM must not empty.
void DeleteClientKeyOfUser(const wchar_t* user, void*) {
    RegKey maker;
    if (OpenKeyWithoutLinks(HKEY_USERS, (std::wstring(user) + L"\\" + kUserMakerKey).c_str(), MAXIMUM_ALLOWED,
                            &maker) == ERROR_SUCCESS)
        RegRecursiveDeleteKey(maker.get(), kClientName);
}

}  // namespace

bool GetBDVersion(XString* version, const wchar_t* key) {
    DWORD type = 0, size = 0;
    bool found = TamberRegDB(HKEY_LOCAL_MACHINE).GetKeyValueEx(key, L"CurrentVersion", &type, version, &size) ==
                 ERROR_SUCCESS;
    if (!found) *version = XString(L"No Fire Wall");
    LogMessage(0, L"GetBDVersion", L"No FireWall installed. FireWallCurrentVersion=%s", version->wvalue());
    return found;
}

bool CheckRequirements() {
    const wchar_t kLabel[] = L"CheckRequirements";
    XString text = GetMessageText(1103) + L" " + GetProductDisplayName() + L"...";
    if (IsShowSetupInfoDialogs() == 1) {
        ShowSetupInfo(text, true);
        Sleep(1000);
    }

    XString version;
    if (GetBDVersion(&version, kFirewallKey)) {
        if (version.length() == 0) {
            LogMessage(0, kLabel, L"value name CurrentVersion exist but empty , bd1 does not exist.");
        } else {
            LogMessage(0, kLabel, L"CheckRequirements: BD1 version = %s", version.wvalue());
            std::wstring versionKey = std::wstring(kFirewallKey) + L"\\" + version.wvalue();
            // The second field names the maker's key that holds bd1.
            if (TamberRegDB(HKEY_LOCAL_MACHINE).KeyExists(versionKey.c_str())) {
                LogMessage(0, kLabel, L"BD1 version = %s we found sub key with this version under %s bd1 , bd1 exist on machine.",
                           version.wvalue(), kMakerKey);
                LogMessage(0, kLabel, L"BD1 exist on the machine - exit");
                return StopWithMessage(1104);
            }
            LogMessage(0, kLabel, L"BD1 version =  %s no sub key with this version was found under %s bd1 , bd1 does not exist.",
                       version.wvalue(), kMakerKey);
        }
    }
    if (TamberRegDB(HKEY_LOCAL_MACHINE).KeyExists(kBandwidthKey)) {
        LogMessage(0, kLabel, L"ET1 exist on the machine - exit");
        return StopWithMessage(1105);
    }
    LogMessage(0, kLabel, L"Checking Requirements finish successfully.");
    if (IsShowSetupInfoDialogs() == 1) ShowSetupInfo(L"", false);
    return true;
}

// An empty path stays empty: a lone "\" would name the root of the current drive.
void EnsureTrailingBackslash(XString& path) {
    path.setEncoding(XString::Unicode);
    if (path.length() > 0 && !path.endsWith(L"\\")) path.concat(XString(L'\\'));
}

XString GetDiskFromPath(const XString& path) {
    XString p = path;
    p.setEncoding(XString::Unicode);
    if (p.length() >= 3 && p.wcharAt(1) == L':' && p.wcharAt(2) == L'\\') return p.substring(0, 3);
    LogMessage(0, L"GetDiskFromPath", L"illegal drive path <%s>", p.wvalue());
    return XString(L"");
}

bool CheckDriveIsValid(const XString& path) {
    XString root = GetDiskFromPath(path);
    bool valid = root.length() > 0 && GetDriveTypeW(root.wvalue()) == DRIVE_FIXED;
    LogMessage(0, L"CheckDriveIsValid", L"CheckDriveIsValid: result for drive <%s> = %s.", root.wvalue(),
               valid ? L"true" : L"false");
    return valid;
}

bool CheckDiskSpace(const XString& path) {
    const wchar_t kLabel[] = L"CheckDiskSpace";
    XString root = GetDiskFromPath(path);
    if (root.length() == 0) {
        LogMessage(0, kLabel, L"GetDiskFromPath failed");
        return false;
    }
    ULARGE_INTEGER available, total, totalFree;
    if (!GetDiskFreeSpaceExW(root.wvalue(), &available, &total, &totalFree)) {
        LogMessage(GetLastError(), kLabel, L"GetDiskFreeSpaceEx has failed for disk that contains <%s>", root.wvalue());
        return false;
    }
    LONGLONG free = static_cast<LONGLONG>(totalFree.QuadPart);
    if (free >= kRequiredFreeBytes) {
        LogMessage(0, kLabel, L"OK: disk <%s> has more than %I64d bytes free", root.wvalue(), kRequiredFreeBytes);
        return true;
    }
    LogMessage(0, kLabel, L"ERROR: not enough space on selected disk!!!  needed: %I64d bytes, available: %I64d",
               kRequiredFreeBytes, free);
    LogMessage(0, kLabel, L"selected disk is identified by <%s>", root.wvalue());
    return false;
}

void AppendVarnetFolder(XString& path) {
    path.setEncoding(XString::Unicode);
    if (!path.endsWith(L"\\")) path.concat(XString(L'\\'));
    if (path.indexOf(L"Varnet\\") < 0 && path.indexOf(L"Varguard\\") < 0) path.concat(XString(L"Varnet\\"));
}

bool CheckDependentPkgs() {
    const wchar_t kLabel[] = L"CheckDependentPkgs";
    LogMessage(0, kLabel, L"Begin");
    LogMessage(0, kLabel, L"Open key %s", kDependentsKey);
    std::wstring dependents;
    RegKey key;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDependentsKey, 0, KEY_READ, key.out());
    if (result == ERROR_SUCCESS) QueryKeyAndHandleValues(key.get(), AppendLine, &dependents);
    else LogMessage(result, kLabel, L"Error Opening key %s", kDependentsKey);
    key.reset();
    LogMessage(0, kLabel, L"dependentProducts = %s", dependents.c_str());
    if (dependents.empty()) return true;
    ShowMsgBox(GetMessageText(1114) + dependents.c_str() + GetMessageText(1115), MB_ICONERROR);
    return false;
}

void DeleteVarnetKeyFromAllUsers() { QueryKeyAndHandleSubKeys(HKEY_USERS, DeleteClientKeyOfUser, nullptr); }
