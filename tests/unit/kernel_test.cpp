// The process runner and the kernel tool command lines, run against the
// recorder stand-in installed under each tool's name in C:\P\.
#include <doctest.h>

#include <functional>
#include <string>
#include <vector>

#include "events/frame.h"
#include "harness.h"
#include "kernel/kernel.h"
#include "legacy/legacy.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "system/system.h"

namespace {

const std::wstring kDir = L"C:\\P\\";
const std::wstring kCalls = L"C:\\tamber_calls.txt";

struct Call {
    std::string name, commandLine, directory, installerVariable;
};

// C:\P\ laid out as the package installs it, with stand-ins for the tools,
// and a bound session (silent unless told otherwise).
class ClientInstall {
public:
    explicit ClientInstall(bool silent = true) {
        for (const wchar_t* d : {L"", L"bin", L"boot", L"boot\\modules"}) CreateDirectoryW((kDir + d).c_str(), nullptr);
        const std::wstring recorder = ExeDir() + L"tools\\recorder.exe";
        for (const wchar_t* tool : {L"hvexec.exe", L"boot\\modules\\bdkern.exe", L"bin\\vna_utils.exe",
                                    L"bin\\conn_config.exe", L"bin\\xpdrv.exe", L"bin\\VN_SMS.exe"})
            CopyFileW(recorder.c_str(), (kDir + tool).c_str(), FALSE);
        CopyFileW((ExeDir() + L"tamber.dll").c_str(), (kDir + L"bin\\tamber.dll").c_str(), FALSE);
        for (const wchar_t* file : {L"netbdvn.inf", L"netbdvnm.inf", L"netvna.inf", L"bd.sys"})
            WriteFileBytes(kDir + L"boot\\modules\\" + file, "stand-in");
        DeleteFileW(kCalls.c_str());
        MSIHANDLE session = pkg_.Session();
        if (!silent) MsiSetPropertyW(session, L"UILevel", L"5");
        BindSession(session);
    }
    ~ClientInstall() { UnbindSession(); }

    // The calls recorded so far; waits up to 10 s for at least `atLeast`.
    static std::vector<Call> Calls(size_t atLeast = 0) {
        std::vector<Call> calls;
        for (int tries = 0; tries < 100; ++tries) {
            calls.clear();
            std::string all = ReadFileBytes(kCalls);
            for (size_t pos = 0, end; (end = all.find('\n', pos)) != std::string::npos; pos = end + 1) {
                std::string line = all.substr(pos, end - pos);
                std::vector<std::string> parts;
                for (size_t p = 0, bar; ; p = bar + 1) {
                    bar = line.find('|', p);
                    parts.push_back(line.substr(p, bar == std::string::npos ? std::string::npos : bar - p));
                    if (bar == std::string::npos) break;
                }
                parts.resize(4);
                calls.push_back({parts[0], parts[1], parts[2], parts[3]});
            }
            if (calls.size() >= atLeast) break;
            Sleep(100);
        }
        return calls;
    }

private:
    TestPackage pkg_;
};

}  // namespace

