#include <io.h>

#include <string>

#include "config/config.h"
#include "log/install_log.h"
#include "logon/logon.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "system/system.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

const wchar_t kWinlogonKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const wchar_t kClientKey[] = L"SOFTWARE\\Halvora\\Varnet";
const wchar_t kTimeoutsKey[] = L"SOFTWARE\\Halvora\\VARNET\\SdlTimeouts";
const wchar_t kNetlogonKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters";
const wchar_t kNetBTKey[] = L"SYSTEM\\CurrentControlSet\\Services\\NetBT\\Parameters";
const wchar_t kShimGina[] = L"hvrginashim.dll";
constexpr DWORD kGinaBytes = 128;
constexpr int kNarrowDirBytes = 256;
constexpr DWORD kDefaultNetlogonTimeout = 45;
constexpr DWORD kScavengeInterval = 60;

using SetNPFn = int(WINAPI*)(const char*);
using DelNPFn = int(WINAPI*)();
using EnableDisableSDLFn = int(WINAPI*)(int, HKEY, const char*);

const wchar_t* const kSdlTimeouts[] = {L"SdlDTimeout", L"SdlOTimeout", L"SdlPTimeout",
                                       L"SdlRTimeout", L"SdlSpTimeout", L"SdlStTimeout"};

// The package's logon library, loaded from the installation's bin (and kept
// loaded), with the installation directory also as narrow text.
struct LogonLibrary {
    HMODULE module = nullptr;
    std::string narrowDir;
};

bool LoadLogonLibrary(const wchar_t* label, LogonLibrary* library) {
    XString dir;
    GetTargetPath(L"INSTALLDIR", &dir);
    // An empty directory would load the library from the root of the current
    // drive; a cut or best-fitted one would register another path.
    if (dir.length() == 0) {
        LogMessage(0, label, L"the installation directory <%s> cannot be given to LogonISReg.dll", dir.wvalue());
        return false;
    }
    if (!NarrowPath(label, Widened(dir).wvalue(), kNarrowDirBytes, &library->narrowDir)) return false;
    AddInstDirToPath(dir.wvalue());
    if (!dir.endsWith(L"\\")) dir.concat(XString(L'\\'));
    XString path = dir + L"bin\\LogonISReg.dll";
    library->module = LoadLibraryW(path.wvalue());
    if (!library->module) {
        DWORD error = GetLastError();
        LogMessage(error, label, L"failed to load library %s, error %d.", path.wvalue(), static_cast<int>(error));
        return false;
    }
    return true;
}

template <typename F> F Export(const LogonLibrary& library, const char* name) {
    return ProcAddress<F>(library.module, name);
}

bool ReadDword(HKEY key, const wchar_t* name, DWORD* value) {
    DWORD bytes = sizeof *value;
    return RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &bytes) == ERROR_SUCCESS;
}

void WriteDword(HKEY key, const wchar_t* name, DWORD value) {
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// Reads a Winlogon string value into 128 bytes; a longer one counts as absent.
bool ReadWinlogon(const wchar_t* value, XString* text, const wchar_t* label, bool* opened) {
    RegKey key;
    *opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWinlogonKey, 0, KEY_QUERY_VALUE, key.out()) == ERROR_SUCCESS;
    if (!*opened) {
        LogMessage(0, label, L"failed to open registry key winlogon");
        return false;
    }
    wchar_t buffer[kGinaBytes / sizeof(wchar_t) + 1] = L"";
    DWORD bytes = kGinaBytes;
    if (RegQueryValueExW(key.get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes) != ERROR_SUCCESS)
        return false;
    *text = XString(buffer);
    return true;
}

}  // namespace

bool IsOwnGina(const XString& name) { return XString(name).startsWith(L"hvr"); }

bool getGinaName(XString* name) {
    const wchar_t kLabel[] = L"getGinaName";
    bool opened = false;
    XString read;
    if (!ReadWinlogon(L"GinaDLL", &read, kLabel, &opened)) {
        if (opened) LogMessage(0, kLabel, L"no GinaDLL");
        return false;
    }
    *name = read;
    LogMessage(0, kLabel, L"files name is: %s", name->wvalue());
    return true;
}

bool GetHvrOldGina(XString* name) {
    const wchar_t kLabel[] = L"GetHvrOldGina";
    bool opened = false;
    XString old;
    if (!ReadWinlogon(L"HvrOldGina", &old, kLabel, &opened)) {
        if (opened) LogMessage(0, kLabel, L"failed to open hvrOldGina value");
        return false;
    }
    if (old.length() == 0) {
        LogMessage(0, kLabel, L"hvroldgina is empty");
        return false;
    }
    wchar_t system[MAX_PATH] = L"";
    if (!GetSystemDirectoryW(system, MAX_PATH)) {
        LogMessage(0, kLabel, L"failed to get system directory");
        return false;
    }
    std::wstring full = std::wstring(system) + L"\\" + old.wvalue();
    LogMessage(0, kLabel, L"file name is: %s ", full.c_str());
    if (_waccess(full.c_str(), 0) != 0) {
        LogMessage(0, kLabel, L"failed to get access to oldhvrgina file");
        return false;
    }
    *name = old;
    return true;
}

