// The version test and the package's branding files.
#include <doctest.h>

#include <string>

#include "bound_session.h"
#include "harness.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "upgrade/upgrade.h"

TEST_CASE("a downgrade is refused") {
    const wchar_t* client = L"SOFTWARE\\Halvora\\Varnet";
    struct Case { const wchar_t *installedMajor, *installedMinor, *major, *minor; int refused, message; };
    const Case cases[] = {
        {L"5", L"2", L"5", L"1", 1, 1107}, {L"5", L"1", L"5", L"1", 0, 0}, {L"4", L"9", L"5", L"1", 0, 0},
        {L"6", L"0", L"5", L"0", 1, 1106}, {nullptr, nullptr, L"5", L"1", 0, 0},
    };
    for (const Case& c : cases) {
        CAPTURE(c.message);
        RegRecursiveDeleteKey(HKEY_LOCAL_MACHINE, client);
        if (c.installedMajor) {
            setRegistryStringValue(HKEY_LOCAL_MACHINE, client, L"MajorVersion", c.installedMajor);
            setRegistryStringValue(HKEY_LOCAL_MACHINE, client, L"MinorVersion", c.installedMinor);
        }
        BoundSession session({{L"MajorVersion", c.major}, {L"MinorVersion", c.minor}});
        CHECK(IsDowngrade() == c.refused);
        if (c.message) CHECK(session.Get(L"ID_FINISH_ERROR_STRING") == GetMessageText(c.message).wvalue());
    }
}

TEST_CASE("branding files stay when the package includes them") {
    const std::wstring dir = TempDir() + L"Brand\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    WriteFileBytes(dir + L"logo.bmp", "x");
    WriteFileBytes(dir + L"authmsg.txt", "x");
    BoundSession session({{L"IncludeBrandingFiles", L"1"}});
    IncludeBrandingFiles(dir.c_str());
    CHECK(FileExists(dir + L"logo.bmp"));
    CHECK(FileExists(dir + L"authmsg.txt"));
}
