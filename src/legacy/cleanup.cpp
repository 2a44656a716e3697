#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "legacy/legacy.h"
#include "log/install_log.h"
#include "regdb/regdb.h"
#include "util/handles.h"

namespace {

const wchar_t kLabel[] = L"addreg_DeleteRegistryOnUninstall";
const char kClientKey[] = "SOFTWARE\\Halvora\\VARNET";
const char kKeptSubkey[] = "SCV";
const char kOldFirewallKey[] = "SOFTWARE\\Halvora\\BD1";
const char kEventLogKey[] = "System\\CurrentControlSet\\Services\\EventLog\\System";
const char kDefaultUserKey[] = ".DEFAULT\\Software\\Halvora\\Varnet";
const char* const kInfMarkers[] = {"NM_VDEV", "HV_OMVA", "hv_bd1", "hv_bd1mp"};
const char* const kInfPatterns[] = {"oem*", "netbd*"};
constexpr int kMaxDeleteIterations = 1000;
constexpr DWORD kForceDelete = 1;  // SUOI_FORCEDELETE

bool IsWin9x() {
    DWORD platform = 0;
    GetPlatformId(&platform);
    return platform == VER_PLATFORM_WIN32_WINDOWS;
}

std::string Format(const char* format, const char* a, const char* b = "", const char* c = "") {
    char text[1024];
    _snprintf(text, sizeof text, format, a, b, c);
    text[sizeof text - 1] = 0;
    return text;
}

// Deletes a key and everything below it: 0, or -1. Each key is opened itself:
// a registry link is deleted as a link, never what it leads to.
int DeleteTree(HKEY parent, const char* subKey) {
    RegKey key;
    if (RegOpenKeyExA(parent, subKey, REG_OPTION_OPEN_LINK, KEY_ALL_ACCESS, key.out()) != ERROR_SUCCESS) return -1;
    LONG unlinked = ERROR_SUCCESS;
    if (DeletedAsLink(key.get(), kLabel, Widened(subKey).wvalue(), &unlinked))
        return unlinked == ERROR_SUCCESS ? 0 : -1;
    DWORD index = 0;
    for (int i = 0; i < kMaxDeleteIterations; ++i) {
        char name[MAX_PATH];
        LONG result = RegEnumKeyA(key.get(), index, name, MAX_PATH);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || DeleteTree(key.get(), name) != 0) ++index;  // leave it, look further
    }
    return DeleteOpenKey(key.get()) == ERROR_SUCCESS ? 0 : -1;
}

// Walks the subkeys of `key`; `remove` says which go. A subkey that cannot be
// deleted (or read) is passed over, so the walk always ends.
template <typename Remove> void PruneSubkeys(HKEY key, Remove remove) {
    DWORD index = 0;
    for (;;) {
        char name[250];
        LONG result = RegEnumKeyA(key, index, name, sizeof name);
        if (result == ERROR_NO_MORE_ITEMS) return;
        // Only a name too long for the buffer belongs to its index; any other
        // failure (the key gone, say) would come back for every index.
        if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) return;
        if (result != ERROR_SUCCESS || !remove(name) || DeleteTree(key, name) != 0) ++index;
    }
}

// A value as 8-bit text, read into a buffer sized by a first query.
bool ReadText(HKEY root, const char* key, const char* value, std::string* text) {
    RegKey handle;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, handle.out()) != ERROR_SUCCESS) return false;
    DWORD bytes = 0;
    if (RegQueryValueExA(handle.get(), value, nullptr, nullptr, nullptr, &bytes) != ERROR_SUCCESS) return false;
    std::vector<char> data(bytes + 2, '\0');
    if (RegQueryValueExA(handle.get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &bytes) !=
        ERROR_SUCCESS)
        return false;
    *text = data.data();
    return true;
}

struct Broadcast {
    UINT message;
    WPARAM version;
};

BOOL CALLBACK SendToWindow(HWND window, LPARAM context) {
    const Broadcast* b = reinterpret_cast<const Broadcast*>(context);
    SendMessageA(window, b->message, b->version, 0);
    return TRUE;
}

bool FileHoldsMarker(const std::string& path) {
    FILE* f = fopen(path.c_str(), "r");
    if (!f) return false;
    char line[256];
    bool found = false;
    while (!found && fgets(line, sizeof line, f))
        for (const char* marker : kInfMarkers) found = found || strstr(line, marker) != nullptr;
    fclose(f);
    return found;
}

std::string PolicyKey() { return Format("%s\\5.0\\policy", kClientKey); }

// "policy.reg" in the temporary directory; empty when there is none.
std::string PolicySavePath() {
    char temp[250] = "";
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n >= sizeof temp) return std::string();
    return Format("%spolicy.reg", temp);
}

}  // namespace

