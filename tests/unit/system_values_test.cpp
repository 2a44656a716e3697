// Fast user switching on each Windows version, the installer's own log, and
// who may change the installation directory.
#include <doctest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdlib>
#include <string>

#include "bound_session.h"
#include "harness.h"
#include "system/system.h"
#include "util/files.h"

namespace {

std::wstring Text(const std::wstring& key, const wchar_t* name) {
    std::wstring text = L"<absent>";
    HklmValue(key, name, &text);
    return text;
}

DWORD Number(const std::wstring& key, const wchar_t* name) {
    DWORD n = 99;
    HklmValue(key, name, nullptr, &n);
    return n;
}

// Who may write the object, as Wine shows its mode bits: o+w is Everyone.
std::wstring Writers(const std::wstring& path) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    REQUIRE(GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, nullptr, nullptr, &sd) == 0);
    const std::wstring found = FindUntrustedAccess(sd, AccessScope::Directory).writers;
    LocalFree(sd);
    return found;
}

const std::string kReset = " was writable by S-1-1-0: its owner is now Administrators and its access list SYSTEM and "
                           "Administrators full control, Users read and execute";

}  // namespace

// Registered once per Windows version.
TEST_CASE("fast user switching on each Windows version") {
    const std::string version = getenv("TAMBER_WINVER") ? getenv("TAMBER_WINVER") : "";
    const std::wstring policy = L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
    const std::wstring winlogon = L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
    const std::wstring licensing = L"System\\CurrentControlSet\\Control\\Terminal Server\\Licensing Core";
    HklmCreateKey(licensing);
    HklmCreateKey(policy);
    {
        BoundSession session;
        CHECK(AllowUserFastSwitching() == 0);
    }
    if (version == "win2k") {
        CHECK(HklmValue(policy, L"HideFastUserSwitching") == REG_NONE);
        CHECK(HklmValue(winlogon, L"AllowMultipleTSSessions") == REG_NONE);
    } else if (version == "winxp" || version == "win2003") {
        CHECK(Number(winlogon, L"AllowMultipleTSSessions") == 0);
        CHECK(Number(licensing, L"EnableConcurrentSessions") == 0);
    } else {
        CHECK(Number(policy, L"HideFastUserSwitching") == 1);
        BoundSession session({{L"AllowFastUserSwitching", L"1"}});
        AllowUserFastSwitching();
        CHECK(Number(policy, L"HideFastUserSwitching") == 0);
    }
}

TEST_CASE("the installer's log is switched on and linked") {
    const std::wstring policy = L"SOFTWARE\\Policies\\Microsoft\\Windows\\Installer";
    const std::wstring halvora = std::wstring(GetProgramFilesDir().wvalue()) + L"Halvora";
    LogCapture log;
    CHECK(CopyMSILogFile() == -1);  // no policy yet: set for the next run
    CHECK(Text(policy, L"Logging") == L"voicewarmup");
    CHECK(CopyMSILogFile() == -1);  // no log to be found
    HklmSetValue(policy, L"Logging", L"v");
    // Wine keeps no creation time of its own on Linux, so the newest is the
    // one made last: neither the first nor the last by name.
    for (const wchar_t* name : {L"MSIcccc.LOG", L"MSIaaaa.LOG", L"MSIbbbb.LOG"}) {
        WriteFileBytes(TempDir() + name, "log");
        Sleep(50);
    }
    CreateDirectoryW(halvora.c_str(), nullptr);
    CreateDirectoryW((halvora + L"\\HVInstLog").c_str(), nullptr);
    CHECK(CopyMSILogFile() == 0);
    CHECK(Text(policy, L"Logging") == L"voicewarmup");
    CHECK(log.Contains("<FindLastMSILogFile> The latest MSI log file is: MSIbbbb.LOG"));
    CHECK(FileExists(halvora + L"\\HVInstLog\\MsiLogFile.lnk"));

    // A newer one that a user put there (Wine shows another Unix user's file
    // as owned by ANONYMOUS LOGON) gets no shortcut; the installer's own does.
    Sleep(50);
    const std::wstring planted = TempDir() + L"MSIzzzz.LOG";
    WriteFileBytes(planted, "user's");
    UnixCommand("chown nobody " + UnixPath(planted));
    LogCapture again;
    CHECK(CopyMSILogFile() == 0);
    CHECK(again.Contains("<FindLastMSILogFile> " + Narrow(planted) +
                         " is owned by S-1-5-7, not by SYSTEM, Administrators or the running account;"
                         " no shortcut is made to it"));
    CHECK(again.Contains("<FindLastMSILogFile> The latest MSI log file is: MSIbbbb.LOG"));
}

