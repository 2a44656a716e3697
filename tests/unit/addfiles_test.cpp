// Customised files carried in the Binary table: extracted in the immediate
// phase, copied into the installation directory by a deferred handler that
// knows them only through the container.
#include <doctest.h>

#include <string>

#include "addfiles/addfiles.h"
#include "events/frame.h"
#include "harness.h"
#include "session/session.h"

TEST_CASE("Binary row names map to installed file names") {
    struct Case {
        const wchar_t* row;
        const wchar_t* installed;
    };
    const Case cases[] = {
        {L"HVINSTADDINT_my_file_txt", L"my_file.txt"},     {L"HVINSTADDINT_product_ini_simp", L"product.ini.simp"},
        {L"HVINSTADDEXT_readme_first_txt", L"readme_first_txt"}, {L"HVINSTADDINT_userc_set", L"userc.set"},
        {L"HVINSTADDINT_nounderscore", L"nounderscore"},    {L"HVINSTADDINT_", L""},
        {L"hvinstaddint_my_txt", L""},                       {L"TamberDll", L""},
    };
    for (const Case& c : cases) {
        CAPTURE(Narrow(c.row));
        CHECK(std::wstring(InstalledFileName(c.row).wvalue()) == c.installed);
    }
}

TEST_CASE("additional files reach their directories through the deferred phase") {
    const std::wstring install = L"C:\\Inst\\";
    for (const wchar_t* d : {L"", L"state", L"HVSelfInstall", L"database"}) CreateDirectoryW((install + d).c_str(), nullptr);
    std::wstring packed;
    {
        TestPackage pkg;
        pkg.Binary(L"HVINSTADDINT_my_file_txt", "my file")
            .Binary(L"HVINSTADDEXT_readme_first_txt", "readme")
            .Binary(L"HVINSTADDINT_userc_set", "state")
            .Binary(L"HVINSTADDINT_local_cfg", "local")
            .Binary(L"HVINSTADDINT_", "ignored")
            .Binary(L"TamberDll", "not a file");
        BindSession(pkg.Session());
        LogCapture log;
        CHECK(StoreAdditionalFileFromBinaryTable() == 0);
        CHECK(log.Contains("<InstallAdditionalFileFromBinaryTable> BinaryFileName=HVINSTADDINT_local_cfg => "
                           "InstalledFileName=local.cfg"));
        CHECK_FALSE(pkg.Get(L"AddFilesTempDir").empty());
        UnbindSession();
        packed = pkg.Get(L"ALLCADPROPS");
    }
    // The deferred handler sees only what the container carried.
    TestPackage deferred;
    deferred.Property(L"CustomActionData", packed);
    SetUseCAD(1);
    BindSession(deferred.Session());
    LogCapture log;
    CHECK(InstallAdditionalFileFromBinaryTable(install.c_str()) == 0);
    UnbindSession();
    CHECK(ReadFileBytes(install + L"my_file.txt") == "my file");
    CHECK(ReadFileBytes(install + L"readme_first_txt") == "readme");
    CHECK(ReadFileBytes(install + L"state\\userc.set") == "state");
    CHECK(ReadFileBytes(install + L"HVSelfInstall\\local.cfg") == "local");
    CHECK_FALSE(FileExists(install + L"TamberDll"));
    CHECK(log.Contains("<InstallAdditionalFileFromBinaryTable> Failed to retrieve real file name for .."));
}

TEST_CASE("without a temporary directory nothing is copied") {
    TestPackage pkg;
    BindSession(pkg.Session());
    LogCapture log;
    CHECK(InstallAdditionalFileFromBinaryTable(L"C:\\Inst\\") == 1);
    CHECK(log.Contains("<InstallAdditionalFileFromBinaryTable> Failed to retrieve temp directory name"));
    UnbindSession();
}
