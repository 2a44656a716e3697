// Files of a previous installation, the removal marker and the launcher flag.
#include <doctest.h>

#include <cstdio>
#include <string>

#include "events/frame.h"
#include "bound_session.h"
#include "harness.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "upgrade/upgrade.h"
#include "util/files.h"

namespace {

void Write(const std::wstring& path, const char* text) { WriteFileBytes(path, text); }
std::string Read(const std::wstring& path) { return ReadFileBytes(path); }
bool Exists(const std::wstring& path) { return FileExists(path); }

// A bound session whose backup directory is set, as OnBegin leaves it.
struct Session : BoundSession {
    explicit Session(Properties properties = {}) : BoundSession(properties) { CreateBackupPath(); }
};

}  // namespace

TEST_CASE("a tree is deleted but for its certificates and locked files") {
    const std::wstring root = TempDir() + L"tree";
    CreateDirectoryW(root.c_str(), nullptr);
    CreateDirectoryW((root + L"\\certs").c_str(), nullptr);
    CreateDirectoryW((root + L"\\nested").c_str(), nullptr);
    CreateDirectoryW((root + L"\\nested\\deeper").c_str(), nullptr);
    Write(root + L"\\certs\\user.p12", "cert");
    Write(root + L"\\old.PFX", "cert");
    Write(root + L"\\.p12", "not a certificate");
    Write(root + L"\\nested\\deeper\\a.txt", "x");
    // A loaded library cannot be deleted, only renamed.
    const std::wstring probe = ExeDir() + L"tools\\caprobe.dll";
    REQUIRE(CopyFileW(probe.c_str(), (root + L"\\x.dll").c_str(), FALSE));
    HMODULE locked = LoadLibraryW((root + L"\\x.dll").c_str());
    REQUIRE(locked);

    CHECK(DeleteDirTree(root.c_str()) == -1);
    CHECK(Exists(root + L"\\certs\\user.p12"));
    CHECK(Exists(root + L"\\old.PFX"));
    CHECK_FALSE(Exists(root + L"\\.p12"));
    CHECK_FALSE(Exists(root + L"\\nested"));
    CHECK_FALSE(Exists(root + L"\\x.dll"));
    CHECK(Exists(root + L"\\x.dll.old"));

    FreeLibrary(locked);
    DeleteDirTree(root.c_str());
    CHECK_FALSE(Exists(root + L"\\x.dll.old"));
    CHECK(Exists(root + L"\\certs\\user.p12"));
    CHECK(DeleteDirTree((root + L"\\missing").c_str()) == -1);
    CHECK(DeleteDirTree(L"") == -1);
}

TEST_CASE("configuration files are saved and restored through the backup directory") {
    const std::wstring install = TempDir() + L"OldClient\\";
    CreateDirectoryW(install.c_str(), nullptr);
    CreateDirectoryW((install + L"database").c_str(), nullptr);
    Session session({{L"tamber_old_installed_path", install.c_str()}});
    const std::wstring live = install + L"database\\userc.c";
    const std::wstring saved = TempDir() + L"BackupOfAnOldFile_userc.c";

    Write(live, "first");
    CHECK(StoreOldFiles());
    Write(live, "second");
    CHECK(StoreOldFiles());
    CHECK(Read(saved) == "second");
    Write(live, "replaced by the installer");
    CHECK(RestoreOldFiles());
    CHECK(Read(live) == "second");
    CHECK_FALSE(Exists(saved));
    LogCapture log;
    CHECK_FALSE(RestoreOldFiles());
    CHECK(log.Find("<HV_CopyFile> failed to copy <" + Narrow(saved) + ">") >= 0);
}

