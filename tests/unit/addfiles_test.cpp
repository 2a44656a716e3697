// Customised files carried in the Binary table: row names mapped to file
// names, and the deferred copy refusing without its temporary directory.
#include <doctest.h>

#include <string>
#include <utility>

#include "addfiles/addfiles.h"
#include "events/frame.h"
#include "harness.h"

TEST_CASE("Binary row names map to installed file names") {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"HVINSTADDINT_my_file_txt", L"my_file.txt"},     {L"HVINSTADDINT_product_ini_simp", L"product.ini.simp"},
        {L"HVINSTADDEXT_readme_first_txt", L"readme_first_txt"}, {L"HVINSTADDINT_userc_set", L"userc.set"},
        {L"HVINSTADDINT_nounderscore", L"nounderscore"},    {L"HVINSTADDINT_", L""},
        {L"hvinstaddint_my_txt", L""},                       {L"TamberDll", L""},
    };
    for (const auto& c : cases) {
        CAPTURE(Narrow(c.first));
        CHECK(std::wstring(InstalledFileName(c.first).wvalue()) == c.second);
    }
}

TEST_CASE("without a temporary directory nothing is copied") {
    TestPackage pkg;
    BindSession(pkg.Session());
    CHECK(InstallAdditionalFileFromBinaryTable(L"C:\\Inst\\") == 1);
    UnbindSession();
}