void BroadcastKillBdEnc(const char* version) {
    UINT message = RegisterWindowMessageA("kill-bdenc");
    char text[64] = "";
    strncpy(text, version ? version : "", sizeof text - 1);
    char* dot = strchr(text, '.');
    if (!dot) {
        OutputDebugStringA("BroadcastKillBdEnc: the version has no dot; nothing sent\n");
        return;
    }
    *dot = 0;
    std::string digits = std::string(text) + (dot + 1);
    Broadcast b = {message, static_cast<WPARAM>(atoi(digits.c_str())) * 10000};
    EnumWindows(SendToWindow, reinterpret_cast<LPARAM>(&b));
}

void RemoveOldBdEncService() {
    if (IsWin9x()) {
        RegKey runServices;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices", 0,
                          KEY_WRITE, runServices.out()) == ERROR_SUCCESS)
            RegDeleteKeyA(runServices.get(), "bdenc.exe");
        return;
    }
    std::string dir, version;
    if (!ReadText(HKEY_LOCAL_MACHINE, kOldFirewallKey, "BDDIR", &dir) &&
        !(ReadText(HKEY_LOCAL_MACHINE, kOldFirewallKey, "CurrentVersion", &version) &&
          ReadText(HKEY_LOCAL_MACHINE, Format("%s\\%s", kOldFirewallKey, version.c_str()).c_str(), "BDDIR", &dir)))
        return;
    const std::string tool = Format("%s\\bin\\bdvnservice.exe", dir.c_str());
    _spawnl(_P_WAIT, tool.c_str(), "-remove", nullptr);
}

void addreg_w2K_omva_cleanup(const char* windowsDir) {
    if (!windowsDir || !*windowsDir) {
        OutputDebugStringA("omva_cleanp: no Windows directory; omva.sys is left");
    } else {
        const std::string driver = Format("%ssystem32\\drivers\\omva.sys", windowsDir);
        if (!DeleteFileA(driver.c_str())) OutputDebugStringA("omva_cleanp: failed to remove omva.sys");
    }

    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        OutputDebugStringA("omva_cleanup:failed to open service control manager");
    } else {
        SC_HANDLE service = OpenServiceA(manager, "OMVA", DELETE);
        if (!service) {
            OutputDebugStringA("omva_cleanup:failed to open OMVA Service for delete");
        } else if (DeleteService(service)) {
            OutputDebugStringA("omva_cleanp: cleaned OMVA service from registry");
        } else if (GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE) {
            OutputDebugStringA("omva_cleanp: OMVA service already marked for deletion");
        } else {
            OutputDebugStringA("omva_cleanp: failed to clean OMVA service from registry");
        }
        if (service) CloseServiceHandle(service);
        CloseServiceHandle(manager);
    }
    if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, Format("%s\\OMVA", kEventLogKey).c_str()) != ERROR_SUCCESS)
        OutputDebugStringA("omva_cleanp: failed to remove OMVA from event log service");
}

void addreg_DeleteRegistryOnUninstall() {
    const bool win9x = IsWin9x();
    RegKey client;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kClientKey, 0, KEY_ALL_ACCESS, client.out()) == ERROR_SUCCESS) {
        PruneSubkeys(client.get(), [](const char* name) { return strcmp(name, kKeptSubkey) != 0; });
        RegDeleteValueA(client.get(), "SSOEnabled");
        RegDeleteValueA(client.get(), "SDLEnabled");
    }
    client.reset();

    RegKey plugins;
    const std::string pluginKey = Format("%s\\%s\\%s", kClientKey, kKeptSubkey, "Plugins");
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, pluginKey.c_str(), 0, KEY_ALL_ACCESS, plugins.out()) == ERROR_SUCCESS) {
        HKEY list = plugins.get();
        PruneSubkeys(list, [list](const char* name) {
            DWORD remove = 0, bytes = sizeof remove;
            RegKey plugin;
            if (RegOpenKeyExA(list, name, 0, KEY_READ, plugin.out()) == ERROR_SUCCESS)
                RegQueryValueExA(plugin.get(), "RemoveInUninstall", nullptr, nullptr, reinterpret_cast<BYTE*>(&remove),
                                 &bytes);
            return remove != 0;
        });
    }
    plugins.reset();

    // The users' keys are opened without following a link on the way: a user
    // may have made one lead to a machine key.
    if (win9x) {
        RegDeleteKeyA(HKEY_USERS, kDefaultUserKey);
    } else {
        RegKey defaultUser;
        if (OpenKeyWithoutLinks(HKEY_USERS, Widened(kDefaultUserKey).wvalue(), KEY_ALL_ACCESS, &defaultUser) ==
            ERROR_SUCCESS)
            PruneSubkeys(defaultUser.get(), [](const char*) { return true; });
    }

    RegKey eventLog;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEventLogKey, 0, KEY_ALL_ACCESS, eventLog.out()) == ERROR_SUCCESS)
        DeleteTree(eventLog.get(), "BD1");

    for (DWORD index = 0;; ++index) {
        char hive[MAX_PATH];
        if (RegEnumKeyA(HKEY_USERS, index, hive, MAX_PATH) != ERROR_SUCCESS) break;
        RegKey halvora;
        if (OpenKeyWithoutLinks(HKEY_USERS, Widened(Format("%s\\Software\\Halvora", hive).c_str()).wvalue(),
                                KEY_ALL_ACCESS, &halvora) == ERROR_SUCCESS)
            DeleteTree(halvora.get(), "Varnet");
    }
}

