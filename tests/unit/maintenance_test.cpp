// The immediate step of a maintenance run over a 4.1 client with a user
// interface: the full edition asks before it upgrades, and a cancel stops
// the run before anything is scheduled. (Under Wine the engine's own UI
// answers no box, so only a recorder can play the user.) Then the deferred
// handlers of maintenance and removal without the old installation's path.
#include <doctest.h>

#include <algorithm>
#include <string>

#include "harness.h"

TEST_CASE("OnMainPrologue over 4.1 asks the full edition and stops on cancel") {
    // target: where the 4.1 client lies; box: how the box shown begins, and
    // its style; finish: the final dialog's text where the prologue stops.
    struct Case {
        const char* what; DWORD slanEnabled; int answer; const wchar_t* target; const wchar_t* box; UINT style;
        const wchar_t* finish;
    };
    const wchar_t kAsk[] = L"After the upgrade, Varguard will not enforce a security policy.";
    const wchar_t kParent[] =
        L"The destination folder lies in a folder that users without administrative privileges can rename";
    constexpr UINT kAskStyle = MB_OKCANCEL | MB_ICONEXCLAMATION;
    const Case cases[] = {
        {"Varguard, the user cancels", 1, IDCANCEL, L"C:\\", kAsk, kAskStyle, L"Installation aborted by user."},
        {"Varguard, the user goes on", 1, IDOK, L"C:\\", kAsk, kAskStyle, nullptr},
        {"Varnet is not asked", 0, IDCANCEL, L"C:\\", nullptr, 0, nullptr},
        // Whoever may rename the folder could put their own in its place.
        {"Varnet under a folder that users may change", 0, IDOK, L"C:\\Apps\\", kParent, MB_ICONERROR, kParent},
    };
    CreateDirectoryW(L"C:\\Apps", nullptr);
    UnixCommand("chmod o+w " + UnixPath(L"C:\\Apps"));
    const wchar_t kClientKey[] = L"SOFTWARE\\Halvora\\Varnet";
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        // What OnBegin finds of a 4.1 client: its version, edition and directory.
        HklmSetValue(kClientKey, L"CurrentVersion", L"4.1");
        HklmSetValue(kClientKey, L"SLANEnabled", c.slanEnabled);
        HklmSetValue(kClientKey, L"SSOEnabled", DWORD{1});
        HklmSetValue(L"SOFTWARE\\Halvora\\BD1", L"BDDIR", std::wstring(c.target) + L"Varnet41");
        UiRecorder ui(INSTALLLOGMODE_WARNING);
        TestPackage pkg;
        pkg.Client(c.target)
            .Binary(L"HVINSTADDINT_userc_c", ": (sites)\r\n");
        MSIHANDLE session = pkg.Session(true);
        MsiSetPropertyW(session, L"UILevel", L"5");
        REQUIRE(CallHandler("OnBegin", session) == ERROR_SUCCESS);
        REQUIRE(pkg.Get(L"tamber_upgrade_mode") == L"upgrade");

        UiRecorder::seen.clear();
        UiRecorder::answer = c.answer;
        LogCapture log;
        CHECK(CallHandler("OnMainPrologue", session) == (c.finish ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS));
        auto boxes = ui.OfClass(INSTALLMESSAGE_WARNING);
        REQUIRE(boxes.size() == (c.box ? 1u : 0u));
        if (c.box) {
            CHECK(boxes[0].type == (INSTALLMESSAGE_WARNING | c.style));
            CHECK(boxes[0].fields[0].rfind(c.box, 0) == 0);
        }
        if (!c.finish) {
            // The parents' check reads the directory quietly: the only
            // target-path line is the one the hand-over to the execute
            // sequence writes.
            auto messages = log.Messages();
            CHECK(std::count_if(messages.begin(), messages.end(), [](const std::string& m) {
                      return m.rfind("<GetTargetPath> ", 0) == 0;
                  }) == 1);
            continue;
        }
        // Stopped before the schedule and the 4.1 settings' backup.
        CHECK(pkg.Get(L"ID_FINISH_ERROR_STRING").rfind(c.finish, 0) == 0);
        CHECK(log.Find("<OnMaintPrologue> Function ended") < 0);
        CHECK(pkg.Get(L"DCAFNNUM").empty());
        CHECK(pkg.Get(L"ALLCADPROPS").find(L"RegInfo41_") == std::wstring::npos);
    }
}

