// The version test and the migration from version 4.1.
#include <doctest.h>

#include <string>

#include "events/frame.h"
#include "bound_session.h"
#include "harness.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "upgrade/upgrade.h"

namespace {

const std::wstring kClient = L"SOFTWARE\\Halvora\\Varnet";

using Session = BoundSession;

}  // namespace

TEST_CASE("a downgrade is refused") {
    struct Case {
        const wchar_t *installedMajor, *installedMinor, *major, *minor;
        int refused;
        int message;
    };
    const Case cases[] = {
        {L"5", L"2", L"5", L"1", 1, 1107}, {L"5", L"1", L"5", L"1", 0, 0}, {L"4", L"9", L"5", L"1", 0, 0},
        {L"6", L"0", L"5", L"0", 1, 1106}, {nullptr, nullptr, L"5", L"1", 0, 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.message);
        RegRecursiveDeleteKey(HKEY_LOCAL_MACHINE, kClient.c_str());
        if (c.installedMajor) {
            setRegistryStringValue(HKEY_LOCAL_MACHINE, kClient.c_str(), L"MajorVersion", c.installedMajor);
            setRegistryStringValue(HKEY_LOCAL_MACHINE, kClient.c_str(), L"MinorVersion", c.installedMinor);
        }
        Session session({{L"MajorVersion", c.major}, {L"MinorVersion", c.minor}});
        LogCapture log;
        CHECK(IsDowngrade() == c.refused);
        if (c.message) CHECK(session.Get(L"ID_FINISH_ERROR_STRING") == GetMessageText(c.message).wvalue());
        if (!c.installedMajor) CHECK(log.Contains("'MajorVersion' was not found on the install machine"));
    }
}

TEST_CASE("a 4.1 client's settings cross the upgrade") {
    setRegistryDWORDValue(HKEY_LOCAL_MACHINE, kClient.c_str(), L"SSOEnabled", L"1");
    std::wstring sso, sdl;
    {
        Session before({});
        CHECK(Backup4_1RegistryInfo() == 1);
        sso = before.Get(L"RegInfo41_SSOEnabled");
        sdl = before.Get(L"RegInfo41_SDLEnabled");
    }
    CHECK(sso == L"true");
    CHECK(sdl == L"false");
    Remove4_1RegistryKeys();
    CHECK_FALSE(HklmKeyExists(kClient));
    Session after({{L"RegInfo41_SSOEnabled", sso.c_str()}, {L"RegInfo41_SDLEnabled", sdl.c_str()}});
    CHECK(Restore4_1RegistryInfo() == 1);
    DWORD value = 0;
    CHECK(HklmValue(kClient, L"SSOEnabled", nullptr, &value) == REG_DWORD);
    CHECK(value == 1);
    CHECK(HklmValue(kClient, L"SDLEnabled") == REG_NONE);
}

TEST_CASE("what 4.1 left outside its directory goes") {
    wchar_t root[MAX_PATH];
    GetEnvironmentVariableW(L"ALLUSERSPROFILE", root, MAX_PATH);
    const std::wstring menu = std::wstring(root) + L"\\Start Menu\\Programs\\Varnet\\";
    CreateDirectoryW((std::wstring(root) + L"\\Start Menu").c_str(), nullptr);
    CreateDirectoryW((std::wstring(root) + L"\\Start Menu\\Programs").c_str(), nullptr);
    CreateDirectoryW(menu.c_str(), nullptr);
    WriteFileBytes(menu + L"Varguard.lnk", "x");
    WriteFileBytes(menu + L"Varnet.lnk", "x");
    CHECK(Remove4_1StartMenu() == 0);  // the folder still holds Varnet.lnk
    CHECK_FALSE(FileExists(menu + L"Varguard.lnk"));
    CHECK(FileExists(menu + L"Varnet.lnk"));

    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring old = std::wstring(windows) + L"\\system32\\hvrgina.dll";
    WriteFileBytes(old, "x");
    CHECK(Remove4_1WinFiles() == 0);
    CHECK_FALSE(FileExists(old));

    const std::wstring winlogon = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    setRegistryStringValue(HKEY_LOCAL_MACHINE, winlogon.c_str(), L"GinaDLL", L"hvrgina.dll");
    Upgrade4_1Gina();
    std::wstring gina;
    HklmValue(winlogon, L"GinaDLL", &gina);
    CHECK(gina == L"hvrginashim.dll");
}

TEST_CASE("branding files and the default policy follow the settings") {
    const std::wstring dir = TempDir() + L"Brand\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    {
        Session session({{L"IncludeBrandingFiles", L"1"}});
        WriteFileBytes(dir + L"logo.bmp", "x");
        WriteFileBytes(dir + L"authmsg.txt", "x");
        IncludeBrandingFiles(dir.c_str());
        CHECK(FileExists(dir + L"logo.bmp"));
        HandleDefaultPolicy();
    }
    std::wstring policy;
    HklmValue(L"SYSTEM\\CurrentControlSet\\Services\\BD1\\Parameters", L"DefaultPolicy", &policy);
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    CHECK(policy == std::wstring(windows) + L"\\System32\\default.bin");
    Session session({});
    IncludeBrandingFiles(dir.c_str());
    CHECK_FALSE(FileExists(dir + L"logo.bmp"));
    CHECK_FALSE(FileExists(dir + L"authmsg.txt"));
}

TEST_CASE("an overwrite removes the old policy but its certificates") {
    const std::wstring old = TempDir() + L"Old\\";
    CreateDirectoryW(old.c_str(), nullptr);
    CreateDirectoryW((old + L"policy").c_str(), nullptr);
    WriteFileBytes(old + L"policy\\rules.txt", "x");
    WriteFileBytes(old + L"policy\\user.p12", "cert");
    Session session({{L"tamber_old_installed_path", old.c_str()}});
    CHECK(DeletePolicyFiles() == 1);
    CHECK_FALSE(FileExists(old + L"policy\\rules.txt"));
    CHECK(FileExists(old + L"policy\\user.p12"));
    // A silent run answers the 4.1 warning as if OK was chosen.
    CHECK(WarnOn4_1Upgrade());
}
