// The destination checks that refuse a run, against Wine's drives. The
// conflicting and dependent products are refused by whole runs of the
// installer, which prove those checks.
#include <doctest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "harness.h"
#include "state/state.h"

TEST_CASE("destination paths") {
    for (const wchar_t* bad : {L"\\\\server\\share\\dir", L"relative\\dir", L"C:"}) {
        CAPTURE(Narrow(bad));
        CHECK_FALSE(CheckDriveIsValid(bad));
        CHECK_FALSE(CheckDiskSpace(bad));
    }
    CHECK(CheckDriveIsValid(L"C:\\Program Files\\"));

    XString guard(L"D:\\Varguard\\x");
    AppendVarnetFolder(guard);
    CHECK(std::wstring(guard.wvalue()) == L"D:\\Varguard\\x\\");
    XString empty(L"");
    EnsureTrailingBackslash(empty);
    CHECK(std::wstring(empty.wvalue()).empty());
}

// Registered with drive T: on a fresh tmpfs of exactly 40 MiB.
TEST_CASE("the space check at its boundary on a 40 MiB drive") {
    const char* drive = getenv("TAMBER_TEST_DRIVE");
    REQUIRE(drive != nullptr);
    const std::wstring client = Widen(drive) + L"Client\\";
    ULARGE_INTEGER available, total, totalFree;
    REQUIRE(GetDiskFreeSpaceExW(Widen(drive).c_str(), &available, &total, &totalFree));
    REQUIRE(totalFree.QuadPart == static_cast<ULONGLONG>(kRequiredFreeBytes));
    CHECK(CheckDriveIsValid(client.c_str()));
    CHECK(CheckDiskSpace(client.c_str()));

    FILE* f = _wfopen((Widen(drive) + L"fill").c_str(), L"wb");
    REQUIRE(f);
    fputs("one block", f);
    fclose(f);
    CHECK_FALSE(CheckDiskSpace(client.c_str()));
}
