#include <doctest.h>

#include <cstdlib>
#include <string>

#include "harness.h"
#include "util/files.h"

namespace {

std::wstring W(const XString& s) { return s.wvalue(); }

}  // namespace

TEST_CASE("file helpers report what they did") {
    const std::wstring dir = TempDir() + L"helpers";
    const std::wstring file = dir + L"\\a.txt";
    const std::wstring copy = dir + L"\\b.txt";
    CreateDirectoryW(dir.c_str(), nullptr);
    WriteFileBytes(file, "x");
    LogCapture log;

    CHECK_FALSE(HV_DeleteDir(dir.c_str()));
    CHECK(log.Contains("<HV_DeleteDir> failed to delete file  <" + Narrow(dir) + "> (Error code:145)"));
    CHECK(HV_CopyFile(file.c_str(), copy.c_str()));
    CHECK(HV_CopyFile(file.c_str(), copy.c_str()));  // overwrites
    CHECK(log.Contains("<HV_CopyFile> Successfuly copied <" + Narrow(file) + "> to <" + Narrow(copy) + ">"));
    CHECK_FALSE(HV_CopyFile((dir + L"\\missing").c_str(), copy.c_str()));
    CHECK(log.Find("<HV_CopyFile> failed to copy <") >= 0);
    CHECK(HV_DeleteFile(file.c_str()));
    CHECK(HV_DeleteFile(copy.c_str()));
    CHECK_FALSE(HV_DeleteFile(copy.c_str()));
    CHECK(log.Contains("<HV_DeleteFile> failed to delete file  <" + Narrow(copy) + "> (Error code:2)"));
    CHECK(HV_DeleteDir(dir.c_str()));
    CHECK(log.Contains("<HV_DeleteDir> Successfuly deleted dir <" + Narrow(dir) + ">"));
}

TEST_CASE("environment references and folders") {
    XString plain(L"no references here");
    CHECK(Tamber_ExpandEnvironmentStrings(plain) == 1);
    CHECK(W(plain) == L"no references here");
    XString refs(L"%SystemRoot%\\x %TAMBER_UNDEFINED_VAR%");
    CHECK(Tamber_ExpandEnvironmentStrings(refs) == 1);
    wchar_t root[MAX_PATH];
    GetEnvironmentVariableW(L"SystemRoot", root, MAX_PATH);
    CHECK(W(refs) == std::wstring(root) + L"\\x %TAMBER_UNDEFINED_VAR%");

    wchar_t shortPath[kShortPathChars] = L"";
    CHECK(GetExpandedShortPath(L"%SystemRoot%", shortPath) == 0);
    CHECK(shortPath[0] != 0);
    CHECK(GetExpandedShortPath((L"C:\\" + std::wstring(300, L'p')).c_str(), shortPath) == -1);
    CHECK(GetExpandedShortPath(nullptr, shortPath) == -1);

    LogCapture log;
    XString winDir = GetWinDir();
    CHECK(W(GetWinDir()) == W(winDir));
    CHECK(W(winDir).back() == L'\\');
    CHECK(log.Messages() == std::vector<std::string>{"<GetWinDir> Retrieved WinDir is: " + Narrow(W(winDir))});

    XString client = GetDefaultClientDir();
    CHECK(W(client) == W(GetProgramFilesDir()) + L"Halvora\\Varnet\\");
    CHECK(W(GetCommonProgramsDir()).back() == L'\\');
    CHECK(log.Contains("<GetDefaultClientDir> Retrieved dir is: <" + Narrow(W(client)) + ">"));
}

// Registered once per Windows version, with the prefix set to it.
TEST_CASE("version predicates on each Windows version") {
    struct Expected {
        const char* wine;
        const char* version;
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
        const std::string running = std::string("Running on Windows version: ") + e.version + " service pack: ";
        CHECK(log.Find("<isVista> " + running) == 0);
        CHECK(log.Messages().at(1) == std::string("<isVista> ") + (e.vista ? "TRUE" : "FALSE"));
        CHECK(log.Messages().at(3) == std::string("<isXP> ") + (e.xp ? "TRUE" : "FALSE"));
        CHECK(log.Messages().at(5) == std::string("<is2KorXP> ") + (e.twoKorXP ? "TRUE" : "FALSE"));
        return;
    }
    FAIL("no expectation for " << configured);
}
