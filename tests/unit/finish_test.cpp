// OnInstallFinish: the restart decision at the end of a run. The default,
// ShowRestrat and the suite launcher are proven by the e2e runs.
#include <doctest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"

// Either spelling of the setting switches the restart off.
TEST_CASE("RestartAfterInstall false ends the run without a restart") {
    for (const wchar_t* key : {L"RestartAfterInstall", L"RestratAfterInstall"}) {
        CAPTURE(Narrow(key));
        TestPackage pkg;
        pkg.Property(key, L"0").Property(L"ShowRestart", L"0");
        MSIHANDLE session = pkg.Session();
        MsiSetMode(session, MSIRUNMODE_REBOOTATEND, TRUE);  // the handler must change it
        CHECK(CallHandler("OnInstallFinish", session) == ERROR_SUCCESS);
        CHECK(MsiGetMode(session, MSIRUNMODE_REBOOTATEND) == FALSE);
        CHECK(pkg.Get(L"REBOOTPROMPT") == L"");
        std::wstring need;  // only a launcher run leaves NeedReboot
        HklmValue(L"SOFTWARE\\Halvora\\Halvora Product Suite\\setup", L"NeedReboot", &need);
        CHECK(need == L"");
    }
}

// Windows runs OnBegin in the user's process and OnInstallFinish in the
// installer service, which reloads the package's Property rows: there
// product.ini's ShowRestart=0 must win over the row as it does where OnBegin
// ran, and without lines of its own but one.
TEST_CASE("the restart settings are the settings file's in one process and in two") {
    TestPackage ui;
    ui.Property(L"ShowRestart", L"1").Client(L"C:\\", "ShowRestart=0\r\n");
    MSIHANDLE uiSession = ui.Session(true);
    REQUIRE(CallHandler("OnBegin", uiSession) == ERROR_SUCCESS);

    // The service's own session: the package's row and what crossed.
    TestPackage service;
    service.Property(L"ShowRestart", L"1").Property(L"ALLCADPROPS", ui.Get(L"ALLCADPROPS"));
    LogCapture log;
    CHECK(CallHandler("OnInstallFinish", service.Session()) == ERROR_SUCCESS);
    CHECK(service.Get(L"REBOOTPROMPT") == L"Suppress");
    const std::vector<std::string> lines = log.Messages();
    CHECK(std::count(lines.begin(), lines.end(), "<OnInstallFinish> ShowRestart=0 taken from the deferred data") == 1);
    CHECK(std::count(lines.begin(), lines.end(), "<GetProperty> Entering with property ShowRestart") == 1);
    CHECK(log.Find("<SetProperty> SetProperty >> key=ShowRestart") < 0);

    // Where OnBegin ran, the properties are the settings: a later change stands.
    MsiSetPropertyW(uiSession, L"ShowRestart", L"1");
    LogCapture same;
    CHECK(CallHandler("OnInstallFinish", uiSession) == ERROR_SUCCESS);
    CHECK(ui.Get(L"REBOOTPROMPT") == L"");
    CHECK(same.Find("<OnInstallFinish> ShowRestart=") < 0);
}
