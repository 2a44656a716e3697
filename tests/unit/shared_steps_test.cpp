// Steps shared by the handlers, on a real session and the Wine machine.
#include <doctest.h>

#include <string>

#include "events/frame.h"
#include "events/shared_steps.h"
#include "bound_session.h"
#include "harness.h"
#include "log/install_log.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "util/files.h"

namespace {

using Session = BoundSession;

}  // namespace

TEST_CASE("the installation directory is made a client folder") {
    {
        Session session({}, L"D:\\Apps\\");
        CHECK(HandleVarnetInPath() == 0);
        CHECK(session.InstallDir() == L"D:\\Apps\\Varnet\\");
    }
    Session session({{L"tamber_old_installed_path", L"E:\\Old\\Varguard\\"}}, L"D:\\Varguard\\x\\");
    CHECK(HandleVarnetInPath() == 0);
    CHECK(session.InstallDir() == L"D:\\Varguard\\x\\");
    CHECK(HandleQuietMode());
    CHECK(session.InstallDir() == L"E:\\Old\\Varguard\\");
}

TEST_CASE("Start-menu shortcuts of the basic edition") {
    const std::wstring programs = GetCommonProgramsDir().wvalue();
    const std::wstring varguard = programs + L"Halvora Tessel-1 Varguard\\";
    const std::wstring varnet = programs + L"Halvora Tessel-1 Varnet\\";
    CreateDirectoryW(programs.c_str(), nullptr);
    auto makeMenu = [&] {
        CreateDirectoryW(varguard.c_str(), nullptr);
        WriteFileBytes(varguard + L"Varguard.lnk", "x");
        WriteFileBytes(varguard + L"Varguard Diagnostics.lnk", "x");
    };
    makeMenu();
    {
        Session full({{L"tamber_VG_type", L"Varguard"}});
        AdjustVarnetShortcuts();
        CHECK(FileExists(varguard + L"Varguard.lnk"));
    }
    {
        Session basic({{L"tamber_VG_type", L"Varnet"}});
        AdjustVarnetShortcuts();
        CHECK(FileExists(varnet + L"Varnet.lnk"));
        CHECK_FALSE(FileExists(varnet + L"Varguard Diagnostics.lnk"));
        CHECK_FALSE(FileExists(varguard));
    }
    makeMenu();
    RemoveProgramShortcuts();
    CHECK_FALSE(FileExists(varguard));
    CHECK_FALSE(FileExists(varnet));
}

TEST_CASE("a simplified package marks the client and takes its own settings file") {
    CreateDirectoryW(L"C:\\Client", nullptr);
    WriteFileBytes(L"C:\\Client\\product.ini", "full");
    WriteFileBytes(L"C:\\Client\\product.ini.simp", "simplified");
    Session session({{L"IsSimplified", L"1"}, {L"SIMP_VG_PKG", L"1"}});
    HandleSimplified();
    std::wstring type;
    HklmValue(L"SOFTWARE\\Halvora\\Varnet", L"installationType", &type);
    CHECK(type == L"Simplified");
    DWORD flag = 0;
    HklmValue(L"SOFTWARE\\Halvora\\Varnet", L"IsSimplified", nullptr, &flag);
    CHECK(flag == 1);
    CHECK(ReadFileBytes(L"C:\\Client\\product.ini") == "simplified");
    CHECK_FALSE(FileExists(L"C:\\Client\\product.ini.simp"));
}

TEST_CASE("the requirement gate and the closing sequence") {
    HklmCreateKey(L"SOFTWARE\\Halvora\\et1");
    Session session({{L"EntrustSupport", L"0"}});
    LogCapture log;
    CHECK(OnBeforeCommon() == ERROR_INSTALL_FAILURE);
    CHECK(log.Contains("<OnBeforeCommon> Aborting installation because of failure in CheckRequirements"));

    CHECK(HandleEntrustSupport() == 1);
    CHECK(log.Find("<OnFirstAfter> Failed to DeleteFile (") >= 0);

    // Without extracted files the last step says so; with them it removes them.
    CHECK(OnAfterCommon() == 1);
    CHECK(log.Contains("<OnAfterCommon> Error: Failed to find temp dir for additional files"));
    const std::wstring extracted = TempDir() + L"extracted";
    CreateDirectoryW(extracted.c_str(), nullptr);
    WriteFileBytes(extracted + L"\\a.tmp", "x");
    SetProperty(L"AddFilesTempDir", extracted.c_str(), true);
    CHECK(OnAfterCommon() == 1);
    CHECK_FALSE(FileExists(extracted));
}

TEST_CASE("the install log gets a shortcut once it exists") {
    const std::wstring shortcut =
        std::wstring(GetProgramFilesDir().wvalue()) + L"Halvora\\HVInstLog\\install_varnet_R33.elg.lnk";
    DeleteFileW(LogCapture::Path().c_str());
    CreateLogShortcut();
    CHECK_FALSE(FileExists(shortcut));
    LogMessage(0, L"Test", L"a line, so that the log exists");
    CreateLogShortcut();
    CHECK(FileExists(shortcut));
    LogCapture log;
    CreateLogShortcut();  // replaced
    CHECK(log.Contains("<HV_DeleteFile> Successfuly deleted file <" + Narrow(shortcut) + ">"));
    CHECK(FileExists(shortcut));
}
