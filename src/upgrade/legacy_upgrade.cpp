// Refusing a downgrade, and migrating from version 4.1, which kept files,
// keys and a GINA outside its installation directory.
#include <cstdlib>
#include <string>

#include "config/config.h"
#include "log/install_log.h"
#include "logon/logon.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "upgrade/upgrade.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

const wchar_t kClientKey[] = L"SOFTWARE\\Halvora\\Varnet";
const wchar_t kWinlogonKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

struct OldFile {
    bool inSystem32;
    const wchar_t* name;
};
const OldFile kOldFiles[] = {
    {false, L"bdenc.ini"},   {false, L"bduninst.exe"},  {true, L"bdnetcfg.dll"}, {true, L"hvrgina.dll"},
    {true, L"drivers\\bd.sys"}, {true, L"enterr.dll"}, {true, L"hvprod.dll"},   {true, L"entpm10.dll"},
    {true, L"kmpapi32.dll"},
};

const wchar_t* const kOldTrees[] = {
    L"SOFTWARE\\Halvora\\bd1",
    L"SOFTWARE\\Halvora\\Varnet",
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Varnet",
    L"SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_BDVNSERVICE",
};
struct OldValue {
    const wchar_t* key;
    const wchar_t* name;
};
const OldValue kOldValues[] = {
    {L"SOFTWARE\\Halvora\\Products", L"Varnet"},
    {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\bdenc.exe", L"path"},
    {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", L"bdenc.exe"},
};

// The 4.1 settings carried to OnMaintAfter: property, registry value.
const std::pair<const wchar_t*, const wchar_t*> kCarried[] = {
    {L"RegInfo41_SSOEnabled", L"SSOEnabled"},
    {L"RegInfo41_SDLEnabled", L"SDLEnabled"},
};

int InstalledNumber(const wchar_t* name, LONG* result) {
    DWORD type = 0, size = 0;
    XString text(L"0");
    *result = TamberRegDB(HKEY_LOCAL_MACHINE).GetKeyValueEx(kClientKey, name, &type, &text, &size);
    if (*result != ERROR_SUCCESS) {
        LogMessage(*result, L"IsDowngrade", L"'%s' was not found on the install machine", name);
        return 0;
    }
    text.setEncoding(XString::Unicode);
    return _wtoi(text.wvalue());
}

}  // namespace

int IsDowngrade() {
    int newMajor = 0, newMinor = 0;
    GetProductINI_intValue(L"MajorVersion", newMajor);
    GetProductINI_intValue(L"MinorVersion", newMinor);
    if (newMajor <= 0 || newMinor <= 0) {
        StopWithMessage(1106);
        return 1;
    }
    LONG majorRead = 0, minorRead = 0;
    const int major = InstalledNumber(L"MajorVersion", &majorRead);
    const int minor = InstalledNumber(L"MinorVersion", &minorRead);
    LogMessage(minorRead, L"IsDowngrade", L"MajorVerNo=%d MinorVerNo=%d NewMajorVerNo=%d, NewMinorVerNo=%d", major, minor,
               newMajor, newMinor);
    // The majors decide first.
    if (newMajor < major || (newMajor == major && newMinor < minor)) {
        StopWithMessage(1107);
        return 1;
    }
    return 0;
}

bool WarnOn4_1Upgrade() {
    bool goOn = ShowMsgBoxById(1116, MB_OKCANCEL | MB_ICONEXCLAMATION) != IDCANCEL;
    LogMessage(0, L"WarnOn4_1Upgrade", L"returns with %s", goOn ? L"true" : L"false");
    return goOn;
}

int Remove4_1WinFiles() {
    const wchar_t kLabel[] = L"Remove4_1WinFiles";
    wchar_t windows[257] = L"";
    DWORD needed = ExpandEnvironmentStringsW(L"%windir%", windows, 257);
    if (needed == 0 || needed > 256) {
        LogMessage(0, kLabel, L"Can't get widdir directory - valueBuff too short (%d)\n", 100);
        return -1;
    }
    for (const OldFile& f : kOldFiles) {
        std::wstring path = std::wstring(windows) + (f.inSystem32 ? L"\\system32\\" : L"\\") + f.name;
        if (!DeleteFileW(path.c_str())) LogMessage(0, kLabel, L"Failed to DeleteFile (%s)\n", f.name);
    }
    return 0;
}

int Backup4_1RegistryInfo() {
    const wchar_t kLabel[] = L"Backup4_1RegistryInfo";
    LogMessage(0, kLabel, L"starting");
    RegKey client;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClientKey, 0, KEY_QUERY_VALUE, client.out()) != ERROR_SUCCESS) {
        LogMessage(0, kLabel, L"'failed to open VN reg key");
        return 0;
    }
    for (const auto& carried : kCarried) {
        DWORD value = 0, bytes = sizeof value;
        if (RegQueryValueExW(client.get(), carried.second, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &bytes) !=
            ERROR_SUCCESS)
            value = 0;
        LogMessage(0, kLabel, (std::wstring(carried.second) + L": %d.").c_str(), static_cast<int>(value));
        SetProperty(carried.first, value ? L"true" : L"false", true);
    }
    return 1;
}

