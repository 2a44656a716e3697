// Registration values written after every run, and the installer's own log.
#include <doctest.h>

#include <cstdlib>
#include <string>

#include "events/frame.h"
#include "bound_session.h"
#include "harness.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "system/system.h"
#include "util/files.h"

namespace {

const std::wstring kVersion = L"SOFTWARE\\Halvora\\Varnet\\5.0";

using Session = BoundSession;

std::wstring Text(const std::wstring& key, const wchar_t* name) {
    std::wstring text = L"<absent>";
    HklmValue(key, name, &text);
    return text;
}

}  // namespace

TEST_CASE("what is installed is recorded with its service-pack levels") {
    CreateDirectoryW(L"C:\\Client", nullptr);
    WriteFileBytes(L"C:\\Client\\subarch.ini", "[Version]\r\nBUILDNUM=1234\r\n");
    Session session;
    WriteCommonValuesToRegistry();
    WriteBuildNumberToRegistry();
    CHECK(Text(L"SOFTWARE\\Halvora\\Varnet", L"CurrentVersion") == L"5.0");
    CHECK(Text(kVersion, L"PRODDIR") == L"C:\\Client\\");
    CHECK(Text(kVersion, L"CurrentLabel") == L"R33 HFA2");
    CHECK(Text(kVersion, L"CurrentSP") == L"9");
    CHECK(Text(kVersion + L"\\SP9", L"PrevSP") == L"0");
    CHECK(Text(kVersion + L"\\SP9", L"CurrentMSP") == L"0");
    CHECK(Text(kVersion + L"\\SP9\\MSP0", L"PrevMSP") == L"<absent>");
    CHECK(HklmKeyExists(kVersion + L"\\SP9\\MSP0\\DependentPkgs"));
    CHECK(Text(L"SOFTWARE\\Halvora\\products", L"Varnet") == L"1");
    DWORD build = 0;
    CHECK(HklmValue(kVersion, L"BuildNumber", nullptr, &build) == REG_DWORD);
    CHECK(build == 1234);

    // A reinstallation of the same release.
    setRegistryStringValue(HKEY_LOCAL_MACHINE, (kVersion + L"\\SP9").c_str(), L"PrevSP", L"kept");
    WriteCommonValuesToRegistry();
    CHECK(Text(kVersion + L"\\SP9\\MSP0", L"PrevMSP") == L"0");
    CHECK(Text(kVersion + L"\\SP9", L"PrevSP") == L"kept");

    LogCapture log;
    DeleteFileW(L"C:\\Client\\subarch.ini");
    WriteBuildNumberToRegistry();
    CHECK(log.Contains("<WriteBuildNumberToRegistry> GetPrivateProfileString failed for file <C:\\Client\\subarch.ini>"));
}

TEST_CASE("Add or Remove Programs learns the installed size") {
    const std::wstring code = L"{12345678-1111-2222-3333-444455556666}";
    Session session({{L"ProductCode", code.c_str()}});
    LogCapture log;
    WriteEstimatedSiteToRegistry();
    CHECK(log.Contains("<WriteEstimatedSiteToRegistry> failed to openKey prodKey  key."));

    HklmCreateKey(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + code);
    const std::wstring cache = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache\\" + code;
    HklmCreateKey(cache);
    HKEY user;
    REQUIRE(RegCreateKeyW(HKEY_CURRENT_USER, cache.c_str(), &user) == ERROR_SUCCESS);
    RegCloseKey(user);
    WriteEstimatedSiteToRegistry();
    DWORD size = 0;
    CHECK(HklmValue(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + code, L"EstimatedSize", nullptr,
                    &size) == REG_DWORD);
    CHECK(size == 25000);
    CHECK(log.Contains("<WriteEstimatedSiteToRegistry> finished updating the change key."));
}

