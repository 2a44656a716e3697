// OnInstallFinish: the restart decision at the end of a run.
#include <doctest.h>

#include <string>

#include "harness.h"

TEST_CASE("the restart at the end follows the settings and the suite launcher") {
    struct Case {
        const char* what;
        std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> settings;
        bool launcher;
        bool reboot;
        const wchar_t* prompt;
    };
    const Case cases[] = {
        {"defaults", {}, false, true, L""},
        {"ShowRestrat false", {{L"ShowRestrat", L"0"}}, false, true, L"Suppress"},
        {"RestartAfterInstall false", {{L"RestartAfterInstall", L"0"}, {L"ShowRestart", L"0"}}, false, false, L""},
        {"started by the suite launcher", {}, true, false, L""},
    };
    const std::wstring suite = L"SOFTWARE\\Halvora\\Halvora Product Suite\\setup";
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        HklmCreateKey(suite);
        HKEY key;
        REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, suite.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS);
        RegDeleteValueW(key, L"NeedReboot");
        const wchar_t one[] = L"1";
        if (c.launcher) RegSetValueExW(key, L"ActivatedByLauncher", 0, REG_SZ, reinterpret_cast<const BYTE*>(one), sizeof one);
        else RegDeleteValueW(key, L"ActivatedByLauncher");
        RegCloseKey(key);

        TestPackage pkg;
        for (const auto& s : c.settings) pkg.Property(s.first, s.second);
        MSIHANDLE session = pkg.Session();
        MsiSetMode(session, MSIRUNMODE_REBOOTATEND, c.reboot ? FALSE : TRUE);  // the handler must change it
        CHECK(CallHandler("OnInstallFinish", session) == ERROR_SUCCESS);
        CHECK(MsiGetMode(session, MSIRUNMODE_REBOOTATEND) == (c.reboot ? TRUE : FALSE));
        CHECK(pkg.Get(L"REBOOTPROMPT") == c.prompt);
        std::wstring need;
        HklmValue(suite, L"NeedReboot", &need);
        CHECK(need == (c.launcher ? L"1" : L""));
    }
}
