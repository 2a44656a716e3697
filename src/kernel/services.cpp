// Kernel driver and client service registration through the service manager.
#include "kernel/kernel.h"
#include "log/install_log.h"
#include "regdb/regdb.h"
#include "util/handles.h"

namespace {

const wchar_t kLabel[] = L"Drivers Controller";
const wchar_t kServicesKey[] = L"SYSTEM\\CurrentControlSet\\Services";
const wchar_t kEventLogKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Eventlog\\System";

struct ServiceCloser { void operator()(SC_HANDLE h) const { CloseServiceHandle(h); } };
using ServiceHandle = UniqueHandle<SC_HANDLE, ServiceCloser, nullptr>;

// Logs `format` with the last error, which is also the result.
DWORD Failed(const wchar_t* format) {
    DWORD code = GetLastError();
    LogMessage(code, kLabel, format, static_cast<int>(code));
    return code;
}

struct ClientService {
    const wchar_t* name;
    const wchar_t* changedLine;
    const wchar_t* openFailedLine;
};
const ClientService kClientServices[] = {
    {L"VN_Watchdog", L"SetServicesStatupType: ChangeServiceConfig vn_watchdog returned with %s",
     L"SetServicesStatupType: failed to open VN_Watchdog service (%x)"},
    {L"VN_Service", L"SetServicesStatupType: ChangeServiceConfig vn_service returned with %s",
     L"SetServicesStatupType: failed to open VN_Service service (%x)"},
};

}  // namespace

DWORD InstallGenericDriver(const wchar_t* name, const wchar_t* displayName, int bootStart, const wchar_t* imagePath,
                           const wchar_t* loadOrderGroup, const wchar_t* dependencies) {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return Failed(L"InstallGenericDriver: OpenSCManager failed (%d)");
    ServiceHandle service(CreateServiceW(manager.get(), name, displayName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                         bootStart ? SERVICE_BOOT_START : SERVICE_SYSTEM_START, SERVICE_ERROR_NORMAL,
                                         imagePath, loadOrderGroup, nullptr, dependencies, nullptr, nullptr));
    if (!service) return Failed(L"InstallGenericDriver: CreateService failed (%d)");
    RegKey eventLog;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEventLogKey, 0, KEY_CREATE_SUB_KEY, eventLog.out());
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabel, L"InstallGenericDriver: RegOpenKeyEx failed (%d)", static_cast<int>(result));
        return result;
    }
    // The source is registered by its key alone; no values.
    RegKey source;
    result = RegCreateKeyExW(eventLog.get(), name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                             source.out(), nullptr);
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabel, L"InstallGenericDriver: RegCreateKeyEx failed (%d)", static_cast<int>(result));
        return result;
    }
    return ERROR_SUCCESS;
}

DWORD UninstallService(const wchar_t* name) {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return Failed(L"UninstallService: OpenSCManager failed (%d)");
    ServiceHandle service(OpenServiceW(manager.get(), name, DELETE));
    if (!service || !DeleteService(service.get())) return Failed(L"UninstallService: DeleteService failed (%d)");
    return ERROR_SUCCESS;
}

int RemoveServiceRegKey(const wchar_t* parentKey, const wchar_t* name) {
    RegKey parent;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, parentKey, 0, KEY_SET_VALUE, parent.out());
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabel, L"RemoveServiceRegKey: RegOpenKeyEx failed (%x)", static_cast<unsigned>(result));
        return 0;
    }
    result = RegRecursiveDeleteKey(parent.get(), name);
    LogMessage(0, kLabel, L"RemoveServiceRegKey: RegRecursiveDeleteKey returned  (%x)", static_cast<unsigned>(result));
    return 1;
}

DWORD UninstallGenericDriver(const wchar_t* name) {
    DWORD result = UninstallService(name);
    LogMessage(result, kLabel, L"UninstallGenericDriver: UninstallService returned with %x", static_cast<unsigned>(result));
    // The keys go even when the manager no longer knows the service.
    LogMessage(0, kLabel, L"UninstallGenericDriver: remove services key %s",
               RemoveServiceRegKey(kServicesKey, name) ? L"succeded" : L"failed");
    LogMessage(0, kLabel, L"UninstallGenericDriver: remove eventlog key %s",
               RemoveServiceRegKey(kEventLogKey, name) ? L"succeded" : L"failed");
    return result;
}

int SetServicesStatupType(DWORD startType) {
    ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        LogMessage(GetLastError(), kLabel, L"SetServicesStatupType: failed to open SCManager (%x)",
                   static_cast<unsigned>(GetLastError()));
        return 0;
    }
    for (const ClientService& s : kClientServices) {
        ServiceHandle service(OpenServiceW(manager.get(), s.name, SERVICE_CHANGE_CONFIG));
        if (!service) {
            DWORD code = GetLastError();
            LogMessage(code, kLabel, s.openFailedLine, static_cast<unsigned>(code));
            continue;
        }
        BOOL changed = ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        LogMessage(0, kLabel, s.changedLine, changed ? L"true" : L"false");
    }
    return 1;
}