TEST_CASE("the kernel tools get their exact command lines") {
    const XString dir(kDir.c_str());
    struct Case {
        const char* tool;
        std::function<UINT()> run;
        const char* commandLine;
        bool cleansDriverCache = false;  // on Vista and later, after a result of 0
    };
    const Case cases[] = {
        {"UninstallBD", [&] { return UninstallBD(dir); }, "\"C:\\P\\boot\\modules\\bdkern.exe\"  -v  -u hv_bd1"},
        {"InstallBD", [&] { return InstallBD(dir); },
         "\"C:\\P\\boot\\modules\\bdkern.exe\"  -v  -l C:\\P\\boot\\modules\\netbdvn.inf -c s -i hv_bd1"},
        {"RunBDKern", [&] { return RunBDKern(dir, L"-unbind2 ms_psched hv_vgvna"); },
         "\"C:\\P\\boot\\modules\\bdkern.exe\"  -unbind2 ms_psched hv_vgvna"},
        {"RunConn_config", [&] { return RunConn_config(dir, L"add Tessel-1 VPN"); },
         "\"C:\\P\\bin\\conn_config.exe\"  add Tessel-1 VPN"},
        {"InstallVNA", [&] { return InstallVNA(dir); },
         "\"C:\\P\\bin\\vna_utils.exe\" -d product install Varnet  \"C:\\P\\boot\\modules\\netvna.inf\" "
         "System32\\drivers\\omdrv.sys"},
        {"UnInstallVNA", [&] { return UnInstallVNA(dir); }, "\"C:\\P\\bin\\vna_utils.exe\" -d product uninstall Varnet",
         true},
        {"UnhookVNA", [&] { return UnhookVNA(dir); }, "\"C:\\P\\bin\\vna_utils.exe\" -d om drv unhook"},
        {"RemoveVNADevice", [&] { return RemoveVNADevice(dir); },
         "\"C:\\P\\bin\\vna_utils.exe\" -d vna dev remove hv_vgvna", true},
        {"RemoveVNAFromDriversCache", [&] { return RemoveVNAFromDriversCache(dir); },
         "\"C:\\P\\bin\\vna_utils.exe\" -d vna dev clean_cache \"C:\\P\\boot\\modules\\netvna.inf\" hv_vgvna "},
        {"updateSignBD", [&] { return updateSignBD(dir); },
         "\"C:\\P\\boot\\modules\\bdkern.exe\"  -v -p C:\\P\\boot\\modules\\netbdvnm.inf -c s -i HV_BD1MP"},
    };
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExW(&version);
    const bool vista = version.dwMajorVersion == 6;
    const std::string cacheLine =
        "\"C:\\P\\bin\\vna_utils.exe\" -d vna dev clean_cache \"C:\\P\\boot\\modules\\netvna.inf\" hv_vgvna ";
    ClientInstall install;
    for (const Case& c : cases) {
        CAPTURE(std::string(c.tool));
        DeleteFileW(kCalls.c_str());
        LogCapture log;
        CHECK(c.run() == 0);
        const bool cleaned = c.cleansDriverCache && vista;
        auto calls = ClientInstall::Calls(cleaned ? 2 : 1);
        REQUIRE(calls.size() == (cleaned ? 2u : 1u));
        CHECK(calls[0].commandLine == c.commandLine);
        if (cleaned) CHECK(calls[1].commandLine == cacheLine);
        CHECK(log.Contains(std::string("<Drivers Controller> ") + c.tool));
        CHECK(log.Contains(std::string(c.commandLine)));
    }
    // updateSignBD leaves the process in the modules directory.
    CHECK(ClientInstall::Calls()[0].directory == "C:\\P\\boot\\modules");
}

TEST_CASE("a visible run passes the verbosity switch") {
    ClientInstall install(false);
    UninstallBD(kDir.c_str());
    auto calls = ClientInstall::Calls(1);
    REQUIRE(calls.size() == 1);
    CHECK(calls[0].commandLine == "\"C:\\P\\boot\\modules\\bdkern.exe\"  -v -g -u hv_bd1");
}

TEST_CASE("the install scripts run with the client on the path and the log as output") {
    ClientInstall install;
    LogCapture log;
    CHECK(RunInstallScripts(kDir.c_str()) == 0);
    auto calls = ClientInstall::Calls(1);
    REQUIRE(calls.size() == 1);
    CHECK(calls[0].name == "hvexec.exe");
    CHECK(calls[0].commandLine == "\"C:\\P\\hvexec.exe\"  -i \"C:\\P\\product.ini\" -m install");
    CHECK(calls[0].installerVariable == "1");
    CHECK(log.Contains("<Drivers Controller> RunInstallScripts: cmdline = \"C:\\P\\hvexec.exe\"  -i "
                       "\"C:\\P\\product.ini\" -m install"));

    auto lines = log.Lines();
    auto at = [&](const std::string& text) {
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].find(text) != std::string::npos) return static_cast<int>(i);
        return -1;
    };
    int external = at("<TamberCreateProcess> Switching to external logging");
    int child = at("stand-in hvexec.exe was run");
    int internal = at("<TamberCreateProcess> Switching to internal logging");
    CHECK(external >= 0);
    CHECK(external < child);
    CHECK(child < internal);
    wchar_t path[4096];
    GetEnvironmentVariableW(L"PATH", path, 4096);
    CHECK(std::wstring(path).rfind(L"C:\\P\\bin;", 0) == 0);

    RunUninstallScripts(kDir.c_str());
    CHECK(ClientInstall::Calls(2).at(1).commandLine == "\"C:\\P\\hvexec.exe\"  -i \"C:\\P\\product.ini\" -m uninstall");
}

