// The start of every run and the immediate step of a first installation,
// through the exported handlers on real sessions.
#include <doctest.h>

#include <cstdio>
#include <string>

#include "harness.h"

namespace {

const wchar_t kMarkerKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Varnet_UnInstall";
const wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const wchar_t kClientKey[] = L"SOFTWARE\\Halvora\\Varnet";

// A silent package of version 5.2 with an installation directory under
// `root` (a directory ending with a backslash).
struct FirstRun {
    explicit FirstRun(const std::wstring& root = L"C:\\") {
        pkg.Property(L"UILevel", L"2")
            .Property(L"REINSTALLMODE", L"omus")
            .Property(L"TARGETDIR", root)
            .Directory(L"TARGETDIR", L"", L"SourceDir")
            .Directory(L"INSTALLDIR", L"TARGETDIR", L"Varnet")
            .Binary(L"HVINSTADDINT_product_ini", "[version]\r\nMajorVersion=5\r\nMinorVersion=2\r\nPathAskUser=0\r\n")
            .Binary(L"HVINSTADDINT_userc_c", ": (sites)\r\n");
    }
    UINT Call(const char* handler) { return CallHandler(handler, pkg.Session(true)); }
    TestPackage pkg;
};

// The silent run logs the box it did not show: its text's first line, then
// the box type.
bool LoggedBox(const LogCapture& log, const std::wstring& text, unsigned type) {
    const std::string firstLine = Narrow(text.substr(0, text.find(L'\n')));
    char suppressed[96];
    snprintf(suppressed, sizeof suppressed, "<ShowMsgBox> method is disabled because we are in silent mode. uType is: 0x%x", type);
    int at = log.Find("<ShowMsgBox> " + firstLine);
    return at >= 0 && log.Find(suppressed) > at;
}

}  // namespace

TEST_CASE("OnBegin prepares a first installation") {
    HklmDeleteTree(kMarkerKey);
    FirstRun run;
    LogCapture log;
    CHECK(run.Call("OnBegin") == ERROR_SUCCESS);

    CHECK(log.Find("<OnBegin> Running on Windows version: ") >= 0);
    CHECK(log.Find("<OnBegin> Function ended") > log.Find("<OnBegin> Function started."));
    CHECK(run.pkg.Get(L"tamber_install_mode") == L"new");
    CHECK(run.pkg.Get(L"MajorVersion") == L"5");  // the settings are published
    CHECK(log.Contains("<TEST> REINSTALLMODE = omus"));
    CHECK(run.pkg.Get(L"REINSTALLMODE") == L"amus");
    const std::wstring packed = run.pkg.Get(L"ALLCADPROPS");
    CHECK(packed.find(L"[[UILevel=2]]|") != std::wstring::npos);  // the Property table
    CHECK(packed.find(L"[[REINSTALLMODE=amus]]|") != std::wstring::npos);
    CHECK(packed.find(L"[[tamber_install_mode=new]]|") != std::wstring::npos);
}

TEST_CASE("OnBegin stops the run at once") {
    struct Case {
        const char* what;
        unsigned boxType;
        bool pendingRestart;
        DWORD installedMajor;
    };
    const Case cases[] = {
        {"a removal still waits for its restart", 0, true, 0},
        {"a newer version is installed", MB_ICONERROR, false, 6},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        HklmDeleteTree(kMarkerKey);
        HklmDeleteTree(kClientKey);
        HklmDeleteTree(kRunOnceKey);
        if (c.pendingRestart) {
            // The removal's marker and the clean-up it left for the restart.
            HklmSetValue(kMarkerKey, L"IsUnInstall", L"1");
            HklmSetValue(kRunOnceKey, L"InstallShieldSetupForVN", L"C:\\windows\\erase_VN.exe");
        }
        if (c.installedMajor) {
            HklmSetValue(kClientKey, L"MajorVersion", c.installedMajor);
            HklmSetValue(kClientKey, L"MinorVersion", DWORD{0});
        }
        FirstRun run;
        LogCapture log;
        CHECK(run.Call("OnBegin") == ERROR_INSTALL_FAILURE);
        // Stopped in the middle: no end banner, the container not stored.
        CHECK(log.Find("<OnBegin> Function ended") < 0);
        CHECK(run.pkg.Get(L"ALLCADPROPS").empty());
        CHECK(run.pkg.Get(L"REINSTALLMODE") == L"omus");
        const std::wstring finish = run.pkg.Get(L"ID_FINISH_ERROR_STRING");
        CHECK_FALSE(finish.empty());
        CHECK(LoggedBox(log, finish, c.boxType));
        if (c.pendingRestart) CHECK(log.Contains("<OnBegin> Aborting installation because reboot was not done after uninstall"));
    }
}

TEST_CASE("OnFirstBefore schedules OnFirstAfter and ends its frame also when it refuses") {
    struct Case {
        const char* what;
        const wchar_t* root;
        UINT result;
    };
    const Case cases[] = {
        {"a fixed drive with room", L"C:\\", ERROR_SUCCESS},
        {"a drive that does not exist", L"Q:\\", ERROR_INSTALL_FAILURE},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        HklmDeleteTree(kMarkerKey);
        FirstRun run(c.root);
        REQUIRE(run.Call("OnBegin") == ERROR_SUCCESS);
        LogCapture log;
        CHECK(run.Call("OnFirstBefore") == c.result);

        CHECK(log.Find("<OnFirstBefore> Function ended") >= 0);
        CHECK(run.pkg.Get(L"DCAFNNUM") == L"1");
        CHECK(run.pkg.Get(L"DCAFN1") == L"OnFirstAfter");
        const std::wstring packed = run.pkg.Get(L"ALLCADPROPS");
        // Both the folder normalised for the client and the additional files travel.
        CHECK(packed.find(std::wstring(L"[[INSTALLDIR=") + c.root + L"Varnet\\]]|") != std::wstring::npos);
        CHECK(packed.find(L"=userc.c]]|") != std::wstring::npos);
        CHECK(packed.find(L"[[AddFilesTempDir=") != std::wstring::npos);
        if (c.result == ERROR_SUCCESS) {
            CHECK(run.pkg.Get(L"ID_FINISH_ERROR_STRING").empty());
        } else {
            const std::wstring finish = run.pkg.Get(L"ID_FINISH_ERROR_STRING");
            CHECK_FALSE(finish.empty());
            CHECK(LoggedBox(log, finish, MB_ICONERROR));
        }
    }
}