// Who could change a directory, judged from its owner and access list.
TEST_CASE("untrusted owners and writers of a directory and its parents") {
    struct Case {
        const wchar_t* sddl;
        AccessScope scope;
        const wchar_t *owner, *writers;
        bool kept = false;  // does not inherit
    };
    const AccessScope dir = AccessScope::Directory, parent = AccessScope::Parent, entry = AccessScope::Entry;
    const Case cases[] = {
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)", dir, L"", L""},  // the package's
        // Program Files: TrustedInstaller owns it; creators own what they create.
        {L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FA;;;S-1-5-80-956008885-3418522649-"
         L"1831038044-1853292631-2271478464)(A;;0x1301bf;;;SY)(A;OICI;FRFX;;;BU)(A;OICIIO;GA;;;CO)",
         dir, L"", L""},
        {L"O:BUD:(A;OICI;FA;;;SY)(A;OICI;FRFX;;;BU)(A;OICIIO;GA;;;CO)", dir, L"S-1-5-32-545", L"S-1-5-32-545"},
        // Users may write what the directory holds, not the directory itself.
        {L"O:BAD:(A;OICI;FA;;;BA)(A;OICIIO;0x2;;;BU)", dir, L"", L"S-1-5-32-545"},
        {L"O:BAD:(A;OICI;FA;;;BA)(A;OICIIO;0x2;;;BU)", parent, L"", L""},
        // A folder under the root of a Vista drive, and the root itself.
        {L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;AU)", parent, L"", L"S-1-5-11"},
        {L"O:BAD:(A;OICI;FA;;;BA)(A;;0x4;;;AU)(A;OICIIO;SDGXGWGR;;;AU)", parent, L"", L""},
        {L"O:BAD:(A;OICI;FA;;;BA)(A;;0x4;;;AU)", dir, L"", L"S-1-5-11"},
        {L"O:BAD:(A;;0x2;;;WD)(A;;0x40000;;;WD)(A;;0x10000;;;AU)(D;;FA;;;BU)", dir, L"", L"S-1-1-0, S-1-5-11"},
        {L"O:BA", parent, L"", L"everyone (no access list)"},
        // Below the top an entry must also inherit; the top keeps its own list.
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)", entry, L"", L"", true},
        {L"O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;FRFX;;;BU)", entry, L"", L""},
        {L"O:BUD:P(A;;FA;;;BU)", entry, L"S-1-5-32-545", L"S-1-5-32-545", true},
        {L"O:BAD:(A;OICI;FA;;;BA)(A;OICIIO;0x2;;;BU)", entry, L"", L"S-1-5-32-545"},
    };
    for (const Case& c : cases) {
        PSECURITY_DESCRIPTOR sd = nullptr;
        REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1, &sd, nullptr));
        const UntrustedAccess found = FindUntrustedAccess(sd, c.scope);
        LocalFree(sd);
        CHECK_MESSAGE(found.owner == c.owner, Narrow(c.sddl));
        CHECK_MESSAGE(found.writers == c.writers, Narrow(c.sddl));
        CHECK_MESSAGE(found.protectedList == c.kept, Narrow(c.sddl));
    }
}

// SYSTEM takes ownership of the installation directory and resets its access
// list: through a link planted in its place that would hand it another
// directory. Wine shows mode bits as the access list: o+w is Everyone.
TEST_CASE("the installation directory is locked through its own handle and never through a link") {
    const std::wstring target = L"C:\\elsewhere", dir = L"C:\\P";
    CreateDirectoryW(target.c_str(), nullptr);
    UnixCommand("chmod o+w " + UnixPath(target) + " && ln -s " + UnixPath(target) + " " + UnixPath(dir));
    REQUIRE(Writers(target) == L"S-1-1-0");
    {
        LogCapture log;
        CHECK_FALSE(LockInstallDir(L"Test", XString(L"C:\\P\\")));
        CHECK(log.Contains("<Test> Installation directory C:\\P\\ is not used: it is a link or junction (reparse point)"));
        CHECK(Writers(target) == L"S-1-1-0");
    }
    // The same directory under its own name is locked.
    LogCapture log;
    CHECK(LockInstallDir(L"Test", XString(L"C:\\elsewhere\\")));
    CHECK(log.Contains("<Test> Installation directory C:\\elsewhere\\" + kReset));
    CHECK(Writers(target).empty());
}