void RestoreOldGina() {
    const wchar_t kLabel[] = L"RestoreOldGina";
    XString gina, old;
    if (getGinaName(&gina) && IsOwnGina(gina)) {
        LogMessage(0, kLabel, L"delete GinaDLL");
        delRegistryValue(HKEY_LOCAL_MACHINE, kWinlogonKey, L"GinaDLL");
        if (GetHvrOldGina(&old)) {
            LogMessage(0, kLabel, L"restore hvroldgina");
            setRegistryStringValue(HKEY_LOCAL_MACHINE, kWinlogonKey, L"GinaDLL", old.wvalue());
        }
    }
    delRegistryValue(HKEY_LOCAL_MACHINE, kWinlogonKey, L"HvrOldGina");
}

void HandleSDLSupport() {
    const bool vista = isVista();
    XString gina(L"");
    getGinaName(&gina);
    if (IsProductINIvalueTrue(L"EnableSDL", 0)) {
        if (vista) {
            LogMessage(0, L"HandleSDLSupport", L"enabling PLAP");
            TamberEnableVistaPLAP();
            return;
        }
        LogMessage(0, L"HandleSDLSupport", L"enabling gina SDL");
        // A second run finds the shim in place and keeps the remembered GINA.
        if (!IsOwnGina(gina)) {
            setRegistryStringValue(HKEY_LOCAL_MACHINE, kWinlogonKey, L"GinaDLL", kShimGina);
            setRegistryStringValue(HKEY_LOCAL_MACHINE, kWinlogonKey, L"HvrOldGina", gina.wvalue());
        }
        TamberEnableSDL();
    }
    if (IsProductINIvalueTrue(L"Support3rdPartyGina", 1)) {
        regInsertSection(L"Support3rdPartyGina");
        if (!IsOwnGina(gina)) setRegistryStringValue(HKEY_LOCAL_MACHINE, kClientKey, L"ThirdPartyGina", gina.wvalue());
    } else {
        regInsertSection(L"NOT_Support3rdPartyGina");
    }
}

void TamberEnableSDL() {
    LogMessage(0, L"TamberEnableSDL", L"EnableSDL is true; write returned %d.",
               setRegistryDWORDValue(HKEY_LOCAL_MACHINE, kClientKey, L"SDLEnabled", L"1"));
    XString dir;
    GetTargetPath(L"INSTALLDIR", &dir);
    if (!dir.endsWith(L"\\")) dir.concat(XString(L'\\'));
    TamberSetNetlogonTimeoutParameters((dir + L"product.ini").wvalue());
    TamberSetLmhostLookupParam();
}

int TamberSetNetlogonTimeoutParameters(const wchar_t* settingsFile) {
    const wchar_t kLabel[] = L"TamberSetNetlogonTimeoutParameters";
    DWORD netlogon = GetPrivateProfileIntW(L"Version", L"SdlNetlogonTimeout", 0, settingsFile);
    if (netlogon == 0) netlogon = kDefaultNetlogonTimeout;
    DWORD timeouts[6];
    bool anyTimeout = false;
    for (int i = 0; i < 6; ++i) {
        timeouts[i] = GetPrivateProfileIntW(L"Version", kSdlTimeouts[i], 0, settingsFile);
        anyTimeout = anyTimeout || timeouts[i] != 0;
    }
    RegKey key;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNetlogonKey, 0, KEY_ALL_ACCESS, key.out());
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabel, L"failed to open key (%d)", static_cast<int>(result));
        return 0;
    }
    // The former values are kept for whoever takes the change back.
    DWORD old = 0;
    if (ReadDword(key.get(), L"ExpectedDialupDelay", &old)) WriteDword(key.get(), L"OldExpectedDialupDelay", old);
    WriteDword(key.get(), L"ExpectedDialupDelay", netlogon);
    if (ReadDword(key.get(), L"ScavengeInterval", &old)) WriteDword(key.get(), L"OldScavengeInterval", old);
    WriteDword(key.get(), L"ScavengeInterval", kScavengeInterval);
    if (anyTimeout) {
        RegKey sdl;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTimeoutsKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, sdl.out(), nullptr) == ERROR_SUCCESS)
            for (int i = 0; i < 6; ++i)
                if (timeouts[i]) WriteDword(sdl.get(), kSdlTimeouts[i], timeouts[i]);
    }
    LogMessage(0, kLabel, L"ended with success");
    return 1;
}

