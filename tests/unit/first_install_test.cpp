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

TEST_CASE("a run whose command line carries a container and a schedule hands on only what it made") {
    // A silent run (no UI sequence) that a user started with a container of
    // their own and a second routine to run.
    TestPackage pkg;
    pkg.Property(L"UILevel", L"2").Property(L"TARGETDIR", L"C:\\")
        .Property(L"ALLCADPROPS", L"[[INSTALLDIR=C:\\evil\\]]|[[tamber_install_mode=new]]|[[Planted=1]]|")
        .Property(L"DCAFNNUM", L"2").Property(L"DCAFN1", L"OnFirstAfter").Property(L"DCAFN2", L"OnRemoveAfter")
        .Directory(L"TARGETDIR", L"", L"SourceDir")
        .Directory(L"INSTALLDIR", L"TARGETDIR", L"Varnet")
        .Binary(L"HVINSTADDINT_product_ini", "[version]\r\nMajorVersion=5\r\nMinorVersion=2\r\nPathAskUser=0\r\n");
    MSIHANDLE session = pkg.Session(true);
    LogCapture log;
    REQUIRE(CallHandler("OnBegin", session) == ERROR_SUCCESS);
    CHECK(log.Contains("<OnBegin> ALLCADPROPS held 3 entries before this run began; they are not taken"));
    std::wstring packed = pkg.Get(L"ALLCADPROPS");
    CHECK(packed.find(L"Planted") == std::wstring::npos);
    CHECK(packed.find(L"evil") == std::wstring::npos);

    CallHandler("OnFirstBefore", session);  // its checks are not this case's
    CHECK(log.Contains("<SetDeferredCustomActionFN> DCAFN2=OnRemoveAfter was not scheduled by this run; it is cleared"));
    CHECK(pkg.Get(L"DCAFNNUM") == L"1");
    CHECK(pkg.Get(L"DCAFN2").empty());
    packed = pkg.Get(L"ALLCADPROPS");
    CHECK(packed.find(L"[[DCAFN2=]]|") != std::wstring::npos);
    CHECK(packed.find(L"[[INSTALLDIR=C:\\Varnet\\]]|") != std::wstring::npos);
    CHECK(packed.find(L"Planted") == std::wstring::npos);

    REQUIRE(CallHandler("OnExecuteStub", session) == ERROR_SUCCESS);
    CHECK(pkg.Get(L"OnFirstAfter") == packed);
    CHECK(pkg.Get(L"OnRemoveAfter").empty());
}
