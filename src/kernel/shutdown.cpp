// Stopping the running client before maintenance and removal. Nothing here
// logs; names are 8-bit texts.
#include <windows.h>

#include <cstring>
#include <vector>

#include "kernel/kernel.h"
#include "util/handles.h"

namespace {

constexpr int kNameBytes = 32;
char g_serviceName[kNameBytes];
char g_watchdogName[kNameBytes];
char g_dhcpName[kNameBytes];

using EnumProcessesFn = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);
using GetModuleFileNameExAFn = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);

class Library {
public:
    explicit Library(const char* name) : module_(LoadLibraryA(name)) {}
    ~Library() {
        if (module_) FreeLibrary(module_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    template <typename F> F Get(const char* entry) const {
        return ProcAddress<F>(module_, entry);
    }

private:
    HMODULE module_;
};

const char* BaseName(const char* path) {
    const char* slash = strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

// A process found by name: its handle stays open until the installer ends.
struct Found {
    DWORD id = 0;
    HANDLE handle = nullptr;
};

// A process sought by name: the first opened with kProcessAccess or, failing
// that and with `withFallback`, the first opened with
// kProcessAccessNoTerminate.
struct Sought {
    const char* name;
    bool withFallback;
    Found found;
    bool full;
};

// One pass over the running processes for all the names sought, each process
// named by its first module.
void FindAll(Sought* sought, size_t count) {
    Library psapi("PSAPI.DLL");
    auto enumProcesses = psapi.Get<EnumProcessesFn>("EnumProcesses");
    auto enumModules = psapi.Get<EnumProcessModulesFn>("EnumProcessModules");
    auto moduleName = psapi.Get<GetModuleFileNameExAFn>("GetModuleFileNameExA");
    if (!enumProcesses || !enumModules || !moduleName) return;

    std::vector<DWORD> ids;
    for (DWORD bytes = 1024;; bytes *= 2) {
        ids.assign(bytes / sizeof(DWORD), 0);
        DWORD filled = 0;
        if (!enumProcesses(ids.data(), bytes, &filled)) return;
        if (filled < bytes) {
            ids.resize(filled / sizeof(DWORD));
            break;
        }
    }
    for (DWORD id : ids) {
        HANDLE h = OpenProcess(kProcessAccess, FALSE, id);
        const bool full = h != nullptr;
        if (!full) h = OpenProcess(kProcessAccessNoTerminate, FALSE, id);
        if (!h) continue;
        HMODULE first = nullptr;
        DWORD needed = 0;
        char path[MAX_PATH] = "";
        if (enumModules(h, &first, sizeof first, &needed) && moduleName(h, first, path, MAX_PATH))
            for (Sought* s = sought; s != sought + count; ++s) {
                if (_stricmp(BaseName(path), BaseName(s->name)) != 0) continue;
                // A full match replaces a weaker one found earlier; nothing replaces a full one.
                if (s->full || (!full && (!s->withFallback || s->found.handle))) break;
                if (s->found.handle) CloseHandle(s->found.handle);
                s->found = {id, h};
                s->full = full;
                h = nullptr;
                break;
            }
        if (h) CloseHandle(h);
    }
}

// Waits for every found process of a group; on timeout ends each with its code.
void WaitOrTerminate(std::initializer_list<std::pair<Found*, UINT>> group) {
    std::vector<HANDLE> handles;
    for (const auto& member : group)
        if (member.first->handle) handles.push_back(member.first->handle);
    if (handles.empty()) return;
    DWORD waited = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, kStopWaitMs);
    if (waited != WAIT_TIMEOUT) return;
    for (const auto& member : group)
        if (member.first->handle) TerminateProcess(member.first->handle, member.second);
}

}  // namespace

DWORD GetPlatformId(DWORD* platformId) {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    *platformId = 0;
    if (!GetVersionExA(&info)) return kSearchFailed;
    *platformId = info.dwPlatformId;
    return 0;
}

void InitClientProcessNames() {
    DWORD platform = 0;
    GetPlatformId(&platform);
    const bool nt = platform == VER_PLATFORM_WIN32_NT;
    strncpy(g_serviceName, nt ? "VN_Service" : "Win9xService_wnd", kNameBytes - 1);
    strncpy(g_watchdogName, nt ? "VN_WatchDog" : "VN_WatchDog.exe", kNameBytes - 1);
    if (nt) strncpy(g_dhcpName, "VN_DHCP", kNameBytes - 1);
}

int EnablePrivilege(const char* privilege) {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token);
    TOKEN_PRIVILEGES wanted = {};
    if (!LookupPrivilegeValueA(nullptr, privilege, &wanted.Privileges[0].Luid)) {
        if (token) CloseHandle(token);
        return 0;
    }
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr);
    if (token) CloseHandle(token);
    return 1;
}

void StopServiceByName(const char* name) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (service) {
        SERVICE_STATUS status;
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

int StopClientProcesses() {
    DWORD platform = 0;
    GetPlatformId(&platform);
    InitClientProcessNames();
    const bool nt = platform == VER_PLATFORM_WIN32_NT;
    EnablePrivilege("SeDebugPrivilege");

    Sought sought[] = {{"VN_GUI.exe", false, {}, false},
                       {"VN_Service.exe", true, {}, false},
                       {"VN_WatchDog.exe", true, {}, false},
                       {"VN_DHCP.exe", false, {}, false}};
    FindAll(sought, nt ? 4 : 3);
    Found& gui = sought[0].found;
    Found& service = sought[1].found;
    Found& watchdog = sought[2].found;
    Found& dhcp = sought[3].found;

    if (watchdog.handle) {
        StopServiceByName(g_watchdogName);
        WaitOrTerminate({{&watchdog, kExitWatchdog}});
    }
    // The user interface goes with the main service, and only with it.
    if (service.handle) {
        StopServiceByName(g_serviceName);
        WaitOrTerminate({{&service, kExitService}, {&gui, kExitGui}});
    }
    if (nt && dhcp.handle) {
        StopServiceByName(g_dhcpName);
        WaitOrTerminate({{&dhcp, kExitWatchdog}});
    }
    return 0;
}
