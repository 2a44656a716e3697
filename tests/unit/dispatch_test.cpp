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
    struct Case {
        const char* message;
        std::vector<std::pair<std::wstring, std::wstring>> properties;
    };
    const Case cases[] = {
        {"Error : Failed to get the number string of the deferred CA routines.", {}},
        {"Error : Failed to get the number of the deferred CA routines.", {{L"DCAFNNUM", L"0"}}},
        {"Error : Failed to get the number of the deferred CA routines.", {{L"DCAFNNUM", L"-1"}}},
        {"Error : Failed to get the number of the deferred CA routines.", {{L"DCAFNNUM", L"two"}}},
        {"Critical Error : Failed to get the name of the deferred CA",
         {{L"DCAFNNUM", L"3"}, {L"DCAFN1", L"OnRemoveBefore"}, {L"DCAFN2", L"OnRemoveAfter"}}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.message);
        TestPackage pkg;
        // Text before the first mark: a stored container would drop it.
        pkg.Property(L"ALLCADPROPS", L"junk" + kPacked);
        for (const auto& p : c.properties) pkg.Property(p.first, p.second);
        LogCapture log;
        CHECK(CallHandler("OnExecuteStub", pkg.Session()) == ERROR_INSTALL_FAILURE);
        CHECK(log.Contains(std::string("<OnExecuteStub> ") + c.message));
        CHECK(log.Find("<OnExecuteStub> Function ended") == -1);
        CHECK(pkg.Get(L"ALLCADPROPS") == L"junk" + kPacked);
        if (c.properties.size() == 3) {  // routines before the gap were already handed their data
            CHECK(pkg.Get(L"OnRemoveBefore") == L"junk" + kPacked);
            CHECK(pkg.Get(L"OnRemoveAfter") == L"junk" + kPacked);
        }
    }
}

TEST_CASE("a schedule without packed properties stops the run") {
    TestPackage pkg;
    pkg.Property(L"DCAFNNUM", L"1").Property(L"DCAFN1", L"OnFirstAfter");
    LogCapture log;
    CHECK(CallHandler("OnExecuteStub", pkg.Session()) == ERROR_INSTALL_FAILURE);
    CHECK(log.Contains("<OnExecuteStub> Critical Error : Failed to get the properties for the deferred CA"));
    CHECK(pkg.Get(L"OnFirstAfter").empty());
}