SavedCopy SavePolicyKey() {
    RegKey policy;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PolicyKey().c_str(), 0, KEY_ALL_ACCESS, policy.out()) != ERROR_SUCCESS)
        return SavedCopy();
    const std::string path = PolicySavePath();
    if (path.empty()) return SavedCopy();
    // A file there that cannot be deleted may be planted: nothing is saved.
    if (!DeleteFileA(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return SavedCopy();
    EnablePrivilege("SeBackupPrivilege");
    if (RegSaveKeyA(policy.get(), path.c_str(), nullptr) != ERROR_SUCCESS) return SavedCopy();
    return SavedCopy{XString(path.c_str()), CurrentAccountSid()};
}

void RestorePolicyKey(const SavedCopy& saved) {
    // Without a record the usual path is looked at all the same, so that the
    // log names a file found there.
    XString path = saved.path.length() > 0 ? saved.path : XString(PolicySavePath().c_str());
    KernelHandle held;
    if (path.length() == 0 || OpenSavedCopy(L"RestorePolicyKey", saved, path, &held) != SavedCopyState::kTrusted)
        return;
    std::string narrow;
    if (!NarrowPath(L"RestorePolicyKey", Widened(path).wvalue(), MAX_PATH, &narrow)) return;
    RegKey policy;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, PolicyKey().c_str(), 0, KEY_ALL_ACCESS, policy.out()) != ERROR_SUCCESS)
        return;
    EnablePrivilege("SeRestorePrivilege");
    RegRestoreKeyA(policy.get(), narrow.c_str(), REG_FORCE_RESTORE);
    held.reset();  // the delete needs the file unshared
    DeleteFileA(narrow.c_str());
}

int addreg_CleanKernelINF() {
    addreg_RemoveINF();
    return 0;
}

int addreg_RemoveINF() {
    using UninstallOemInf = BOOL(WINAPI*)(PCSTR, DWORD, PVOID);
    HMODULE setupapi = LoadLibraryA("Setupapi.dll");
    UninstallOemInf uninstall = ProcAddress<UninstallOemInf>(setupapi, "SetupUninstallOEMInfA");
    int result = 0;
    char windows[261] = "";
    UINT n = GetWindowsDirectoryA(windows, sizeof windows);
    if (n == 0 || n >= sizeof windows) {
        result = -1;
    } else {
        const std::string dir = Format("%s\\inf", windows);
        int deleted = 0;
        for (const char* pattern : kInfPatterns) {
            WIN32_FIND_DATAA entry;
            HANDLE find = FindFirstFileA(Format("%s\\%s%s", dir.c_str(), pattern, ".inf").c_str(), &entry);
            if (find == INVALID_HANDLE_VALUE) {
                result = -1;  // nothing to list stops the whole search
                break;
            }
            do {
                const std::string path = Format("%s\\%s", dir.c_str(), entry.cFileName);
                if (!FileHoldsMarker(path)) continue;
                if (uninstall) {
                    uninstall(entry.cFileName, kForceDelete, nullptr);
                    continue;
                }
                deleted += DeleteFileA(path.c_str()) ? 1 : 0;
                const std::string pnf = path.substr(0, path.size() - 4) + ".PNF";
                deleted += DeleteFileA(pnf.c_str()) ? 1 : 0;
            } while (FindNextFileA(find, &entry));
            FindClose(find);
        }
        if (result == 0) result = deleted;
    }
    if (setupapi) FreeLibrary(setupapi);
    // printf would link the runtime's own formatter; this is the system one.
    char exitLine[64];
    _snprintf(exitLine, sizeof exitLine, "addreg_RemoveINF:: Exit, RC %d\n", result);
    fputs(exitLine, stdout);
    return result;
}
