// The start of a first installation through the exported handlers on real
// sessions: what OnBegin changes, and OnFirstBefore refusing a drive that
// does not exist (the refusals the e2e runs reach are left to them).
#include <doctest.h>

#include <string>

#include "harness.h"

TEST_CASE("OnFirstBefore on a drive that does not exist refuses but schedules and ends its frame") {
    // A silent package of version 5.2 with its installation directory on Q:.
    TestPackage pkg;
    pkg.Property(L"UILevel", L"2").Property(L"REINSTALLMODE", L"omus").Client(L"Q:\\", "PathAskUser=0\r\n")
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
    pkg.Property(L"UILevel", L"2")
        .Property(L"ALLCADPROPS", L"[[INSTALLDIR=C:\\evil\\]]|[[tamber_install_mode=new]]|[[Planted=1]]|")
        .Property(L"DCAFNNUM", L"2").Property(L"DCAFN1", L"OnFirstAfter").Property(L"DCAFN2", L"OnRemoveAfter")
        .Client(L"C:\\", "PathAskUser=0\r\n");
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

// A folder that exists before the run and that users may change stops the
// prologue before anything is copied: whoever can rename it could put a
// directory of their own in the installation's place after the lock. A new
// folder, made by the run, and Program Files pass, and the highest folder
// the run makes travels to the deferred handlers.
TEST_CASE("OnFirstBefore refuses a destination under a folder that users may change") {
    struct Case { const char* what; const wchar_t* target; UINT result; const wchar_t* created; };
    const Case cases[] = {
        {"an existing folder that Everyone may write", L"C:\\Apps\\", ERROR_INSTALL_FAILURE, nullptr},
        {"a new folder under the drive's root", L"C:\\VPN\\", ERROR_SUCCESS, L"C:\\VPN\\"},
        {"Program Files", L"C:\\Program Files\\Halvora\\", ERROR_SUCCESS, L"C:\\Program Files\\Halvora\\"},
    };
    CreateDirectoryW(L"C:\\Apps", nullptr);
    UnixCommand("chmod o+w " + UnixPath(L"C:\\Apps"));
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        TestPackage pkg;
        pkg.Property(L"UILevel", L"2").Client(c.target, "PathAskUser=0\r\n");
        MSIHANDLE session = pkg.Session(true);
        REQUIRE(CallHandler("OnBegin", session) == ERROR_SUCCESS);
        LogCapture log;
        CHECK(CallHandler("OnFirstBefore", session) == c.result);
        const std::wstring packed = pkg.Get(L"ALLCADPROPS");
        if (c.result == ERROR_SUCCESS) {
            CHECK(pkg.Get(L"ID_FINISH_ERROR_STRING").empty());
            CHECK(packed.find(L"[[tamber_created_dir=" + std::wstring(c.created) + L"]]|") != std::wstring::npos);
            continue;
        }
        CHECK(log.Contains("<OnFirstBefore> Installation directory C:\\Apps\\Varnet\\ is refused: its parent "
                           "C:\\Apps\\ is writable by S-1-1-0, so the directory could be replaced"));
        CHECK(pkg.Get(L"ID_FINISH_ERROR_STRING").rfind(
                  L"The destination folder lies in a folder that users without administrative privileges can rename",
                  0) == 0);
        CHECK(packed.find(L"tamber_created_dir") == std::wstring::npos);
    }
}

// OnFirstAfter locks from the folder that the prologue recorded as new: one
// that holds more than the way down was not made by this run, and the
// handler stops before it uses the directory.
TEST_CASE("OnFirstAfter locks from the highest folder the run made") {
    for (const wchar_t* d : {L"C:\\VPN", L"C:\\VPN\\Varnet", L"C:\\VPN\\planted"}) CreateDirectoryW(d, nullptr);
    TestPackage pkg;
    pkg.Property(L"CustomActionData",
                 L"[[UILevel=2]]|[[INSTALLDIR=C:\\VPN\\Varnet\\]]|[[tamber_created_dir=C:\\VPN\\]]|");
    LogCapture log;
    CHECK(CallHandler("OnFirstAfter", pkg.Session()) == ERROR_INSTALL_FAILURE);
    CHECK(log.Messages().back() == "<OnFirstAfter> Installation directory C:\\VPN\\Varnet\\ is not used: C:\\VPN\\, "
                                   "made by this run on the way to it, also holds planted");
}

// A filtered administrator's token (UAC) keeps the Administrators group for
// deny only, and that counts: OnBegin goes on. A non-administrator's refusal
// (1101) cannot be shown under Wine: every token it gives has the group.
// NtCreateToken is not exported, LogonUserW hands back no token,
// ImpersonateAnonymousToken fails, and both CreateRestrictedToken and the
// linked token keep the group (for deny only).
TEST_CASE("OnBegin lets an administrator with a filtered token through") {
    TestPackage pkg;
    pkg.Property(L"UILevel", L"2").Client(L"C:\\");
    const KernelHandle token = FilteredAdministratorToken();
    LogCapture log;
    CHECK(CallHandlerWithToken(token.get(), "OnBegin", pkg) == ERROR_SUCCESS);
    CHECK(log.Find("<OnBegin> Running on Windows version:") >= 0);
    CHECK(log.Find("<OnBegin> Function ended") >= 0);
}
