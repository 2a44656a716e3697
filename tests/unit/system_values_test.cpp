// Fast user switching on each Windows version, and the installer's own log.
#include <doctest.h>

#include <cstdlib>
#include <string>

#include "bound_session.h"
#include "harness.h"
#include "system/system.h"
#include "util/files.h"

namespace {

std::wstring Text(const std::wstring& key, const wchar_t* name) {
    std::wstring text = L"<absent>";
    HklmValue(key, name, &text);
    return text;
}

DWORD Number(const std::wstring& key, const wchar_t* name) {
    DWORD n = 99;
    HklmValue(key, name, nullptr, &n);
    return n;
}

}  // namespace

// Registered once per Windows version.
TEST_CASE("fast user switching on each Windows version") {
    const std::string version = getenv("TAMBER_WINVER") ? getenv("TAMBER_WINVER") : "";
    const std::wstring policy = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
    const std::wstring winlogon = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    const std::wstring licensing = L"System\\CurrentControlSet\\Control\\Terminal Server\\Licensing Core";
    HklmCreateKey(licensing);
    HklmCreateKey(policy);
    {
        BoundSession session;
        CHECK(AllowUserFastSwitching() == 0);
    }
    if (version == "win2k") {
        CHECK(HklmValue(policy, L"HideFastUserSwitching") == REG_NONE);
        CHECK(HklmValue(winlogon, L"AllowMultipleTSSessions") == REG_NONE);
    } else if (version == "winxp" || version == "win2003") {
        CHECK(Number(winlogon, L"AllowMultipleTSSessions") == 0);
        CHECK(Number(licensing, L"EnableConcurrentSessions") == 0);
    } else {
        CHECK(Number(policy, L"HideFastUserSwitching") == 1);
        BoundSession session({{L"AllowFastUserSwitching", L"1"}});
        AllowUserFastSwitching();
        CHECK(Number(policy, L"HideFastUserSwitching") == 0);
    }
}

TEST_CASE("the installer's log is switched on and linked") {
    const std::wstring policy = L"SOFTWARE\\Policies\\Microsoft\\Windows\\Installer";
    const std::wstring halvora = std::wstring(GetProgramFilesDir().wvalue()) + L"Halvora";
    LogCapture log;
    CHECK(CopyMSILogFile() == -1);  // no policy yet: set for the next run
    CHECK(Text(policy, L"Logging") == L"voicewarmup");
    CHECK(CopyMSILogFile() == -1);  // no log to be found
    HklmSetValue(policy, L"Logging", L"v");
    // Wine keeps no creation time of its own on Linux, so the newest is the
    // one made last: neither the first nor the last by name.
    for (const wchar_t* name : {L"MSIcccc.LOG", L"MSIaaaa.LOG", L"MSIbbbb.LOG"}) {
        WriteFileBytes(TempDir() + name, "log");
        Sleep(50);
    }
    CreateDirectoryW(halvora.c_str(), nullptr);
    CreateDirectoryW((halvora + L"\\HVInstLog").c_str(), nullptr);
    CHECK(CopyMSILogFile() == 0);
    CHECK(Text(policy, L"Logging") == L"voicewarmup");
    CHECK(log.Contains("<FindLastMSILogFile> The latest MSI log file is: MSIbbbb.LOG"));
    CHECK(FileExists(halvora + L"\\HVInstLog\\MsiLogFile.lnk"));
}
