// Environment and folder helpers, and the Windows version predicates.
#include <doctest.h>

#include <cstdlib>
#include <string>

#include "harness.h"
#include "util/files.h"

TEST_CASE("environment references and folders") {
    XString refs(L"%SystemRoot%\\x %TAMBER_UNDEFINED_VAR%");
    CHECK(Tamber_ExpandEnvironmentStrings(refs) == 1);
    wchar_t root[MAX_PATH];
    GetEnvironmentVariableW(L"SystemRoot", root, MAX_PATH);
    CHECK(refs.wvalue() == std::wstring(root) + L"\\x %TAMBER_UNDEFINED_VAR%");

    wchar_t shortPath[kShortPathChars] = L"";
    CHECK(GetExpandedShortPath(L"%SystemRoot%", shortPath) == 0);
    CHECK(GetExpandedShortPath((L"C:\\" + std::wstring(300, L'p')).c_str(), shortPath) == -1);
    CHECK(GetExpandedShortPath(nullptr, shortPath) == -1);

    const std::string winDir = Narrow(GetWinDir().wvalue());
    CHECK(winDir.back() == '\\');
    // The legacy cleanup's directory: absolute and with its backslash, even
    // when %windir% has no short form.
    LogCapture log;
    CHECK(std::string(GetShortWinDirA(L"Caller").value()) == winDir);  // the names are 8.3 already
    CHECK(log.Lines().empty());
    SetEnvironmentVariableW(L"windir", L"C:\\no such windows");
    CHECK(std::string(GetShortWinDirA(L"Caller").value()) == winDir);
    CHECK(log.Contains("<Caller> No short form of %windir%; using the Windows directory <" + winDir + ">"));
    CHECK(std::wstring(GetDefaultClientDir().wvalue()) ==
          std::wstring(GetProgramFilesDir().wvalue()) + L"Halvora\\Varnet\\");
}

// Registered once per Windows version, with the prefix set to it.
TEST_CASE("version predicates on each Windows version") {
    struct Expected {
        const char *wine, *version;
        bool vista, xp, twoKorXP;
    };
    const Expected table[] = {
        {"win2k", "5.0", false, false, true},   {"winxp", "5.1", false, true, true},
        {"win2003", "5.2", false, false, true}, {"vista", "6.0", true, false, false},
        {"win7", "6.1", true, false, false},
    };
    const char* configured = getenv("TAMBER_WINVER");
    REQUIRE(configured != nullptr);
    for (const Expected& e : table) {
        if (std::string(e.wine) != configured) continue;
        LogCapture log;
        CHECK(isVista() == e.vista);
        CHECK(isXP() == e.xp);
        CHECK(is2KorXP() == e.twoKorXP);
        CHECK(log.Find(std::string("<isVista> Running on Windows version: ") + e.version + " service pack: ") == 0);
        return;
    }
    FAIL("no expectation for " << configured);
}
