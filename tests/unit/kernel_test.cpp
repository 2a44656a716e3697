// The process runner's limits and the Vista driver-cache branch, against the
// recorder stand-in installed under each tool's name in C:\P\, and the
// search-path edits.
#include <doctest.h>
#include <windows.h>
#include <aclapi.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "events/frame.h"
#include "harness.h"
#include "kernel/kernel.h"
#include "system/system.h"
#include "util/files.h"

namespace {

const std::wstring kDir = L"C:\\P\\";
const std::wstring kCalls = L"C:\\tamber_calls.txt";

// C:\P\ laid out as the package installs it, with stand-ins for the tools,
// and a bound silent session.
class ClientInstall {
public:
    ClientInstall() {
        for (const wchar_t* d : {L"", L"bin"}) CreateDirectoryW((kDir + d).c_str(), nullptr);
        for (const wchar_t* tool : {L"bin\\vna_utils.exe", L"bin\\xpdrv.exe"})
            CopyFileW((ExeDir() + L"tools\\recorder.exe").c_str(), (kDir + tool).c_str(), FALSE);
        DeleteFileW(kCalls.c_str());
        BindSession(pkg_.Session());
    }
    ~ClientInstall() { UnbindSession(); }

    // The command lines of the calls recorded so far, from the lines
    // "name|command line|..."; waits up to 10 s for at least `atLeast`.
    static std::vector<std::string> Calls(size_t atLeast = 0) {
        std::vector<std::string> calls;
        for (int tries = 0; tries < 100 && (tries == 0 || calls.size() < atLeast); ++tries, Sleep(100)) {
            calls.clear();
            std::istringstream all(ReadFileBytes(kCalls));
            for (std::string line; std::getline(all, line) && !all.eof();) {  // whole lines only
                const size_t bar = line.find('|') + 1;
                calls.push_back(line.substr(bar, line.find('|', bar) - bar));
            }
        }
        return calls;
    }

private:
    TestPackage pkg_;
};

}  // namespace

// Registered once per Windows version, with the prefix set to it.
TEST_CASE("the adapter removal cleans the driver cache on each Windows version") {
    const char* configured = getenv("TAMBER_WINVER");
    REQUIRE(configured != nullptr);
    const bool vista = std::string(configured) == "vista" || std::string(configured) == "win7";
    ClientInstall install;
    CHECK(UnInstallVNA(kDir.c_str()) == 0);
    auto calls = ClientInstall::Calls(vista ? 2 : 1);
    REQUIRE(calls.size() == (vista ? 2u : 1u));
    CHECK(calls[0] == "\"C:\\P\\bin\\vna_utils.exe\" -d product uninstall Varnet");
    if (vista)
        CHECK(calls[1] ==
              "\"C:\\P\\bin\\vna_utils.exe\" -d vna dev clean_cache \"C:\\P\\boot\\modules\\netvna.inf\" hv_vgvna ");
}

TEST_CASE("the runner without waiting and with bad command lines") {
    ClientInstall install;
    LogCapture log;
    CHECK(RunXPDRV(kDir.c_str()) == 0);
    CHECK_FALSE(log.Contains("Switching to"));
    auto calls = ClientInstall::Calls(1);
    REQUIRE(calls.size() == 1);
    CHECK(calls[0] == "\"C:\\P\\bin\\xpdrv.exe\"");

    const std::wstring longLine = L"\"C:\\P\\bin\\xpdrv.exe\" " + std::wstring(300, L'a');
    Tamber_RunProcess(longLine.c_str(), true);
    CHECK(log.Contains("<Tamber_RunProcess> running command: <" + Narrow(longLine.substr(0, 255)) + ">"));

    // A script line that would not fit is not run at all.
    const std::wstring deep = L"C:\\" + std::wstring(150, L'd') + L"\\";
    CHECK(RunInstallScripts(deep.c_str()) == kRunNotStarted);
    CHECK(log.Find("<Drivers Controller> The command line would not fit in 255 characters; it is not run") >= 0);
    CHECK(ClientInstall::Calls().size() == 2);  // xpdrv and the cut line's run of xpdrv
}