int TamberSetLmhostLookupParam() {
    const wchar_t kLabel[] = L"TamberSetLmhostLookupParam";
    bool ok = false;
    RegKey key;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kNetBTKey, 0, KEY_ALL_ACCESS, key.out());
    DWORD enabled = 0, bytes = sizeof enabled;
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabel, L"failed to open key (%d)", static_cast<int>(result));
    } else if ((result = RegQueryValueExW(key.get(), L"EnableLMHOSTS", nullptr, nullptr,
                                          reinterpret_cast<BYTE*>(&enabled), &bytes)) != ERROR_SUCCESS) {
        LogMessage(result, kLabel, L"failed to query value (%d)", static_cast<int>(result));
    } else if (enabled != 0) {
        ok = true;
    } else {
        DWORD one = 1;
        if ((result = RegSetValueExW(key.get(), L"EnableLMHOSTS", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one),
                                     sizeof one)) != ERROR_SUCCESS)
            LogMessage(result, kLabel, L" failed to set EnableLMHOSTS value (%d)", static_cast<int>(result));
        else if ((result = RegSetValueExW(key.get(), L"VnLMHOSTSRevert", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one),
                                          sizeof one)) != ERROR_SUCCESS)
            LogMessage(result, kLabel, L"  failed to set VnLMHOSTSRevert value (%d)", static_cast<int>(result));
        else
            ok = true;
    }
    key.reset();
    LogMessage(0, kLabel, L"ended with %s", ok ? L"success" : L"failure");
    return ok ? 1 : 0;
}

int TamberEnableVistaNP() {
    const wchar_t kLabel[] = L"TamberEnableVistaNP";
    LogonLibrary library;
    if (!LoadLogonLibrary(kLabel, &library)) return 0;
    auto setNP = Export<SetNPFn>(library, "SetNP");
    if (!setNP) {
        DWORD error = GetLastError();
        LogMessage(error, kLabel, L"failed to get proc address, error %d.", static_cast<int>(error));
        return 0;
    }
    LogMessage(0, kLabel, L"registering NP.");
    if (!setNP(library.narrowDir.c_str())) LogMessage(0, kLabel, L"failed to register NP.");
    return 1;
}

int TamberEnableVistaPLAP() {
    const wchar_t kLabel[] = L"TamberEnableVistaPLAP";
    RegKey root;
    LONG result = RegOpenKeyW(HKEY_LOCAL_MACHINE, kClientKey, root.out());
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabel, L"could not open VNRoot regkey, error %d.", static_cast<int>(result));
        return 0;
    }
    LogonLibrary library;
    if (!LoadLogonLibrary(kLabel, &library)) return 0;
    auto enable = Export<EnableDisableSDLFn>(library, "EnableDisableSDL");
    if (!enable) {
        DWORD error = GetLastError();
        LogMessage(error, kLabel, L"failed to get proc address, error %d.", static_cast<int>(error));
        return 0;
    }
    LogMessage(0, kLabel, L"Enabling SDL.");
    if (!enable(1, root.get(), library.narrowDir.c_str())) LogMessage(0, kLabel, L"failed to enable SDL.");
    return 1;
}

void TamberRemoveVistaNP() {
    const wchar_t kLabel[] = L"TamberRemoveVistaNP";
    RegKey root;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClientKey, 0, KEY_QUERY_VALUE, root.out());
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabel, L"could not open VNRoot regkey, error %d.", static_cast<int>(result));
        return;
    }
    LogonLibrary library;
    if (!LoadLogonLibrary(kLabel, &library)) return;
    auto enable = Export<EnableDisableSDLFn>(library, "EnableDisableSDL");
    auto delNP = Export<DelNPFn>(library, "DelNP");
    if (!enable || !delNP) {
        DWORD error = GetLastError();
        LogMessage(error, kLabel, L"failed to get proc address, error %d.", static_cast<int>(error));
        return;
    }
    DWORD sdl = 0;
    ReadDword(root.get(), L"SDLEnabled", &sdl);
    if (sdl) {
        LogMessage(0, kLabel, L"SDL enabled going to disable it");
        enable(0, root.get(), library.narrowDir.c_str());
    }
    LogMessage(0, kLabel, L"del NP");
    delNP();
}

bool CopySignedBDfiles(const XString& installDir) {
    XString dir = installDir;
    dir.setEncoding(XString::Unicode);
    bool copied = true;
    for (const wchar_t* file : {L"netbdvn.cat", L"omva.cat", L"netbdvn.inf"}) {
        copied = HV_CopyFile(dir + L"boot\\modules\\xp_signed_modules\\" + file, dir + L"boot\\modules\\" + file) != 0;
        if (!copied) break;
    }
    LogMessage(0, L"CopySignedBDfiles", L"result: %s.", copied ? L"success" : L"failure");
    return copied;
}