// What a user prepared below a predictable folder before an administrator
// installs there: a writable bin\ and tools, a second name of a file
// elsewhere, a link; and the parents that this run made.
TEST_CASE("the tree below the installation directory is reset or refused") {
    const std::wstring dir = L"C:\\P\\", bin = dir + L"bin", tool = bin + L"\\vna_utils.exe";
    const std::wstring modules = dir + L"boot\\modules", driver = modules + L"\\bd.sys";
    for (const std::wstring& d : {dir, bin, dir + L"boot", modules}) CreateDirectoryW(d.c_str(), nullptr);
    WriteFileBytes(tool, "tool");
    WriteFileBytes(driver, "driver");
    {
        LogCapture log;  // a tree the package made: nothing to say
        CHECK(LockInstallDir(L"Test", XString(dir.c_str())));
        CHECK(log.Messages().empty());
    }
    UnixCommand("chmod o+w " + UnixPath(bin) + " " + UnixPath(tool));
    REQUIRE(Writers(tool) == L"S-1-1-0");
    {
        LogCapture log;
        CHECK(LockInstallDir(L"Test", XString(dir.c_str())));
        CHECK(log.Contains("<Test> Installation directory C:\\P\\: C:\\P\\bin" + kReset + ", and what it inherits"));
        CHECK(log.Contains("<Test> Installation directory C:\\P\\: C:\\P\\bin\\vna_utils.exe" + kReset +
                           ", and what it inherits"));
        CHECK(Writers(bin).empty());
        CHECK(Writers(tool).empty());
        CHECK(ReadFileBytes(tool) == "tool");  // still readable by the installer
    }
    // A second name of a file elsewhere: resetting it would change that file.
    const std::wstring other = L"C:\\windows\\system32\\other.sys";
    WriteFileBytes(other, "system");
    DeleteFileW(driver.c_str());
    UnixCommand("chmod o+w " + UnixPath(other) + " && ln " + UnixPath(other) + " " + UnixPath(driver));
    {
        LogCapture log;
        CHECK_FALSE(LockInstallDir(L"Test", XString(dir.c_str())));
        CHECK(log.Contains("<Test> Installation directory C:\\P\\ is not used: C:\\P\\boot\\modules\\bd.sys has 2 "
                           "names (hard links)"));
        CHECK(Writers(other) == L"S-1-1-0");
    }
    // A link in place of a directory is refused, never followed.
    const std::wstring elsewhere = L"C:\\elsewhere";
    CreateDirectoryW(elsewhere.c_str(), nullptr);
    DeleteFileW(driver.c_str());
    RemoveDirectoryW(modules.c_str());
    UnixCommand("chmod o+w " + UnixPath(elsewhere) + " && ln -s " + UnixPath(elsewhere) + " " + UnixPath(modules));
    {
        LogCapture log;
        CHECK_FALSE(LockInstallDir(L"Test", XString(dir.c_str())));
        CHECK(log.Contains("<Test> Installation directory C:\\P\\ is not used: C:\\P\\boot\\modules is a link or "
                           "junction (reparse point)"));
        CHECK(Writers(elsewhere) == L"S-1-1-0");
    }

    // Nothing there, or no name, is never locked.
    LogCapture log;
    CHECK_FALSE(LockInstallDir(L"Test", XString(L"C:\\Missing\\")));
    CHECK(log.Find("<Test> Installation directory C:\\Missing\\ is not used: it does not exist") >= 0);
    CHECK_FALSE(LockInstallDir(L"Test", XString(L"")));
    CHECK(log.Contains("<Test> The installation directory is not known: nothing in it is used"));

    // The parents this run made are locked from the highest; one that holds
    // more than the way down was not made by this run for it.
    const std::wstring vpn = L"C:\\VPN\\", varnet = vpn + L"Varnet\\";
    CreateDirectoryW(vpn.c_str(), nullptr);
    CreateDirectoryW(varnet.c_str(), nullptr);
    UnixCommand("chmod o+w " + UnixPath(vpn));
    CHECK(LockInstallDir(L"Test", XString(varnet.c_str()), XString(vpn.c_str())));
    CHECK(log.Contains("<Test> Installation directory C:\\VPN\\" + kReset));
    CHECK(Writers(vpn).empty());
    CreateDirectoryW((vpn + L"Varnet2").c_str(), nullptr);
    CHECK_FALSE(LockInstallDir(L"Test", XString(varnet.c_str()), XString(vpn.c_str())));
    CHECK(log.Contains("<Test> Installation directory C:\\VPN\\Varnet\\ is not used: C:\\VPN\\, made by this run on "
                       "the way to it, also holds Varnet2"));
    // A record that is not above the directory, or names a drive's root, is not used.
    CHECK(LockInstallDir(L"Test", XString(varnet.c_str()), XString(L"C:\\")));
    CHECK(LockInstallDir(L"Test", XString(varnet.c_str()), XString(L"C:\\P\\")));
}
