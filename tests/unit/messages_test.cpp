// Installer messages through the real engine. The test opens a session in
// its own process (Wine's msi.dll) and installs a record-based external UI
// handler ahead of the library's string handler: it sees every message the
// library sends through MsiProcessMessage, with all its fields, and answers
// with the button a test chooses, as a user would in the installer's dialog.
#include <doctest.h>

#include <string>
#include <vector>

#include "deferred/deferred.h"
#include "events/frame.h"
#include "harness.h"
#include "session/session.h"

namespace {

const DWORD kShown = INSTALLLOGMODE_WARNING | INSTALLLOGMODE_PROGRESS | INSTALLLOGMODE_COMMONDATA |
                     INSTALLLOGMODE_ACTIONDATA;

// A bound session; UILevel 5 unless silent. The recorder must be made first.
MSIHANDLE Open(TestPackage& pkg, bool silent) {
    MSIHANDLE session = pkg.Session();
    if (!silent) MsiSetPropertyW(session, L"UILevel", L"5");
    BindSession(session);
    UiRecorder::seen.clear();
    return session;
}

}  // namespace

TEST_CASE("a silent run shows no box and stays silent") {
    UiRecorder ui(kShown);
    TestPackage pkg;  // the engine sets UILevel 2 when its own UI is off
    MSIHANDLE session = Open(pkg, true);
    LogCapture log;

    CHECK(ShowMsgBoxById(1109, MB_ICONERROR) == 0);
    MsiSetPropertyW(session, L"UILevel", L"5");
    CHECK(ShowMsgBox(L"Again?", MB_OKCANCEL | MB_ICONWARNING) == 0);
    CHECK(ui.OfClass(INSTALLMESSAGE_WARNING).empty());
    CHECK(GetGuiSwitch().length() == 0);

    CHECK(log.Contains("<ShowMsgBox> Illegal destination drive. Installation should be on a fixed drive only."));
    CHECK(log.Contains("<ShowMsgBox> method is disabled because we are in silent mode. uType is: 0x10"));
    CHECK(log.Contains("<ShowMsgBox> method is disabled because we are in silent mode. uType is: 0x31"));
    int quiet = 0;
    for (const std::string& m : log.Messages()) quiet += m == "<IsSilentMode> Quiet mode installation detected";
    CHECK(quiet == 1);
    UnbindSession();
}

TEST_CASE("a message box carries its type and logs the button chosen") {
    UiRecorder ui(kShown);
    TestPackage pkg;
    Open(pkg, false);
    LogCapture log;

    UiRecorder::answer = 8;
    CHECK(ShowMsgBox(L"Proceed 100%?", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == 8);
    UiRecorder::answer = IDYES;
    CHECK(ShowMsgBoxById(1119, MB_YESNO) == IDYES);

    auto boxes = ui.OfClass(INSTALLMESSAGE_WARNING);
    REQUIRE(boxes.size() == 2);
    CHECK(boxes[0].type == (INSTALLMESSAGE_WARNING | 0x134));
    CHECK(boxes[0].fields[0] == L"Proceed 100%?");
    CHECK(boxes[1].fields[0].rfind(L"Installation will overwrite your current settings.\n", 0) == 0);
    CHECK(log.Contains("<SendMSIWarningMessageBox> Send: Proceed 100%?"));
    CHECK(log.Contains("<ShowMsgBox> User selected 8"));
    CHECK(log.Contains("<ShowMsgBox> User selected IDYES"));
    CHECK(std::wstring(GetGuiSwitch().wvalue()) == L"-g");
    UnbindSession();
}

TEST_CASE("the first progress step resets the bar and later steps only move it") {
    UiRecorder ui(kShown);
    TestPackage pkg;
    MSIHANDLE session = Open(pkg, false);
    using Fields = std::vector<std::wstring>;
    const Fields advance{L"", L"2", L"10000", L"0", L"0"};
    const Fields reset{L"", L"0", L"70000", L"0", L"0"};

    StepProgressBar(session);
    auto first = ui.OfClass(INSTALLMESSAGE_PROGRESS);
    REQUIRE(first.size() == 3);
    CHECK(first[0].fields == advance);
    CHECK(first[1].fields == reset);
    CHECK(first[2].fields == advance);

    UiRecorder::seen.clear();
    StepProgressBar(session);
    auto later = ui.OfClass(INSTALLMESSAGE_PROGRESS);
    REQUIRE(later.size() == 1);
    CHECK(later[0].fields == advance);
    UnbindSession();
}

TEST_CASE("hiding the cancel button logs the installer's answer") {
    UiRecorder ui(kShown);
    TestPackage pkg;
    MSIHANDLE session = Open(pkg, false);
    LogCapture log;
    struct Answer {
        int answer;
        UINT result;
        const char* line;
    };
    const Answer answers[] = {
        {1, 1, "<OnFirstBefore> HideCancelButton: The function succeeded (Error code:1)"},
        {0, 0, "<OnFirstBefore> HideCancelButton: No action was taken"},
        {7, 0, "<OnFirstBefore> HideCancelButton: No (Error code:7)"},
        {9, 0, "<OnFirstBefore> HideCancelButton: Unknown return code (Error code:9)"},
    };
    for (const Answer& a : answers) {
        CAPTURE(a.line);
        UiRecorder::answer = a.answer;
        UiRecorder::seen.clear();
        CHECK(HideCancelButton(session) == a.result);
        auto sent = ui.OfClass(INSTALLMESSAGE_COMMONDATA);
        REQUIRE(sent.size() == 1);
        CHECK(sent[0].fields[1] == L"2");
        CHECK(sent[0].fields[2] == L"0");
        CHECK(log.Contains(a.line));
    }
    UnbindSession();
}

TEST_CASE("progress text and the finish error text") {
    UiRecorder ui(kShown);
    TestPackage pkg;
    pkg.Property(L"ShowSetupInfoDialogs", L"0");
    MSIHANDLE session = Open(pkg, false);
    LogCapture log;

    CHECK(SendInfoMsgToProgressDialog(L"Installing the kernel") == ERROR_SUCCESS);
    ShowSetupInfoById(1112, true);
    ShowSetupInfoById(1112, false);
    auto texts = ui.OfClass(INSTALLMESSAGE_ACTIONDATA);
    REQUIRE(texts.size() == 3);
    CHECK(texts[0].fields[1] == L"Installing the kernel");
    CHECK(texts[1].fields[1] == L"Stopping Tessel-1 Varnet/Varguard Services...");
    CHECK(texts[2].fields[1].empty());

    CHECK(SetFinishErrorString(1121) == ERROR_SUCCESS);
    CHECK(pkg.Get(L"ID_FINISH_ERROR_STRING") == L"Installation aborted by user.");
    CHECK(std::wstring(GetCADValue(L"ID_FINISH_ERROR_STRING").wvalue()) == L"Installation aborted by user.");
    CHECK(std::wstring(GetMessageText(999).wvalue()) == L"Failed to find message 999");

    CHECK(IsShowSetupInfoDialogs() == 0);
    MsiSetPropertyW(session, L"ShowSetupInfoDialogs", L"1");
    CHECK(IsShowSetupInfoDialogs() == 0);  // read once per process
    CHECK(log.Contains("<IsShowSetupInfoDialogs> value of ShowSetupInfoDialogs from product.ini = 0"));
    UnbindSession();
}
