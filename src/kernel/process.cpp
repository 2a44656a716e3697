#include <windows.h>

#include <cstdarg>
#include <cwchar>
#include <string>

#include "kernel/command_line.h"
#include "kernel/kernel.h"
#include "log/install_log.h"
#include "session/session.h"
#include "system/system.h"
#include "upgrade/upgrade.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

const wchar_t kLabelCreate[] = L"TamberCreateProcess";
const wchar_t kLabelRun[] = L"Tamber_RunProcess";
const wchar_t kLabelScripts[] = L"Drivers Controller";
const wchar_t kInstallerVariable[] = L"HV_MSI_INSTALLER";
const wchar_t kPrivatePrefix[] = L"TamberTmp";
const wchar_t* const kTempVariables[] = {L"TEMP", L"TMP"};

// Builds and logs the script runner's line for `mode`.
bool ScriptCommand(const XString& dir, const wchar_t* mode, wchar_t (&command)[kCommandChars]) {
    if (!FormatCommandLine(command, kLabelScripts, L"\"%shvexec.exe\"  -i \"%sproduct.ini\" -m %s", dir.wvalue(),
                           dir.wvalue(), mode))
        return false;
    LogMessage(0, kLabelScripts, L"RunInstallScripts: cmdline = %s", command);
    return true;
}

}  // namespace

bool FormatCommandLineV(wchar_t (&command)[kCommandChars], const wchar_t* label, const wchar_t* format,
                        va_list args) {
    int n = _vsnwprintf(command, kCommandChars - 1, format, args);
    command[kCommandChars - 1] = 0;
    if (n < 0 || n >= kCommandChars) {
        LogMessage(0, label, L"The command line would not fit in %d characters; it is not run: %s", kCommandChars - 1,
                   command);
        return false;
    }
    return true;
}

bool FormatCommandLine(wchar_t (&command)[kCommandChars], const wchar_t* label, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    bool fits = FormatCommandLineV(command, label, format, args);
    va_end(args);
    return fits;
}

UINT TamberCreateProcess(const wchar_t* commandLine, bool wait, const wchar_t* environment) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;  // 68 bytes in the shipped 32-bit build
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    if (wait) {
        LogMessage(0, kLabelCreate, L"Switching to external logging");
        RedirectChildOutputToLog(&startup);
    }
    std::wstring writable(commandLine);
    PROCESS_INFORMATION process = {};
    UINT result = kRunNotStarted;
    if (CreateProcessW(nullptr, &writable[0], nullptr, nullptr, TRUE,
                       CREATE_NO_WINDOW | (environment ? CREATE_UNICODE_ENVIRONMENT : 0),
                       const_cast<wchar_t*>(environment), nullptr, &startup, &process)) {
        result = wait ? WaitForSingleObject(process.hProcess, INFINITE) : 0;
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    if (wait) {
        CloseChildOutputHandle();
        LogMessage(0, kLabelCreate, L"Switching to internal logging");
    }
    return result;
}

UINT Tamber_RunProcess(const wchar_t* commandLine, bool wait, const wchar_t* environment) {
    if (!commandLine) return static_cast<UINT>(-1);
    wchar_t command[kCommandChars] = {};
    wcsncpy(command, commandLine, kCommandChars - 1);
    const size_t length = wcslen(commandLine);
    if (length > kCommandChars - 1)
        LogMessage(0, kLabelRun, L"The command line has %d characters; only the first %d are run",
                   static_cast<int>(length), kCommandChars - 1);
    LogMessage(0, kLabelRun, L"running command: <%s>", command);
    UINT result = TamberCreateProcess(command, wait, environment);
    LogMessage(0, kLabelRun, L"command returned with: <%x>", result);
    return result;
}

UINT RunInstallScripts(const XString& installDir) {
    const XString dir = Widened(installDir);
    AddInstDirToPath(dir.wvalue());
    if (SetEnvironmentVariableW(kInstallerVariable, L"1"))
        LogMessage(0, kLabelScripts, L"RunInstallScripts: Setting the %s environment variable.", kInstallerVariable);
    else
        LogMessage(GetLastError(), kLabelScripts, L"RunInstallScripts: Fail to set the %s environment variable.",
                   kInstallerVariable);
    wchar_t command[kCommandChars];
    if (!ScriptCommand(dir, L"install", command)) return kRunNotStarted;
    if (IsShowSetupInfoDialogs()) ShowSetupInfoById(1110, true);
    UINT result = Tamber_RunProcess(command, true);
    ShowSetupInfo(L"", false);
    return result;
}

UINT RunUninstallScripts(const XString& installDir) {
    const XString dir = Widened(installDir);
    AddInstDirToPath(dir.wvalue());
    wchar_t command[kCommandChars];
    if (!ScriptCommand(dir, L"uninstall", command)) return kRunNotStarted;
    ShowSetupInfoById(1111, true);
    UINT result = Tamber_RunProcess(command, true);
    ShowSetupInfo(L"", false);
    return result;
}

PrivateTempDir::PrivateTempDir() {
    const std::wstring windows = Widened(GetWinDir()).wvalue();
    std::wstring made;
    error_ = windows.empty() ? ERROR_PATH_NOT_FOUND : CreateFreshPrivateDirectory(windows, kPrivatePrefix, &made);
    if (error_ == ERROR_SUCCESS) path_ = made;
}

PrivateTempDir::~PrivateTempDir() {
    if (!path_.empty()) DeleteDirTree(path_.c_str());
}

std::wstring PrivateTempDir::Environment() const {
    std::wstring block;
    bool set[2] = {false, false};
    auto append = [&block](const std::wstring& entry) { block.append(entry).push_back(L'\0'); };
    wchar_t* current = GetEnvironmentStringsW();
    // In place, so that the block stays in the order Windows keeps it.
    for (const wchar_t* entry = current; entry && *entry; entry += wcslen(entry) + 1) {
        bool replaced = false;
        for (int i = 0; i < 2; ++i) {
            const size_t n = wcslen(kTempVariables[i]);
            if (_wcsnicmp(entry, kTempVariables[i], n) == 0 && entry[n] == L'=') {
                append(std::wstring(kTempVariables[i]) + L"=" + path_);
                set[i] = replaced = true;
            }
        }
        if (!replaced) append(entry);
    }
    if (current) FreeEnvironmentStringsW(current);
    for (int i = 0; i < 2; ++i)
        if (!set[i]) append(std::wstring(kTempVariables[i]) + L"=" + path_);
    block.push_back(L'\0');
    return block;
}