int Remove4_1RegistryKeys() {
    for (const wchar_t* tree : kOldTrees) RegRecursiveDeleteKey(HKEY_LOCAL_MACHINE, tree);
    for (const OldValue& v : kOldValues) delRegistryValue(HKEY_LOCAL_MACHINE, v.key, v.name);
    return 0;
}

int Remove4_1StartMenu() {
    XString folder(L"%ALLUSERSPROFILE%\\Start Menu\\Programs\\Varnet\\");
    if (!Tamber_ExpandEnvironmentStrings(folder)) return 0;
    if (!HV_DeleteFile(folder + L"Varguard.lnk") && !HV_DeleteFile(folder + L"Varnet.lnk")) return 0;
    return HV_DeleteDir(folder) ? 1 : 0;
}

int Restore4_1RegistryInfo() {
    const wchar_t kLabel[] = L"Restore4_1RegistryInfo";
    LogMessage(0, kLabel, L"starting");
    bool allWritten = true;
    for (const auto& carried : kCarried) {
        XString flag;
        if (GetProperty(carried.first, &flag) != ERROR_SUCCESS || !flag.equals(L"true")) continue;
        int result = setRegistryDWORDValue(HKEY_LOCAL_MACHINE, kClientKey, carried.second, L"1");
        LogMessage(0, kLabel, (std::wstring(carried.first) + L" is true; write returned %d.").c_str(), result);
        allWritten = allWritten && result > 0;
    }
    return allWritten ? 1 : 0;
}

int Upgrade4_1Gina() {
    XString gina;
    if (getGinaName(&gina) && IsOwnGina(gina)) {
        LogMessage(0, L"Upgrade4_1Gina", L"replacing gina dll to hvrginashim");
        setRegistryStringValue(HKEY_LOCAL_MACHINE, kWinlogonKey, L"GinaDLL", L"hvrginashim.dll");
    }
    return 1;
}

int DeletePolicyFiles() {
    const wchar_t kLabel[] = L"DeletePolicyFiles";
    XString dir;
    UINT result = GetProperty(L"tamber_old_installed_path", &dir);
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabel, L"Failed to GetProperty: tamber_old_installed_path");
        return 0;
    }
    XString path = dir + L"\\policy";
    LogMessage(0, kLabel, L"removing: %s", path.wvalue());
    DeleteDirTree(path.wvalue());
    return 1;
}

void IncludeBrandingFiles(const XString& installDir) {
    if (IsProductINIvalueTrue(L"IncludeBrandingFiles", 0)) return;  // the package's branding stays
    XString dir = installDir;
    dir.setEncoding(XString::Unicode);
    HV_DeleteFile(dir + L"authmsg.txt");
    HV_DeleteFile(dir + L"logo.bmp");
}

void HandleDefaultPolicy() {
    const wchar_t kLabel[] = L"HandleDefaultPolicy";
    if (!IsProductINIvalueTrue(L"EnableDefaultPolicy", 1)) {
        LogMessage(0, kLabel, L"'No default policy will be set");
        return;
    }
    XString path = GetWinDir() + L"System32\\default.bin";
    setRegistryStringValue(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\BD1\\Parameters",
                           L"DefaultPolicy", path.wvalue());
    LogMessage(0, kLabel, L"'Setting default policy file as %s", path.wvalue());
}
