// Files of a previous installation and the launcher flag.
#include <doctest.h>

#include <string>
#include <vector>

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

// Links planted in a tree (or as the tree) by a user: Wine makes them from
// Unix symlinks, which it cannot remove without following, so they stay.
TEST_CASE("a tree's links are never followed at the top or below") {
    const std::wstring root = TempDir() + L"tree", outside = L"C:\\outside", top = L"C:\\toplink";
    for (const std::wstring& dir : {root, root + L"\\sub", outside}) CreateDirectoryW(dir.c_str(), nullptr);
    WriteFileBytes(outside + L"\\keep.txt", "x");
    WriteFileBytes(root + L"\\sub\\a.txt", "x");
    UnixCommand("ln -s " + UnixPath(outside) + " " + UnixPath(top) + " && ln -s " + UnixPath(outside) + " " +
                UnixPath(root + L"\\sub\\dirlink") + " && ln -s " + UnixPath(outside + L"\\keep.txt") + " " +
                UnixPath(root + L"\\filelink"));
    LogCapture log;
    CHECK(DeleteDirTree(top.c_str()) == -1);
    CHECK(DeleteDirTree(root.c_str()) == -1);
    CHECK(FileExists(outside + L"\\keep.txt"));
    CHECK_FALSE(FileExists(root + L"\\sub\\a.txt"));
    const std::string left = "; left it and what it leads to alone";
    CHECK(log.Messages() == std::vector<std::string>{
        "<DeleteDirTree> C:\\toplink is a link or junction (reparse point)" + left,
        "<DeleteDirTree> " + Narrow(root) + "\\filelink leads to \\\\?\\C:\\outside\\keep.txt" + left,
        "<DeleteDirTree> " + Narrow(root) + "\\sub\\dirlink is a link or junction (reparse point)" + left});
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
