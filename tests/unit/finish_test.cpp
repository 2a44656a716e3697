// OnInstallFinish: the restart decision at the end of a run. The default,
// ShowRestrat and the suite launcher are proven by the e2e runs.
#include <doctest.h>

#include <string>

#include "harness.h"

TEST_CASE("RestartAfterInstall false ends the run without a restart") {
    TestPackage pkg;
    pkg.Property(L"RestartAfterInstall", L"0").Property(L"ShowRestart", L"0");
    MSIHANDLE session = pkg.Session();
    MsiSetMode(session, MSIRUNMODE_REBOOTATEND, TRUE);  // the handler must change it
    CHECK(CallHandler("OnInstallFinish", session) == ERROR_SUCCESS);
    CHECK(MsiGetMode(session, MSIRUNMODE_REBOOTATEND) == FALSE);
    CHECK(pkg.Get(L"REBOOTPROMPT") == L"");
    std::wstring need;  // only a launcher run leaves NeedReboot
    HklmValue(L"SOFTWARE\\Halvora\\Halvora Product Suite\\setup", L"NeedReboot", &need);
    CHECK(need == L"");
}