TEST_CASE("entrust.ini is kept unless the package overwrites it") {
    const std::wstring ini = std::wstring(GetWinDir().wvalue()) + L"entrust.ini";
    const std::wstring saved = TempDir() + L"BackupOfAnOldFile_entrust.ini";
    SUBCASE("kept") {
        Session session;
        Write(ini, "user's");
        CHECK(StoreEntrustINI());
        Write(ini, "package's");
        CHECK(RestoreEntrustINI());
        CHECK(Read(ini) == "user's");
    }
    SUBCASE("overwritten") {
        Session session({{L"OverwriteEntINI", L"1"}});
        Write(ini, "user's");
        DeleteFileW(saved.c_str());
        CHECK(StoreEntrustINI());
        CHECK_FALSE(Exists(saved));
        Write(ini, "package's");
        CHECK(RestoreEntrustINI());
        CHECK(Read(ini) == "package's");
        // Removal saves and restores it whatever the setting says.
        CHECK(BackupOldFile(GetWinDir(), L"entrust.ini", 0));
        CHECK(Exists(saved));
    }
    SUBCASE("absent") {
        Session session;
        DeleteFileW(ini.c_str());
        DeleteFileW(saved.c_str());
        CHECK(StoreEntrustINI());
        CHECK_FALSE(RestoreEntrustINI());
    }
}

TEST_CASE("a removal waits for its restart") {
    const std::wstring install = TempDir() + L"Client\\";
    CreateDirectoryW(install.c_str(), nullptr);
    CreateDirectoryW((install + L"bin").c_str(), nullptr);
    Write(install + L"bin\\erase_VN.exe", "stand-in");
    Session session;
    const wchar_t* runOnce = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    const wchar_t* marker = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Varnet_UnInstall";

    CHECK(IsFirstInstall());
    CHECK(CopyAndWriteToRegEraseExeForAfterRebbot(install.c_str()) == 0);
    std::wstring text;
    CHECK(HklmValue(runOnce, L"InstallShieldSetupForVN", &text) == REG_SZ);
    CHECK(text == std::wstring(GetWinDir().wvalue()) + L"erase_VN.exe");
    CHECK(Exists(text));
    CHECK_FALSE(IsFirstInstall());

    // What the restart does: Windows runs the RunOnce entry and removes it.
    HKEY key;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, runOnce, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS);
    RegDeleteValueW(key, L"InstallShieldSetupForVN");
    RegCloseKey(key);
    HklmValue(marker, L"IsUnInstall", &text);
    CHECK(text == L"1");
    CHECK(IsFirstInstall());

    WriteUnInstallTargetDir(install.c_str());
    CHECK(HklmValue(marker, L"IsUnInstall") == REG_NONE);
    HklmValue(marker, L"VN_TARGETDIR", &text);
    CHECK(text == install.substr(0, install.size() - 1));
}

TEST_CASE("the launcher flag and the client's subdirectories") {
    const wchar_t* launcher = L"SOFTWARE\\Halvora\\Halvora Product Suite\\setup";
    CHECK_FALSE(IsActivatedByLauncher());
    setRegistryStringValue(HKEY_LOCAL_MACHINE, launcher, L"ActivatedByLauncher", L"1");
    CHECK(IsActivatedByLauncher());
    setRegistryDWORDValue(HKEY_LOCAL_MACHINE, launcher, L"ActivatedByLauncher", L"1");
    CHECK(IsActivatedByLauncher());
    setRegistryStringValue(HKEY_LOCAL_MACHINE, launcher, L"ActivatedByLauncher", L"true");
    CHECK_FALSE(IsActivatedByLauncher());

    const std::wstring install = TempDir() + L"Fresh\\";
    CreateDirectoryW(install.c_str(), nullptr);
    CreateClientSubDirs(install.c_str());
    for (const wchar_t* sub : {L"log", L"sds", L"vg_ts", L"shared", L"HVSelfInstall"}) CHECK(Exists(install + sub));

    XString sub(L"");
    GetCustomFileSubDir(L"local.scv", &sub);
    CHECK(std::wstring(sub.wvalue()) == L"HVSelfInstall\\");
    sub = XString(L"");
    GetCustomFileSubDir(L"Userc.c", &sub);
    CHECK(std::wstring(sub.wvalue()).empty());
    GetCustomFileSubDir(L"userc.set", &sub);
    CHECK(std::wstring(sub.wvalue()) == L"state\\");
}
