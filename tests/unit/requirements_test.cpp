// The checks that refuse a run, with real sessions and the Wine registry.
#include <doctest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "events/frame.h"
#include "harness.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "state/state.h"

namespace {

std::wstring W(const XString& s) { return s.wvalue(); }

// A bound, visible session whose boxes the recorder sees (and answers 0).
class Checks {
public:
    Checks() : ui_(INSTALLLOGMODE_WARNING | INSTALLLOGMODE_ACTIONDATA) {
        MSIHANDLE session = pkg_.Session();
        MsiSetPropertyW(session, L"UILevel", L"5");
        BindSession(session);
    }
    ~Checks() { UnbindSession(); }
    std::vector<std::wstring> Boxes() const {
        std::vector<std::wstring> out;
        for (const SeenMessage& m : ui_.OfClass(INSTALLMESSAGE_WARNING)) out.push_back(m.fields[0]);
        return out;
    }
    std::wstring FinishText() { return pkg_.Get(L"ID_FINISH_ERROR_STRING"); }

private:
    UiRecorder ui_;
    TestPackage pkg_;
};

}  // namespace

TEST_CASE("conflicting products stop the run with their message") {
    RegRecursiveDeleteKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvora");  // each subcase starts clean
    SUBCASE("no conflicting product") {
        Checks checks;
        CHECK(CheckRequirements());
        CHECK(checks.Boxes().empty());
    }
    SUBCASE("a firewall version without its subkey does not block") {
        setRegistryStringValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvora\\bd1", L"CurrentVersion", L"7.1");
        Checks checks;
        LogCapture log;
        CHECK(CheckRequirements());
        CHECK(log.Contains("<CheckRequirements> BD1 version =  7.1 no sub key with this version was found under "
                           "SOFTWARE\\Halvora bd1 , bd1 does not exist."));
    }
    SUBCASE("a firewall version with its subkey blocks") {
        setRegistryStringValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvora\\bd1", L"CurrentVersion", L"7.1");
        HklmCreateKey(L"SOFTWARE\\Halvora\\bd1\\7.1");
        Checks checks;
        LogCapture log;
        CHECK_FALSE(CheckRequirements());
        REQUIRE(checks.Boxes().size() == 1);
        CHECK(checks.Boxes()[0] == W(GetMessageText(1104)));
        CHECK(checks.FinishText() == W(GetMessageText(1104)));
        CHECK(log.Contains("<CheckRequirements> BD1 exist on the machine - exit"));
    }
    SUBCASE("the bandwidth product blocks whatever its key holds") {
        HklmCreateKey(L"SOFTWARE\\Halvora\\et1");
        Checks checks;
        CHECK_FALSE(CheckRequirements());
        REQUIRE(checks.Boxes().size() == 1);
        CHECK(checks.Boxes()[0] == W(GetMessageText(1105)));
        CHECK(checks.FinishText() == W(GetMessageText(1105)));
    }
}

TEST_CASE("dependent products block the removal and are named in the box") {
    RegRecursiveDeleteKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvora");  // each subcase starts clean
    SUBCASE("none") {
        Checks checks;
        CHECK(CheckDependentPkgs());
        CHECK(checks.Boxes().empty());
    }
    SUBCASE("A and B") {
        const wchar_t* key = L"SOFTWARE\\Halvora\\Varnet\\5.0\\SP9\\MSP0\\DependentPkgs";
        setRegistryStringValue(HKEY_LOCAL_MACHINE, key, L"A", L"x");
        setRegistryStringValue(HKEY_LOCAL_MACHINE, key, L"B", L"y");
        Checks checks;
        CHECK_FALSE(CheckDependentPkgs());
        REQUIRE(checks.Boxes().size() == 1);
        CHECK(checks.Boxes()[0] == W(GetMessageText(1114)) + L"\nA\nB" + W(GetMessageText(1115)));
    }
}

TEST_CASE("destination paths") {
    LogCapture log;
    for (const wchar_t* bad : {L"\\\\server\\share\\dir", L"relative\\dir", L"C:"}) {
        CAPTURE(Narrow(bad));
        CHECK_FALSE(CheckDriveIsValid(bad));
        CHECK_FALSE(CheckDiskSpace(bad));
        CHECK(log.Contains("<GetDiskFromPath> illegal drive path <" + Narrow(bad) + ">"));
    }
    CHECK(CheckDriveIsValid(L"C:\\Program Files\\"));
    CHECK(log.Contains("<CheckDriveIsValid> CheckDriveIsValid: result for drive <C:\\> = true."));

    XString path(L"C:\\Program Files\\Halvora");
    AppendVarnetFolder(path);
    CHECK(W(path) == L"C:\\Program Files\\Halvora\\Varnet\\");
    XString guard(L"D:\\Varguard\\x");
    AppendVarnetFolder(guard);
    CHECK(W(guard) == L"D:\\Varguard\\x\\");
    XString empty(L"");
    EnsureTrailingBackslash(empty);
    CHECK(W(empty).empty());
}

// Registered with drive T: on a fresh tmpfs of exactly 40 MiB.
TEST_CASE("the space check at its boundary on a 40 MiB drive") {
    const char* drive = getenv("TAMBER_TEST_DRIVE");
    REQUIRE(drive != nullptr);
    const std::wstring root = Widen(drive);
    ULARGE_INTEGER available, total, totalFree;
    REQUIRE(GetDiskFreeSpaceExW(root.c_str(), &available, &total, &totalFree));
    REQUIRE(totalFree.QuadPart == static_cast<ULONGLONG>(kRequiredFreeBytes));
    LogCapture log;
    CHECK(CheckDriveIsValid((root + L"Client\\").c_str()));
    CHECK(CheckDiskSpace((root + L"Client\\").c_str()));
    CHECK(log.Contains("<CheckDiskSpace> OK: disk <" + Narrow(root) + "> has more than 41943040 bytes free"));

    FILE* f = _wfopen((root + L"fill").c_str(), L"wb");
    REQUIRE(f);
    fputs("one block", f);
    fclose(f);
    CHECK_FALSE(CheckDiskSpace((root + L"Client\\").c_str()));
    CHECK(log.Find("<CheckDiskSpace> ERROR: not enough space on selected disk!!!  needed: 41943040 bytes, available: ") >=
          0);
}

TEST_CASE("the client's key is removed from every user's hive") {
    HKEY key;
    REQUIRE(RegCreateKeyW(HKEY_CURRENT_USER, L"Software\\Halvora\\Varnet\\Sub", &key) == ERROR_SUCCESS);
    RegCloseKey(key);
    DeleteVarnetKeyFromAllUsers();
    CHECK(RegOpenKeyW(HKEY_CURRENT_USER, L"Software\\Halvora\\Varnet", &key) == ERROR_FILE_NOT_FOUND);
    CHECK(RegOpenKeyW(HKEY_CURRENT_USER, L"Software\\Halvora", &key) == ERROR_SUCCESS);
    RegCloseKey(key);
}
