// Test stand-in for the client's own programs (hvexec.exe, bdkern.exe,
// vna_utils.exe, conn_config.exe, xpdrv.exe, VN_SMS.exe, erase_VN.exe): the
// same program installed under each name. Every call appends one line to
// C:\tamber_calls.txt (UTF-8):
//   name|command line as received|current directory|HV_MSI_INSTALLER
// prints a line to standard output and exits 0. As VN_SMS.exe it also runs
// the batch file given after -p, as the real tool does.
#include <windows.h>

#include <cstdio>
#include <string>

#include "text.h"

namespace {

std::wstring OwnName() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path, n);
    return full.substr(full.find_last_of(L"\\/") + 1);
}

void RunBatch(const std::wstring& commandLine) {
    size_t at = commandLine.find(L" -p ");
    if (at == std::wstring::npos) return;
    std::wstring command = L"cmd.exe /c " + commandLine.substr(at + 4);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        WaitForSingleObject(pi.hProcess, 60000);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    }
}

}  // namespace

int wmain() {
    const std::wstring name = OwnName();
    const std::wstring commandLine = GetCommandLineW();
    wchar_t cwd[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, cwd);
    wchar_t variable[64] = L"";
    GetEnvironmentVariableW(L"HV_MSI_INSTALLER", variable, 64);

    std::string line = Utf8(name + L"|" + commandLine + L"|" + cwd + L"|" + variable) + "\n";
    if (FILE* journal = _wfopen(L"C:\\tamber_calls.txt", L"ab")) {
        fwrite(line.data(), 1, line.size(), journal);
        fclose(journal);
    }
    printf("stand-in %s was run\n", Utf8(name).c_str());
    fflush(stdout);
    if (_wcsicmp(name.c_str(), L"VN_SMS.exe") == 0) RunBatch(commandLine);
    return 0;
}
