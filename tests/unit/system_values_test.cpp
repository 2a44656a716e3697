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
    };
    const AccessScope dir = AccessScope::Directory, parent = AccessScope::Parent;
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
    };
    for (const Case& c : cases) {
        PSECURITY_DESCRIPTOR sd = nullptr;
        REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1, &sd, nullptr));
        const UntrustedAccess found = FindUntrustedAccess(sd, c.scope);
        LocalFree(sd);
        CHECK_MESSAGE(found.owner == c.owner, Narrow(c.sddl));
        CHECK_MESSAGE(found.writers == c.writers, Narrow(c.sddl));
    }
}

// SYSTEM takes ownership of the installation directory and resets its access
// list: through a link planted in its place that would hand it another
// directory. Wine shows mode bits as the access list: o+w is Everyone.
TEST_CASE("the installation directory is locked through its own handle and never through a link") {
    const std::wstring target = L"C:\\elsewhere", dir = L"C:\\P";
    auto writers = [](const std::wstring& path) {
        PSECURITY_DESCRIPTOR sd = nullptr;
        REQUIRE(GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION |
                                      DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr, &sd) == 0);
        const std::wstring found = FindUntrustedAccess(sd, AccessScope::Directory).writers;
        LocalFree(sd);
        return found;
    };
    CreateDirectoryW(target.c_str(), nullptr);
    UnixCommand("chmod o+w " + UnixPath(target) + " && ln -s " + UnixPath(target) + " " + UnixPath(dir));
    REQUIRE(writers(target) == L"S-1-1-0");
    {
        LogCapture log;
        CHECK_FALSE(LockInstallDir(L"Test", XString(L"C:\\P\\")));
        CHECK(log.Contains("<Test> Installation directory C:\\P\\ is not used: it is a link or junction (reparse point)"));
        CHECK(writers(target) == L"S-1-1-0");
    }
    // The same directory under its own name is locked.
    LogCapture log;
    CHECK(LockInstallDir(L"Test", XString(L"C:\\elsewhere\\")));
    CHECK(log.Contains("<Test> Installation directory C:\\elsewhere\\ was writable by S-1-1-0: its owner is now "
                       "Administrators and its access list SYSTEM and Administrators full control, Users read and "
                       "execute"));
    CHECK(writers(target).empty());
    CHECK(LockInstallDir(L"Test", XString(L"C:\\Missing\\")));  // nothing there to use
}
