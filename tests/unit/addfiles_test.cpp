// Customised files carried in the Binary table: row names mapped to file
// names, the extraction into a directory of its own, and the deferred copy
// taking only what the extraction mapped.
#include <doctest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "addfiles/addfiles.h"
#include "deferred/deferred.h"
#include "events/frame.h"
#include "harness.h"
#include "session/session.h"
#include "util/files.h"

namespace {

// What a local user plants in the temporary directory, which SYSTEM shares
// with every user, at the names an extraction would take if they were counted
// per process as _wtmpnam counts them ("\\s<pid>.<count>", base 32): the next
// `count` as directories, the first with a file in it, then a link to a
// directory of the user's.
struct PlantedNames {
    explicit PlantedNames(int count) {
        wchar_t buffer[MAX_PATH] = L"";
        const std::wstring mine = _wtmpnam(buffer);
        const size_t dot = mine.rfind(L'.'), slash = mine.rfind(L'\\');
        for (long n = wcstol(mine.c_str() + dot + 1, nullptr, 32) + 1; dirs.size() <= size_t(count); ++n) {
            std::wstring digits;
            for (long rest = n; rest > 0 || digits.empty(); rest /= 32)
                digits.insert(digits.begin(), L"0123456789abcdefghijklmnopqrstuv"[rest % 32]);
            dirs.push_back(TempDir() + mine.substr(slash + 1, dot - slash) + digits);
        }
        for (int i = 0; i < count; ++i) CreateDirectoryW(dirs[i].c_str(), nullptr);
        WriteFileBytes(dirs[0] + L"\\planted.txt", "planted");
        CreateDirectoryW(usersOwn.c_str(), nullptr);
        UnixCommand("ln -s " + UnixPath(usersOwn) + " " + UnixPath(dirs[count]));
    }
    std::vector<std::wstring> dirs;  // the directories, then the link
    const std::wstring usersOwn = L"C:\\users_own";
};

// Nobody but SYSTEM, the Administrators and the account that made it.
bool OnlyTrustedAccounts(const std::wstring& path) {
    const std::vector<std::string> accounts = AccountsWithAccess(path);
    const std::string self = Narrow(CurrentAccountSid().wvalue());
    return !accounts.empty() && std::all_of(accounts.begin(), accounts.end(), [&](const std::string& a) {
        return a == "S-1-5-18" || a == "S-1-5-32-544" || a == self;
    });
}

const std::string kStore = "<StoreAdditionalFileFromBinaryTable> ", kCopy = "<InstallAdditionalFileFromBinaryTable> ";

}  // namespace

TEST_CASE("Binary row names map to installed file names") {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"HVINSTADDINT_my_file_txt", L"my_file.txt"},     {L"HVINSTADDINT_product_ini_simp", L"product.ini.simp"},
        {L"HVINSTADDEXT_readme_first_txt", L"readme_first_txt"}, {L"HVINSTADDINT_userc_set", L"userc.set"},
        {L"HVINSTADDINT_nounderscore", L"nounderscore"},    {L"HVINSTADDINT_", L""},
        {L"hvinstaddint_my_txt", L""},                       {L"TamberDll", L""},
    };
    for (const auto& c : cases) {
        CAPTURE(Narrow(c.first));
        CHECK(std::wstring(InstalledFileName(c.first).wvalue()) == c.second);
    }
}

TEST_CASE("without a temporary directory nothing is copied") {
    TestPackage pkg;
    BindSession(pkg.Session());
    CHECK(InstallAdditionalFileFromBinaryTable(L"C:\\Inst\\") == 1);
    UnbindSession();
}