// The deferred handlers when the container lacks the old installation's
// path: a 4.1 upgrade stops before it uses anything, since no directory is
// there to lock, and a removal takes the default client directory.
TEST_CASE("the deferred handlers without the old installation's path") {
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring oldIni = std::wstring(windows) + L"\\bdenc.ini";  // a 4.1 file the removal of 4.1 deletes
    WriteFileBytes(oldIni, "[bdenc]\r\n");
    TestPackage maint;
    maint.Property(L"CustomActionData", L"[[UILevel=2]]|[[tamber_old_version=4.1]]|[[tamber_upgrade_mode=upgrade]]|");
    LogCapture maintLog;
    CHECK(CallHandler("OnMaintBefore", maint.Session()) == ERROR_INSTALL_FAILURE);
    // It stops there: no further step and no end banner.
    CHECK(maintLog.Messages().back() == "<OnMaintBefore> The installation directory is not known: nothing in it is used");
    CHECK(maintLog.Find("<OnMaintBefore> Removing 4.1") < 0);
    CHECK(FileExists(oldIni));
    // Only the kernel removal announces the legacy adapter's cleanup.
    CHECK(maintLog.Find("<OnMaintBefore> calling addreg_w2K_omva_cleanup") < 0);

    const std::wstring dir = L"C:\\Program Files\\Halvora\\Varnet\\";
    for (const std::wstring& d : {std::wstring(L"C:\\Program Files\\Halvora"), dir, dir + L"bin"})
        CreateDirectoryW(d.c_str(), nullptr);
    CopyFileW((ExeDir() + L"tools\\recorder.exe").c_str(), (dir + L"hvexec.exe").c_str(), FALSE);
    WriteFileBytes(dir + L"bin\\erase_VN.exe", "eraser");
    TestPackage removal;
    removal.Property(L"CustomActionData", L"[[UILevel=2]]|");
    LogCapture removalLog;
    CHECK(CallHandler("OnRemoveBefore", removal.Session()) == ERROR_SUCCESS);
    CHECK(removalLog.Find("<OnRemoveBefore> Take the default fot tamber_old_installed_path (Error code:") >= 0);
    CHECK(removalLog.Find("<OnRemoveBefore> Target dir is: " + Narrow(dir)) >= 0);
    CHECK(removalLog.Find("<OnRemoveBefore> calling addreg_w2K_omva_cleanup") >= 0);
    const std::string d = Narrow(dir);
    CHECK(ReadFileBytes(L"C:\\tamber_calls.txt").find("hvexec.exe|\"" + d + "hvexec.exe\"  -i \"" + d +
                                                      "product.ini\" -m uninstall|") != std::string::npos);
    CHECK(ReadFileBytes(std::wstring(windows) + L"\\erase_VN.exe") == "eraser");  // the erase program for the restart

    // A directory already gone: nothing is run from it, and the rest of the
    // removal goes on.
    TestPackage gone;
    gone.Property(L"CustomActionData", L"[[UILevel=2]]|[[tamber_old_installed_path=C:\\Gone\\]]|");
    LogCapture goneLog;
    CHECK(CallHandler("OnRemoveBefore", gone.Session()) == ERROR_SUCCESS);
    CHECK(goneLog.Find("<OnRemoveBefore> Installation directory C:\\Gone\\ is not used: it does not exist") >= 0);
    CHECK(goneLog.Find("<OnRemoveBefore> Return code from uninstallVnService:") >= 0);
    CHECK(ReadFileBytes(L"C:\\tamber_calls.txt").find("Gone") == std::string::npos);
}
