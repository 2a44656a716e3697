// Files of a previous installation and the launcher flag.
#include <doctest.h>

#include <string>

#include "bound_session.h"
#include "harness.h"
#include "regdb/regdb.h"
#include "upgrade/upgrade.h"
#include "util/files.h"

namespace {

// A bound session whose backup directory is set, as OnBegin leaves it.
struct Session : BoundSession {
    explicit Session(Properties properties = {}) : BoundSession(properties) { CreateBackupPath(); }
};

}  // namespace

TEST_CASE("a tree is deleted but for its certificates") {
    const std::wstring root = TempDir() + L"tree";
    for (const wchar_t* dir : {L"", L"\\nested", L"\\nested\\deeper"}) CreateDirectoryW((root + dir).c_str(), nullptr);
    WriteFileBytes(root + L"\\old.PFX", "cert");
    WriteFileBytes(root + L"\\.p12", "not a certificate");
    WriteFileBytes(root + L"\\nested\\deeper\\a.txt", "x");
    CHECK(DeleteDirTree(root.c_str()) == -1);
    CHECK(FileExists(root + L"\\old.PFX"));
    CHECK_FALSE(FileExists(root + L"\\.p12"));
    CHECK_FALSE(FileExists(root + L"\\nested"));
    CHECK(DeleteDirTree((root + L"\\missing").c_str()) == -1);
    CHECK(DeleteDirTree(L"") == -1);
}

TEST_CASE("entrust.ini is not kept when the package overwrites it or it is absent") {
    const std::wstring ini = std::wstring(GetWinDir().wvalue()) + L"entrust.ini";
    const std::wstring saved = TempDir() + L"BackupOfAnOldFile_entrust.ini";
    {
        Session session({{L"OverwriteEntINI", L"1"}});
        WriteFileBytes(ini, "user's");
        CHECK(StoreEntrustINI());
        CHECK_FALSE(FileExists(saved));
        WriteFileBytes(ini, "package's");
        CHECK(RestoreEntrustINI());
        CHECK(ReadFileBytes(ini) == "package's");
    }
    Session session;
    DeleteFileW(ini.c_str());
    DeleteFileW(saved.c_str());
    CHECK(StoreEntrustINI());
    CHECK_FALSE(RestoreEntrustINI());
}

TEST_CASE("the launcher flag is the text 1 or the number 1") {
    const wchar_t* launcher = L"SOFTWARE\\Halvora\\Halvora Product Suite\\setup";
    CHECK_FALSE(IsActivatedByLauncher());
    setRegistryDWORDValue(HKEY_LOCAL_MACHINE, launcher, L"ActivatedByLauncher", L"1");
    CHECK(IsActivatedByLauncher());
    setRegistryStringValue(HKEY_LOCAL_MACHINE, launcher, L"ActivatedByLauncher", L"true");
    CHECK_FALSE(IsActivatedByLauncher());
}