// Registered once per Windows version.
TEST_CASE("fast user switching on each Windows version") {
    const std::string version = getenv("TAMBER_WINVER") ? getenv("TAMBER_WINVER") : "";
    HklmCreateKey(L"System\\CurrentControlSet\\Control\\Terminal Server\\Licensing Core");
    HklmCreateKey(L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System");
    DWORD value = 99;
    if (version == "win2k") {
        Session session;
        CHECK(AllowUserFastSwitching() == 0);
        CHECK(HklmValue(L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", L"HideFastUserSwitching") ==
              REG_NONE);
        CHECK(HklmValue(L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", L"AllowMultipleTSSessions") ==
              REG_NONE);
    } else if (version == "winxp" || version == "win2003") {
        Session session;
        CHECK(AllowUserFastSwitching() == 0);
        HklmValue(L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", L"AllowMultipleTSSessions", nullptr,
                  &value);
        CHECK(value == 0);
        value = 99;
        HklmValue(L"System\\CurrentControlSet\\Control\\Terminal Server\\Licensing Core", L"EnableConcurrentSessions",
                  nullptr, &value);
        CHECK(value == 0);
    } else {
        {
            Session session;
            CHECK(AllowUserFastSwitching() == 0);
            HklmValue(L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", L"HideFastUserSwitching",
                      nullptr, &value);
            CHECK(value == 1);
        }
        Session session({{L"AllowFastUserSwitching", L"1"}});
        AllowUserFastSwitching();
        HklmValue(L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", L"HideFastUserSwitching", nullptr,
                  &value);
        CHECK(value == 0);
    }
}

TEST_CASE("an upgrade keeps the user's DTBase profile") {
    const std::wstring dtbase = L"SOFTWARE\\Halvora\\DTBase\\5.0";
    SUBCASE("upgrade") {
        setRegistryStringValue(HKEY_LOCAL_MACHINE, dtbase.c_str(), L"Profile", L"alice");
        Session session({{L"tamber_upgrade_mode", L"upgrade"}, {L"tamber_old_version", L"5.0"}});
        WriteDTBaseToRegistryWithCare();
        CHECK(Text(dtbase, L"Profile") == L"alice");
    }
    SUBCASE("overwrite") {
        setRegistryStringValue(HKEY_LOCAL_MACHINE, dtbase.c_str(), L"Profile", L"alice");
        Session session({{L"tamber_upgrade_mode", L"overwrite"}, {L"tamber_old_version", L"5.0"}});
        WriteDTBaseToRegistryWithCare();
        CHECK(Text(dtbase, L"Profile").empty());
    }
}

TEST_CASE("the installer's log is switched on and linked") {
    const std::wstring policy = L"SOFTWARE\\Policies\\Microsoft\\Windows\\Installer";
    const std::wstring shortcut = std::wstring(GetProgramFilesDir().wvalue()) + L"Halvora\\HVInstLog\\MsiLogFile.lnk";
    LogCapture log;
    CHECK(CopyMSILogFile() == -1);  // no policy yet: set for the next run
    CHECK(Text(policy, L"Logging") == L"voicewarmup");

    CHECK(CopyMSILogFile() == -1);  // no log to be found
    CHECK(log.Find("<FindLastMSILogFile> Can't find files at pattern: ") >= 0);
    CHECK(log.Contains("<CopyMSILogFile> Can't find the lat MSI log file"));

    setRegistryStringValue(HKEY_LOCAL_MACHINE, policy.c_str(), L"Logging", L"v");
    const std::wstring temp = TempDir();
    // Wine keeps no creation time of its own on Linux, so the newest is the
    // one made last: neither the first nor the last by name.
    for (const wchar_t* name : {L"MSIcccc.LOG", L"MSIaaaa.LOG", L"MSIbbbb.LOG"}) {
        WriteFileBytes(temp + name, "log");
        Sleep(50);
    }
    CreateDirectoryW((std::wstring(GetProgramFilesDir().wvalue()) + L"Halvora").c_str(), nullptr);
    CreateDirectoryW((std::wstring(GetProgramFilesDir().wvalue()) + L"Halvora\\HVInstLog").c_str(), nullptr);
    CHECK(CopyMSILogFile() == 0);
    CHECK(Text(policy, L"Logging") == L"voicewarmup");
    CHECK(log.Contains("<FindLastMSILogFile> The latest MSI log file is: MSIbbbb.LOG"));
    CHECK(FileExists(shortcut));
}