TEST_CASE("the runner without waiting and with bad command lines") {
    ClientInstall install;
    LogCapture log;
    CHECK(RunXPDRV(kDir.c_str()) == 0);
    CHECK_FALSE(log.Contains("Switching to"));
    auto calls = ClientInstall::Calls(1);
    REQUIRE(calls.size() == 1);
    CHECK(calls[0].commandLine == "\"C:\\P\\bin\\xpdrv.exe\"");

    CHECK(Tamber_RunProcess(L"\"C:\\P\\missing.exe\"", true) == kRunNotStarted);
    CHECK(log.Contains("<Tamber_RunProcess> command returned with: <52>"));

    const std::wstring longLine = L"\"C:\\P\\bin\\xpdrv.exe\" " + std::wstring(300, L'a');
    Tamber_RunProcess(longLine.c_str(), true);
    CHECK(log.Contains("<Tamber_RunProcess> running command: <" + Narrow(longLine.substr(0, 255)) + ">"));

    // A script line that would not fit is not run at all.
    const std::wstring deep = L"C:\\" + std::wstring(150, L'd') + L"\\";
    CHECK(RunInstallScripts(deep.c_str()) == kRunNotStarted);
    CHECK(log.Find("<Drivers Controller> The command line would not fit in 255 characters; it is not run") >= 0);
    CHECK(ClientInstall::Calls().size() == 2);  // xpdrv and the cut line's run of xpdrv
}

TEST_CASE("the split kernel installation writes its batch file and hands it over") {
    ClientInstall install;
    const std::wstring log = LogCapture::Path();
    const std::string expected =
        "start \"xpdrv\" \"C:\\P\\bin\\xpdrv.exe\"\r\n"
        "del /q /f \"%TMP%\\bdkern.tmp\"\r\n"
        "findstr /m /i \"hv_bd1\" \"%WINDIR%\\INF\\oem*.inf\" > \"%TMP%\\bdkern.tmp\"\r\n"
        "for /f \"tokens=1 delims=. \" %%i in (%TMP%\\bdkern.tmp) do del /q /f %%i.inf\r\n"
        "for /f \"tokens=1 delims=. \" %%i in (%TMP%\\bdkern.tmp) do del /q /f %%i.pnf\r\n"
        "del /q /f \"%TMP%\\bdkern.tmp\"\r\n"
        "findstr /m /i \"hv_bd1\" \"%WINDIR%\\INF\\netbd*.inf\" > \"%TMP%\\bdkern.tmp\"\r\n"
        "for /f \"tokens=1 delims=. \" %%i in (%TMP%\\bdkern.tmp) do del /q /f %%i.inf\r\n"
        "for /f \"tokens=1 delims=. \" %%i in (%TMP%\\bdkern.tmp) do del /q /f %%i.pnf\r\n"
        "\"C:\\P\\boot\\modules\\bdkern.exe\"  -v -u HV_BD1\r\n"
        "\"C:\\P\\boot\\modules\\bdkern.exe\"  -v -u HV_BD1MP\r\n"
        "\"C:\\P\\boot\\modules\\bdkern.exe\"  -v  -l C:\\P\\boot\\modules\\netbdvn.inf -c s -i hv_bd1\r\n"
        "rundll32.exe \"C:\\P\\bin\\tamber.dll\",SetServicesStartTypeAuto2\r\n";
    CHECK(InstallBD_with_VN_SMS_service(kDir.c_str()) == 0);
    CHECK(ReadFileBytes(kDir + L"bin\\bdinst.bat") == expected);
    auto calls = ClientInstall::Calls(5);
    REQUIRE(!calls.empty());
    CHECK(calls[0].commandLine ==
          "\"C:\\P\\\\bin\\VN_SMS.exe\"  -b -n -l -f \"" + Narrow(log) + "\" -p C:\\P\\bin\\bdinst.bat");
    // VN_SMS ran the batch: the kernel tool saw its three lines.
    int bdkern = 0;
    for (const Call& c : calls) bdkern += c.name == "bdkern.exe";
    CHECK(bdkern == 3);

    const std::string update =
        "start \"xpdrv\" \"C:\\P\\bin\\xpdrv.exe\"\r\n"
        "chdir \"C:\\P\\boot\\modules\\\"\r\n"
        "\"C:\\P\\boot\\modules\\bdkern.exe\"  -v -p C:\\P\\boot\\modules\\netbdvnm.inf -c s -i HV_BD1MP\r\n"
        "rundll32.exe \"C:\\P\\bin\\tamber.dll\" SetServicesStartTypeAuto2\r\n";
    CHECK(updateSignBD_with_VN_SMS_service(kDir.c_str()) == 0);
    CHECK(ReadFileBytes(kDir + L"bin\\bdinst.bat") == update);
}

