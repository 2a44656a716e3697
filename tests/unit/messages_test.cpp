// Installer messages through the real engine. The test opens a session in
// its own process (Wine's msi.dll) and installs a record-based external UI
// handler ahead of the library's string handler: it sees every message the
// library sends through MsiProcessMessage, with all its fields, and answers
// with the button a test chooses, as a user would in the installer's dialog.
#include <doctest.h>

#include <string>
#include <utility>
#include <vector>

#include "events/frame.h"
#include "harness.h"
#include "session/session.h"

TEST_CASE("with a full UI the engine gets boxes and progress and action text as sent") {
    UiRecorder ui(INSTALLLOGMODE_WARNING | INSTALLLOGMODE_PROGRESS | INSTALLLOGMODE_COMMONDATA |
                  INSTALLLOGMODE_ACTIONDATA);
    TestPackage pkg;
    MSIHANDLE session = pkg.Session();
    MsiSetPropertyW(session, L"UILevel", L"5");
    BindSession(session);
    UiRecorder::seen.clear();

    // The first progress step resets the bar, later steps only move it.
    using Fields = std::vector<std::wstring>;
    const Fields advance{L"", L"2", L"10000", L"0", L"0"};
    StepProgressBar(session);
    auto first = ui.OfClass(INSTALLMESSAGE_PROGRESS);
    REQUIRE(first.size() == 3);
    CHECK(first[0].fields == advance);
    CHECK(first[1].fields == Fields{L"", L"0", L"70000", L"0", L"0"});
    CHECK(first[2].fields == advance);
    UiRecorder::seen.clear();
    StepProgressBar(session);
    auto later = ui.OfClass(INSTALLMESSAGE_PROGRESS);
    REQUIRE(later.size() == 1);
    CHECK(later[0].fields == advance);

    UiRecorder::answer = 8;
    CHECK(ShowMsgBox(L"Proceed 100%?", MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) == 8);
    auto boxes = ui.OfClass(INSTALLMESSAGE_WARNING);
    REQUIRE(boxes.size() == 1);
    CHECK(boxes[0].type == (INSTALLMESSAGE_WARNING | 0x134));
    CHECK(boxes[0].fields[0] == L"Proceed 100%?");
    CHECK(std::wstring(GetGuiSwitch().wvalue()) == L"-g");

    ShowSetupInfoById(1112, true);
    ShowSetupInfoById(1112, false);
    auto texts = ui.OfClass(INSTALLMESSAGE_ACTIONDATA);
    REQUIRE(texts.size() == 2);
    CHECK(texts[0].fields[1] == L"Stopping Tessel-1 Varnet/Varguard Services...");
    CHECK(texts[1].fields[1].empty());
    CHECK(std::wstring(GetMessageText(999).wvalue()) == L"Failed to find message 999");

    // Hiding the cancel button succeeds only on the installer's answer 1.
    for (const auto& a : {std::pair<int, UINT>{1, 1}, {0, 0}, {7, 0}, {9, 0}}) {
        UiRecorder::answer = a.first;
        UiRecorder::seen.clear();
        CHECK(HideCancelButton(session) == a.second);
        auto sent = ui.OfClass(INSTALLMESSAGE_COMMONDATA);
        REQUIRE(sent.size() == 1);
        CHECK((sent[0].fields[1] == L"2" && sent[0].fields[2] == L"0"));
    }
    UnbindSession();
}
