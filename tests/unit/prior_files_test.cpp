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
    CHECK(DeleteDirTree((top + L"\\").c_str()) == -1);  // as an installation directory is named
    CHECK(DeleteDirTree(top.c_str()) == -1);
    CHECK(DeleteDirTree(root.c_str()) == -1);
    CHECK(FileExists(outside + L"\\keep.txt"));
    CHECK_FALSE(FileExists(root + L"\\sub\\a.txt"));
    const std::string left = "; left it and what it leads to alone";
    CHECK(log.Messages() == std::vector<std::string>{
        "<DeleteDirTree> C:\\toplink is a link or junction (reparse point)" + left,  // the link, not through it
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
        CHECK(StoreEntrustINI(SaveRecord::kInContainer));
        CHECK_FALSE(FileExists(saved));
        WriteFileBytes(ini, "package's");
        CHECK(RestoreEntrustINI(SaveRecord::kInContainer));
        CHECK(ReadFileBytes(ini) == "package's");
    }
    Session session;
    DeleteFileW(ini.c_str());
    DeleteFileW(saved.c_str());
    CHECK(StoreEntrustINI(SaveRecord::kInContainer));
    CHECK_FALSE(RestoreEntrustINI(SaveRecord::kInContainer));
}

// Under Wine the one user runs every handler and owns every file, so the
// owner test is driven through a record that names another saver.
TEST_CASE("a copy is restored only as this run saved it") {
    const std::wstring ini = std::wstring(GetWinDir().wvalue()) + L"entrust.ini";
    const std::wstring saved = TempDir() + L"BackupOfAnOldFile_entrust.ini";
    const std::string found = "BackupOfAnOldFile_entrust.ini in " + Narrow(TempDir()) + " ";
    const std::string notSaved = "<BackupOldFile> " + found + "was not saved by this run; it is not restored";
    Session session;
    for (SaveRecord where : {SaveRecord::kInContainer, SaveRecord::kOnMachine}) {
        WriteFileBytes(ini, "user's");
        REQUIRE(StoreEntrustINI(where));
        WriteFileBytes(ini, "package's");
        CHECK(RestoreEntrustINI(where));
        CHECK(ReadFileBytes(ini) == "user's");
        CHECK_FALSE(FileExists(saved));
        // The record went with the copy: a file planted since stays where it is.
        WriteFileBytes(saved, "planted");
        LogCapture log;
        CHECK_FALSE(RestoreEntrustINI(where));
        CHECK(ReadFileBytes(ini) == "user's");
        CHECK(log.Contains(notSaved));
    }
    CHECK_FALSE(HklmKeyExists(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Varnet_SavedCopies"));

    // Saved by a deferred handler for the next, the copy is not vouched for by
    // the container; nor a copy with a second name.
    for (bool link : {false, true}) {
        WriteFileBytes(ini, "user's");
        REQUIRE(StoreEntrustINI(SaveRecord::kOnMachine));
        if (link) REQUIRE(CreateHardLinkW((TempDir() + L"elsewhere").c_str(), saved.c_str(), nullptr));
        WriteFileBytes(ini, "package's");
        LogCapture log;
        CHECK_FALSE(RestoreEntrustINI(link ? SaveRecord::kOnMachine : SaveRecord::kInContainer));
        CHECK(ReadFileBytes(ini) == "package's");
        CHECK(log.Contains(link ? "<BackupOldFile> " + found + "has 2 links, not one; it is not restored" : notSaved));
    }

    DeleteFileW((TempDir() + L"elsewhere").c_str());
    KernelHandle held;
    LogCapture log;
    CHECK(OpenSavedCopy(L"Owner", SavedCopy{saved.c_str(), L"S-1-5-32-545"}, saved.c_str(), &held) ==
          SavedCopyState::kRefused);
    CHECK(log.Contains("<Owner> " + found + "is owned by " + Narrow(CurrentAccountSid().wvalue()) +
                       ", not by SYSTEM, Administrators or the account that saved it; it is not restored"));
    CHECK(OpenSavedCopy(L"Owner", SavedCopy{saved.c_str(), CurrentAccountSid()}, saved.c_str(), &held) ==
          SavedCopyState::kTrusted);
    CHECK_FALSE(DeleteFileW(saved.c_str()));  // held: nobody can delete it meanwhile
}

TEST_CASE("the launcher flag is the text 1 or the number 1") {
    const wchar_t* launcher = L"SOFTWARE\\Halvora\\Halvora Product Suite\\setup";
    CHECK_FALSE(IsActivatedByLauncher());
    setRegistryDWORDValue(HKEY_LOCAL_MACHINE, launcher, L"ActivatedByLauncher", L"1");
    CHECK(IsActivatedByLauncher());
    setRegistryStringValue(HKEY_LOCAL_MACHINE, launcher, L"ActivatedByLauncher", L"true");
    CHECK_FALSE(IsActivatedByLauncher());
}