TEST_CASE("the filter driver file is copied into the drivers directory") {
    ClientInstall install;
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring target = std::wstring(windows) + L"\\system32\\drivers\\bd.sys";
    DeleteFileW(target.c_str());
    CHECK(CopyBDsys(kDir.c_str()));
    CHECK(ReadFileBytes(target) == "stand-in");
}

TEST_CASE("search paths") {
    SUBCASE("the process PATH gains bin once, whatever its case") {
        LogCapture log;
        SetEnvironmentVariableW(L"PATH", L"C:\\windows;C:\\OTHER\\BIN2");
        CHECK(AddInstDirToPath(L"C:\\Other") == 1);  // a prefix of ...\BIN2 counts as present
        CHECK(log.Contains("<AddInstDirToPath> We are already in the path"));
        CHECK(AddInstDirToPath(L"C:\\Client") == 1);
        CHECK(AddInstDirToPath(L"c:\\CLIENT\\") == 1);
        wchar_t path[512];
        GetEnvironmentVariableW(L"PATH", path, 512);
        CHECK(std::wstring(path) == L"C:\\Client\\bin;C:\\windows;C:\\OTHER\\BIN2");
        CHECK(AddInstDirToPath(nullptr) == -1);
    }
    SUBCASE("the machine Path loses every copy of the entry") {
        const wchar_t* key = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
        struct Case {
            const wchar_t *before, *after;
        };
        const Case cases[] = {{L"A;E;B", L"A;B"}, {L"E", L""},           {L"E;A", L"A"},
                              {L"A;E", L"A"},     {L"E;A;e;B;E", L"A;B"}, {L"A;E\\;B", L"A;E\\;B"}};
        for (const Case& c : cases) {
            CAPTURE(Narrow(c.before));
            HKEY h;
            REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &h) == ERROR_SUCCESS);
            RegSetValueExW(h, L"Path", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(c.before),
                           static_cast<DWORD>((wcslen(c.before) + 1) * 2));
            RegCloseKey(h);
            CHECK(DeleteFromEnvironmentPath(L"E") == 1);
            std::wstring after;
            CHECK(HklmValue(key, L"Path", &after) == REG_EXPAND_SZ);
            CHECK(after == c.after);
        }
    }
}

TEST_CASE("removing the kernel components runs the tools in order") {
    ClientInstall install;
    LogCapture log;
    CHECK(RemoveKernelComponents(kDir.c_str()) == 0);
    std::vector<std::string> lines;
    for (const Call& c : ClientInstall::Calls(5)) lines.push_back(c.commandLine);
    std::vector<std::string> expected = {
        "\"C:\\P\\bin\\conn_config.exe\"  rem VPN",
        "\"C:\\P\\bin\\vna_utils.exe\" -d om drv unhook",
        "\"C:\\P\\bin\\vna_utils.exe\" -d product uninstall Varnet",
        "\"C:\\P\\boot\\modules\\bdkern.exe\"  -v  -u hv_bd1",
        "\"C:\\P\\boot\\modules\\bdkern.exe\"  -v -u HV_BD1MP",
    };
    // Vista and later also clean the adapter from the driver cache.
    if (lines.size() == 6) lines.erase(lines.begin() + 3);
    CHECK(lines == expected);
    CHECK(log.Contains("<OnRemoveBefore> Return code from uninstallBD: 0"));
    CHECK(log.Contains("<OnRemoveBefore> calling addreg_w2K_omva_cleanup"));
    CHECK(log.Find("<OnRemoveBefore> Return code from uninstallVPN: 1060") >= 0);
}

TEST_CASE("the old encryption service is removed with its own tool") {
    ClientInstall install;
    const std::wstring old = L"C:\\OldBD";
    CreateDirectoryW(old.c_str(), nullptr);
    CreateDirectoryW((old + L"\\bin").c_str(), nullptr);
    CopyFileW((ExeDir() + L"tools\\recorder.exe").c_str(), (old + L"\\bin\\bdvnservice.exe").c_str(), FALSE);
    // The directory is found through the version's key when BD1 has none.
    setRegistryStringValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvora\\BD1", L"CurrentVersion", L"3.2");
    setRegistryStringValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvora\\BD1\\3.2", L"BDDIR", old.c_str());

    RemoveOldBdEncService();
    auto calls = ClientInstall::Calls(1);
    REQUIRE(calls.size() == 1);
    CHECK(calls[0].name == "bdvnservice.exe");
    CHECK(calls[0].commandLine == "-remove");
}
