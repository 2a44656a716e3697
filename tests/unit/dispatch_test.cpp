// OnExecuteStub hands the packed container to each scheduled deferred routine.
#include <doctest.h>

#include <string>
#include <vector>

#include "harness.h"

namespace {

const std::wstring kPacked = L"[[UILevel=5]]|[[tamber_install_mode=upgrade]]|";

}  // namespace

TEST_CASE("every scheduled routine gets the packed text and the install mode is republished") {
    TestPackage pkg;
    pkg.Property(L"ALLCADPROPS", kPacked)
        .Property(L"tamber_install_mode", L"new")
        .Property(L"DCAFNNUM", L" 2")  // blanks before the digits are accepted
        .Property(L"DCAFN1", L"OnMaintBefore")
        .Property(L"DCAFN2", L"OnMaintAfter");
    LogCapture log;
    CHECK(CallHandler("OnExecuteStub", pkg.Session()) == ERROR_SUCCESS);

    CHECK(pkg.Get(L"OnMaintBefore") == kPacked);
    CHECK(pkg.Get(L"OnMaintAfter") == kPacked);
    CHECK(pkg.Get(L"tamber_install_mode") == L"upgrade");
    CHECK(pkg.Get(L"ALLCADPROPS") == kPacked);
    int done = log.Find("<OnExecuteStub> Function ended successfully");
    CHECK(done >= 0);
    CHECK(log.Find("<OnExecuteStub> Function ended") == done);
    CHECK(log.Messages().size() > static_cast<size_t>(done) + 3);
    CHECK(log.Messages().at(done + 4) == "<OnExecuteStub> Function ended");
}

TEST_CASE("a broken schedule stops the run with its message") {
    // Text before the first mark: a stored container would drop it.
    const std::wstring packed = L"junk" + kPacked;
    struct Case {
        const char* message;
        std::vector<std::pair<std::wstring, std::wstring>> properties;
        std::wstring packed;
    };
    const Case cases[] = {
        {"Error : Failed to get the number string of the deferred CA routines.", {}, packed},
        {"Error : Failed to get the number of the deferred CA routines.", {{L"DCAFNNUM", L"0"}}, packed},
        {"Error : Failed to get the number of the deferred CA routines.", {{L"DCAFNNUM", L"-1"}}, packed},
        {"Error : Failed to get the number of the deferred CA routines.", {{L"DCAFNNUM", L"two"}}, packed},
        {"Critical Error : Failed to get the name of the deferred CA",
         {{L"DCAFNNUM", L"3"}, {L"DCAFN1", L"OnRemoveBefore"}, {L"DCAFN2", L"OnRemoveAfter"}}, packed},
        {"Critical Error : Failed to get the properties for the deferred CA",
         {{L"DCAFNNUM", L"1"}, {L"DCAFN1", L"OnFirstAfter"}}, L""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.message);
        TestPackage pkg;
        if (!c.packed.empty()) pkg.Property(L"ALLCADPROPS", c.packed);
        for (const auto& p : c.properties) pkg.Property(p.first, p.second);
        LogCapture log;
        CHECK(CallHandler("OnExecuteStub", pkg.Session()) == ERROR_INSTALL_FAILURE);
        CHECK(log.Contains(std::string("<OnExecuteStub> ") + c.message));
        CHECK(log.Find("<OnExecuteStub> Function ended") == -1);
        CHECK(pkg.Get(L"ALLCADPROPS") == c.packed);
        // Routines before the gap were already handed their data.
        for (const auto& p : c.properties)
            if (p.first != L"DCAFNNUM") CHECK(pkg.Get(p.second) == c.packed);
    }
}
