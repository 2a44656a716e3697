// OnExecuteStub hands the packed container to each scheduled deferred routine.
#include <doctest.h>

#include <string>
#include <vector>

#include "harness.h"

TEST_CASE("every scheduled routine gets the packed text and the install mode is republished") {
    const std::wstring packed = L"[[UILevel=5]]|[[tamber_install_mode=upgrade]]|";
    TestPackage pkg;
    pkg.Property(L"ALLCADPROPS", packed).Property(L"tamber_install_mode", L"new");
    // Blanks before the digits are accepted.
    pkg.Property(L"DCAFNNUM", L" 2").Property(L"DCAFN1", L"OnMaintBefore").Property(L"DCAFN2", L"OnMaintAfter");
    CHECK(CallHandler("OnExecuteStub", pkg.Session()) == ERROR_SUCCESS);
    CHECK(pkg.Get(L"OnMaintBefore") == packed);
    CHECK(pkg.Get(L"OnMaintAfter") == packed);
    CHECK(pkg.Get(L"tamber_install_mode") == L"upgrade");
}

TEST_CASE("a broken schedule stops the run with its message") {
    // Text before the first mark: a stored container would drop it.
    const std::wstring packed = L"junk[[UILevel=5]]|[[tamber_install_mode=upgrade]]|";
    const char kNoNumber[] = "Error : Failed to get the number of the deferred CA routines.";
    struct Case { const char* message; std::vector<std::pair<std::wstring, std::wstring>> properties; std::wstring packed; };
    const Case cases[] = {
        {"Error : Failed to get the number string of the deferred CA routines.", {}, packed},
        {kNoNumber, {{L"DCAFNNUM", L"0"}}, packed},
        {kNoNumber, {{L"DCAFNNUM", L"-1"}}, packed},
        {kNoNumber, {{L"DCAFNNUM", L"two"}}, packed},
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

// OnExecuteStub also refuses a user who is not an administrator. Wine cannot
// give a token without the Administrators group: CreateRestrictedToken only
// marks it deny-only (which counts as membership, as for a filtered
// administrator), LogonUserW hands back a placeholder and ntdll exports no
// NtCreateToken. That refusal is therefore not shown here.