TEST_CASE("search paths") {
    SUBCASE("the process PATH gains bin once, whatever its case") {
        SetEnvironmentVariableW(L"PATH", L"C:\\windows;C:\\OTHER\\BIN2");
        CHECK(AddInstDirToPath(L"C:\\Other") == 1);  // a prefix of ...\BIN2 counts as present
        CHECK(AddInstDirToPath(L"C:\\Client") == 1);
        CHECK(AddInstDirToPath(L"c:\\CLIENT\\") == 1);
        wchar_t path[512];
        GetEnvironmentVariableW(L"PATH", path, 512);
        CHECK(std::wstring(path) == L"C:\\Client\\bin;C:\\windows;C:\\OTHER\\BIN2");
        CHECK(AddInstDirToPath(nullptr) == -1);
    }
    SUBCASE("the machine Path loses every copy of the entry") {
        const wchar_t* key = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
        const wchar_t* cases[][2] = {{L"A;E;B", L"A;B"}, {L"E", L""},           {L"E;A", L"A"},
                                     {L"A;E", L"A"},     {L"E;A;e;B;E", L"A;B"}, {L"A;E\\;B", L"A;E\\;B"}};
        for (const auto& c : cases) {
            CAPTURE(Narrow(c[0]));
            HKEY h;
            REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &h) == ERROR_SUCCESS);
            RegSetValueExW(h, L"Path", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(c[0]),
                           static_cast<DWORD>((wcslen(c[0]) + 1) * 2));
            RegCloseKey(h);
            CHECK(DeleteFromEnvironmentPath(L"E") == 1);
            std::wstring after;
            CHECK(HklmValue(key, L"Path", &after) == REG_EXPAND_SZ);
            CHECK(after == c[1]);
        }
    }
}

// The batch keeps a list in %TMP%; SYSTEM's own temporary directory is
// writable by every user, who could rewrite the list between its lines.
TEST_CASE("the split batch runs with a temporary directory of its own or not at all") {
    ClientInstall install;
    CopyFileW((ExeDir() + L"tools\\recorder.exe").c_str(), (kDir + L"bin\\VN_SMS.exe").c_str(), FALSE);
    const std::wstring usersList = TempDir() + L"bdkern.tmp", windows = GetWinDir().wvalue();
    WriteFileBytes(usersList, "C:\\victim\r\n");
    {  // Only SYSTEM and the Administrators (to Wine, its one user) are let in.
        PrivateTempDir own;
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ACCESS_ALLOWED_ACE* first = nullptr;
        ACCESS_ALLOWED_ACE* second = nullptr;
        REQUIRE(GetNamedSecurityInfoW(own.Path().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                      &dacl, nullptr, &descriptor) == ERROR_SUCCESS);
        CHECK(dacl->AceCount == 2);
        CHECK((GetAce(dacl, 0, reinterpret_cast<void**>(&first)) && IsWellKnownSid(&first->SidStart, WinLocalSystemSid)));
        // Wine keeps a directory's access list as Unix mode bits: the
        // Administrators' entry comes back as its one user's, with their rights.
        REQUIRE(GetAce(dacl, 1, reinterpret_cast<void**>(&second)));
        CHECK((IsWellKnownSid(&second->SidStart, WinBuiltinAdministratorsSid) ||
               SidText(&second->SidStart).equalsIgnoreCase(CurrentAccountSid())));
        CHECK(second->Mask == FILE_ALL_ACCESS);
        LocalFree(descriptor);
    }
    LogCapture log;
    CHECK(InstallBD_with_VN_SMS_service(kDir.c_str()) == 0);
    // The stand-in's cmd echoes the batch's lines into the log.
    std::string temp;
    for (const std::string& line : log.Lines())
        if (temp.empty() && line.find(">del /q /f \"") != std::string::npos)
            temp = line.substr(line.find('"') + 1, line.rfind("\\bdkern.tmp\"") - line.find('"') - 1);
    CHECK(temp.rfind(Narrow(windows) + "TamberTmp", 0) == 0);
    CHECK_FALSE(FileExists(Widen(temp)));
    CHECK(ReadFileBytes(usersList) == "C:\\victim\r\n");

    // Every name it would take is there already: nothing is run.
    for (int i = 0; i < 16; ++i)
        CreateDirectoryW((windows + L"TamberTmp" + std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(i)).c_str(),
                         nullptr);
    CHECK(InstallBD_with_VN_SMS_service(kDir.c_str()) == kRunNotStarted);
    CHECK(log.Contains("<Drivers Controller> No temporary directory that only SYSTEM and the Administrators can write "
                       "could be made; VN_SMS.exe and the batch file are not run (Error code:183)"));
    int runs = 0;
    for (const std::string& call : ClientInstall::Calls()) runs += call.find("VN_SMS.exe") != std::string::npos;
    CHECK(runs == 1);  // the first run's
}