TEST_CASE("additional files go into a directory of their own and only they are copied") {
    const PlantedNames planted(2);
    const std::wstring inst = TempDir() + L"Inst\\";
    CreateDirectoryW(inst.c_str(), nullptr);
    CreateDirectoryW((inst + L"database").c_str(), nullptr);
    CreateDirectoryW((inst + L"HVSelfInstall").c_str(), nullptr);
    const char* const leaving[] = {"..\\evil.txt", "C:evil.txt", "sub/evil.txt"};
    TestPackage pkg;
    // Each file from its own row, whichever rows lie around it.
    pkg.Property(L"UILevel", L"2")
        .Binary(L"HVINSTADDINT_userc_c", "sites")
        .Binary(L"HVINSTADDEXT_local.policy", "policy");
    for (const char* name : leaving) pkg.Binary(Widen(std::string("HVINSTADDEXT_") + name), "evil");
    BindSession(pkg.Session());
    Property_table_to_CAD();  // as OnBegin does: the container holds every property
    LogCapture log;
    CHECK(StoreAdditionalFileFromBinaryTable() == ERROR_SUCCESS);
    // A new directory at a name nobody could know beforehand, closed to other accounts from the start.
    const std::wstring fresh = pkg.Get(L"AddFilesTempDir");
    const std::wstring prefix = TempDir() + L"TamberAdd";
    CHECK(fresh.size() == prefix.size() + 16);
    CHECK(fresh.rfind(prefix, 0) == 0);
    CHECK(fresh.find_first_not_of(L"0123456789abcdef", prefix.size()) == std::wstring::npos);
    CHECK(OnlyTrustedAccounts(fresh));
    CHECK_FALSE(log.Contains("already exists"));
    for (const std::wstring& dir : planted.dirs) {
        CHECK(fresh != dir);
        CHECK_FALSE(log.Contains("copy file to: " + Narrow(dir)));
    }
    CHECK(ReadFileBytes(planted.dirs[0] + L"\\planted.txt") == "planted");
    CHECK_FALSE(FileExists(planted.usersOwn + L"\\0.tmp"));
    CHECK(log.Contains(kCopy + "copy file to: " + Narrow(fresh) + "\\"));
    for (const char* name : leaving)
        CHECK(log.Contains(kCopy + "Refused BinaryFileName=HVINSTADDEXT_" + name + ": its file name " + name +
                           " would leave its folder; not extracted"));
    // Planted after all, one named after a property the container holds.
    REQUIRE_FALSE(FileExists(fresh + L"\\0.tmp"));
    for (const wchar_t* name : {L"UILevel", L"0.tmp"}) WriteFileBytes(fresh + L"\\" + name, "planted");
    SetUseCAD(1);  // the copy runs deferred, from the container
    CHECK(InstallAdditionalFileFromBinaryTable(inst.c_str()) == 0);
    UnbindSession();
    CHECK(ReadFileBytes(inst + L"database\\userc.c") == "sites");
    CHECK(ReadFileBytes(inst + L"HVSelfInstall\\local.policy") == "policy");
    for (const char* name : {"UILevel", "0.tmp"})
        CHECK(log.Contains(kCopy + "Skipped " + name + " in " + Narrow(fresh) +
                           ": this installation did not extract it; not copied"));
    for (const wchar_t* name : {L"2", L"0.tmp", L"planted.txt", L"..\\evil.txt", L"evil.txt", L"sub"})
        CHECK_FALSE(FileExists(inst + name));
}

TEST_CASE("without a directory of its own nothing is extracted and no directory is handed on") {
    const std::wstring foreign = TempDir() + L"Foreign";  // on the command line, or left from another run
    TestPackage pkg;
    pkg.Property(L"AddFilesTempDir", foreign).Binary(L"HVINSTADDINT_userc_c", "sites");
    BindSession(pkg.Session());
    Property_table_to_CAD();
    LogCapture log;
    // A temporary directory that is not there: the directory cannot be made.
    wchar_t tmp[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"TMP", tmp, MAX_PATH);
    SetEnvironmentVariableW(L"TMP", L"C:\\missing\\");
    CHECK(StoreAdditionalFileFromBinaryTable() == 1);
    SetEnvironmentVariableW(L"TMP", tmp);
    UnbindSession();
    std::vector<std::string> lines = log.Messages();
    lines.erase(std::remove_if(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind(kStore, 0) != 0; }),
                lines.end());
    REQUIRE(lines.size() == 2);
    const std::string failed = kStore + "Failed to create a temporary directory C:\\missing\\TamberAdd";
    CHECK(lines[0].rfind(failed, 0) == 0);
    CHECK(lines[0].size() == failed.size() + 16 + std::string(" (rc=3)").size());
    CHECK(lines[0].find(" (rc=3)") == failed.size() + 16);
    CHECK(lines[1] == kStore + "Ignoring AddFilesTempDir=" + Narrow(foreign) +
                          ": this run did not create it; it will not be deleted");
    CHECK_FALSE(log.Contains("BinaryFileName="));
    // What the deferred handlers receive: an empty directory, which OnAfterCommon does not delete.
    const std::wstring crossing = pkg.Get(L"ALLCADPROPS");
    CHECK(crossing.find(L"[[AddFilesTempDir=]]|") != std::wstring::npos);
    CHECK(crossing.find(foreign) == std::wstring::npos);
}
