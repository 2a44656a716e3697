// Kernel components, services and processes: the process runner and the
// command lines of the client's kernel tools.
#pragma once

#include <windows.h>

#include <string>

#include "util/xstring.h"

constexpr UINT kRunNotStarted = 82;
constexpr int kCommandChars = 256;

// Runs a command hidden; with `wait`, waits for it and appends its output to
// the install log. 0 started (and waited for), 82 not started. Without an
// `environment` block the child gets this process's.
UINT TamberCreateProcess(const wchar_t* commandLine, bool wait, const wchar_t* environment = nullptr);
UINT Tamber_RunProcess(const wchar_t* commandLine, bool wait, const wchar_t* environment = nullptr);

// A temporary directory for a child run as SYSTEM, whose own one any user can
// write: made fresh below the Windows directory at a name nobody can guess,
// writable only by SYSTEM and the Administrators, and removed with its
// contents when this goes.
class PrivateTempDir {
public:
    PrivateTempDir();
    ~PrivateTempDir();
    PrivateTempDir(const PrivateTempDir&) = delete;
    PrivateTempDir& operator=(const PrivateTempDir&) = delete;
    explicit operator bool() const { return !path_.empty(); }
    const std::wstring& Path() const { return path_; }
    DWORD Error() const { return error_; }  // why it could not be made
    // This process's environment block with TMP and TEMP naming the directory.
    std::wstring Environment() const;

private:
    std::wstring path_;
    DWORD error_ = 0;
};
UINT RunInstallScripts(const XString& installDir);
UINT RunUninstallScripts(const XString& installDir);

// Kernel tool commands; each takes the installation directory (ending with a
// backslash) and returns the run result.
UINT InstallBD(const XString& dir);
UINT RunBDKern(const XString& dir, const wchar_t* arguments);
UINT RunConn_config(const XString& dir, const wchar_t* arguments);
UINT updateSignBD(const XString& dir);
UINT UninstallBD(const XString& dir);
UINT InstallVNA(const XString& dir);
UINT UnInstallVNA(const XString& dir);
UINT UnhookVNA(const XString& dir);
UINT RemoveVNADevice(const XString& dir);
UINT RemoveVNAFromDriversCache(const XString& dir);
UINT RunXPDRV(const XString& dir);
UINT InstallBD_with_VN_SMS_service(const XString& dir);
UINT updateSignBD_with_VN_SMS_service(const XString& dir);
BOOL CopyBDsys(const XString& dir);

// --- Drivers and services ---

DWORD InstallGenericDriver(const wchar_t* name, const wchar_t* displayName, int bootStart, const wchar_t* imagePath,
                           const wchar_t* loadOrderGroup, const wchar_t* dependencies);
DWORD UninstallService(const wchar_t* name);
int RemoveServiceRegKey(const wchar_t* parentKey, const wchar_t* name);
DWORD UninstallGenericDriver(const wchar_t* name);
// Sets VN_Watchdog and VN_Service to `startType`: 1, or 0 without a manager.
int SetServicesStatupType(DWORD startType);

// --- Stopping the running client ---

constexpr DWORD kSearchFailed = 0xC0000001;
constexpr DWORD kProcessAccess = SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_TERMINATE;
constexpr DWORD kProcessAccessNoTerminate = SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
constexpr DWORD kStopWaitMs = 20000;
constexpr UINT kExitWatchdog = 0x1DEAD;
constexpr UINT kExitService = 0x2DEAD;
constexpr UINT kExitGui = 0x3DEAD;

int StopClientProcesses();
DWORD GetPlatformId(DWORD* platformId);
void InitClientProcessNames();
int EnablePrivilege(const char* privilege);
void StopServiceByName(const char* name);

// The removal sequence of every kernel component: the result of UninstallBD.
UINT RemoveKernelComponents(const XString& dir);
// Removes an older generation's virtual adapter (driver file, service,
// event-log source); logs under `label`. The kernel removal announces the
// call in the log; maintenance runs it without a line.
enum class AdapterCleanupLine { kAnnounced, kUnannounced };
void CleanUpLegacyAdapter(const wchar_t* label, AdapterCleanupLine line);
