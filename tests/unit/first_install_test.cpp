// The start of a first installation through the exported handlers on real
// sessions: what OnBegin changes, and OnFirstBefore refusing a drive that
// does not exist (the refusals the e2e runs reach are left to them).
#include <doctest.h>

#include <string>

#include "harness.h"

TEST_CASE("OnFirstBefore on a drive that does not exist refuses but schedules and ends its frame") {
    // A silent package of version 5.2 with its installation directory on Q:.
    TestPackage pkg;
    pkg.Property(L"UILevel", L"2").Property(L"REINSTALLMODE", L"omus").Property(L"TARGETDIR", L"Q:\\")
        .Directory(L"TARGETDIR", L"", L"SourceDir")
        .Directory(L"INSTALLDIR", L"TARGETDIR", L"Varnet")
        .Binary(L"HVINSTADDINT_product_ini", "[version]\r\nMajorVersion=5\r\nMinorVersion=2\r\nPathAskUser=0\r\n")
        .Binary(L"HVINSTADDINT_userc_c", ": (sites)\r\n");
    MSIHANDLE session = pkg.Session(true);
    REQUIRE(CallHandler("OnBegin", session) == ERROR_SUCCESS);
    CHECK(pkg.Get(L"REINSTALLMODE") == L"amus");
    LogCapture log;
    CHECK(CallHandler("OnFirstBefore", session) == ERROR_INSTALL_FAILURE);

    CHECK(log.Find("<OnFirstBefore> Function ended") >= 0);
    CHECK(pkg.Get(L"DCAFNNUM") == L"1");
    CHECK(pkg.Get(L"DCAFN1") == L"OnFirstAfter");
    const std::wstring packed = pkg.Get(L"ALLCADPROPS");
    // Both the folder normalised for the client and the additional files travel.
    CHECK(packed.find(L"[[INSTALLDIR=Q:\\Varnet\\]]|") != std::wstring::npos);
    CHECK(packed.find(L"=userc.c]]|") != std::wstring::npos);
    CHECK(packed.find(L"[[AddFilesTempDir=") != std::wstring::npos);
    CHECK_FALSE(pkg.Get(L"ID_FINISH_ERROR_STRING").empty());
}

// A filtered administrator's token (UAC) keeps the Administrators group for
// deny only, and that counts: OnBegin goes on. A non-administrator's refusal
// (1101) cannot be shown under Wine: every token it gives has the group.
// NtCreateToken is not exported, LogonUserW hands back no token,
// ImpersonateAnonymousToken fails, and both CreateRestrictedToken and the
// linked token keep the group (for deny only).
TEST_CASE("OnBegin lets an administrator with a filtered token through") {
    TestPackage pkg;
    pkg.Property(L"UILevel", L"2").Property(L"TARGETDIR", L"C:\\")
        .Directory(L"TARGETDIR", L"", L"SourceDir")
        .Directory(L"INSTALLDIR", L"TARGETDIR", L"Varnet")
        .Binary(L"HVINSTADDINT_product_ini", "[version]\r\nMajorVersion=5\r\nMinorVersion=2\r\n");
    HANDLE token = FilteredAdministratorToken();
    LogCapture log;
    CHECK(CallHandlerWithToken(token, "OnBegin", pkg) == ERROR_SUCCESS);
    CloseHandle(token);
    CHECK(log.Find("<OnBegin> Running on Windows version:") >= 0);
    CHECK(log.Find("<OnBegin> Function ended") >= 0);
}
