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
#include "upgrade/upgrade.h"
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
// writable by every user, who could rewrite the list between its lines. The
// batch may run long after the call, after a restart: it names its own.
TEST_CASE("the split batch runs with a temporary directory of its own or not at all") {
    ClientInstall install;
    CopyFileW((ExeDir() + L"tools\\recorder.exe").c_str(), (kDir + L"bin\\VN_SMS.exe").c_str(), FALSE);
    const std::wstring usersList = TempDir() + L"bdkern.tmp", windows = GetWinDir().wvalue();
    const std::wstring listDir = kDir + L"bin\\bdtemp", usersOwn = L"C:\\users_own";
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
        // Its name is drawn, not counted from the process id: two at once get two.
        const std::wstring prefix = windows + L"TamberTmp";
        CHECK(own.Path().size() == prefix.size() + 16);
        CHECK(own.Path().find_first_not_of(L"0123456789abcdef", prefix.size()) == std::wstring::npos);
        const PrivateTempDir other;
        CHECK((other && other.Path() != own.Path()));
    }
    // Left from an earlier run, and open to everyone: made anew.
    CreateDirectoryW(listDir.c_str(), nullptr);
    WriteFileBytes(listDir + L"\\planted.txt", "planted");
    UnixCommand("chmod o+w " + UnixPath(listDir));
    LogCapture log;
    CHECK(InstallBD_with_VN_SMS_service(kDir.c_str()) == 0);
    CHECK(ReadFileBytes(kDir + L"bin\\bdinst.bat") ==
          "set \"TMP=%~dps0bdtemp\"\r\n"
          "start \"xpdrv\" \"C:\\P\\bin\\xpdrv.exe\"\r\n"
          "del /q /f \"%TMP%\\bdkern.tmp\"\r\n"
          "\"C:\\windows\\system32\\findstr.exe\" /m /i \"hv_bd1\" \"%WINDIR%\\INF\\oem*.inf\" > \"%TMP%\\bdkern.tmp\"\r\n"
          "for /f \"tokens=1 delims=. \" %%i in (%TMP%\\bdkern.tmp) do del /q /f %%i.inf\r\n"
          "for /f \"tokens=1 delims=. \" %%i in (%TMP%\\bdkern.tmp) do del /q /f %%i.pnf\r\n"
          "del /q /f \"%TMP%\\bdkern.tmp\"\r\n"
          "\"C:\\windows\\system32\\findstr.exe\" /m /i \"hv_bd1\" \"%WINDIR%\\INF\\netbd*.inf\" > \"%TMP%\\bdkern.tmp\"\r\n"
          "for /f \"tokens=1 delims=. \" %%i in (%TMP%\\bdkern.tmp) do del /q /f %%i.inf\r\n"
          "for /f \"tokens=1 delims=. \" %%i in (%TMP%\\bdkern.tmp) do del /q /f %%i.pnf\r\n"
          "\"C:\\P\\boot\\modules\\bdkern.exe\"  -v -u HV_BD1\r\n"
          "\"C:\\P\\boot\\modules\\bdkern.exe\"  -v -u HV_BD1MP\r\n"
          "\"C:\\P\\boot\\modules\\bdkern.exe\"  -v  -l  -c s -i hv_bd1\r\n"
          "set \"TMP=%TEMP%\"\r\n"
          "\"C:\\windows\\system32\\rundll32.exe\" \"C:\\P\\bin\\tamber.dll\",SetServicesStartTypeAuto2\r\n");
    // The stand-in's cmd echoes the batch's lines into the log.
    std::string temp;
    for (const std::string& line : log.Lines())
        if (temp.empty() && line.find(">del /q /f \"") != std::string::npos)
            temp = line.substr(line.find('"') + 1, line.rfind("\\bdkern.tmp\"") - line.find('"') - 1);
    CHECK(temp == "C:\\P\\bin\\bdtemp");
    // It stays for a later run of the batch, closed to other accounts.
    CHECK(FileExists(listDir));
    CHECK_FALSE(FileExists(listDir + L"\\planted.txt"));
    const std::vector<std::string> accounts = AccountsWithAccess(listDir);
    CHECK_FALSE(accounts.empty());
    for (const std::string& account : accounts)
        CHECK_MESSAGE((account == "S-1-5-18" || account == "S-1-5-32-544" ||
                       account == Narrow(CurrentAccountSid().wvalue())), account);
    CHECK(ReadFileBytes(usersList) == "C:\\victim\r\n");
    // Before the library's own line TMP is VN_SMS.exe's again: TEMP, which
    // names a directory of its own that goes when VN_SMS.exe returns.
    std::vector<std::string> named;
    for (const std::string& line : log.Lines()) {
        const size_t at = line.find(">set \"TMP=");
        if (at != std::string::npos) named.push_back(line.substr(at + 10, line.rfind('"') - at - 10));
    }
    REQUIRE(named.size() == 2);
    CHECK(named[0] == "C:\\P\\bin\\bdtemp");
    CHECK(named[1].rfind(Narrow(windows) + "TamberTmp", 0) == 0);
    CHECK_FALSE(FileExists(Widen(named[1])));

    // The other batch changes no TMP; its tool is the system's too.
    CHECK(updateSignBD_with_VN_SMS_service(kDir.c_str()) == 0);
    CHECK(ReadFileBytes(kDir + L"bin\\bdinst.bat") ==
          "start \"xpdrv\" \"C:\\P\\bin\\xpdrv.exe\"\r\n"
          "chdir \"C:\\P\\boot\\modules\\\"\r\n"
          "\"C:\\P\\boot\\modules\\bdkern.exe\"  -v -p  -c s -i HV_BD1MP\r\n"
          "\"C:\\windows\\system32\\rundll32.exe\" \"C:\\P\\bin\\tamber.dll\" SetServicesStartTypeAuto2\r\n");

    // A link planted in its place that cannot be removed: nothing is run,
    // and what it leads to is left alone.
    DeleteDirTree(listDir.c_str());
    CreateDirectoryW(usersOwn.c_str(), nullptr);
    WriteFileBytes(usersOwn + L"\\bdkern.tmp", "C:\\victim\r\n");
    UnixCommand("ln -s " + UnixPath(usersOwn) + " " + UnixPath(listDir));
    CHECK(InstallBD_with_VN_SMS_service(kDir.c_str()) == kRunNotStarted);
    CHECK(log.Contains("<Drivers Controller> No temporary directory that only SYSTEM and the Administrators can write "
                       "could be made; VN_SMS.exe and the batch file are not run (Error code:183)"));
    CHECK(ReadFileBytes(usersOwn + L"\\bdkern.tmp") == "C:\\victim\r\n");
    int runs = 0;
    for (const std::string& call : ClientInstall::Calls()) runs += call.find("VN_SMS.exe") != std::string::npos;
    CHECK(runs == 2);  // the first two runs'
}
