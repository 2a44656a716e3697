// Steps shared by the handlers, on a real session and the Wine machine.
#include <doctest.h>

#include <string>
#include <utility>

#include "bound_session.h"
#include "events/shared_steps.h"
#include "harness.h"

TEST_CASE("the installation directory is made a client folder") {
    for (const auto& c : {std::pair<const wchar_t*, const wchar_t*>{L"D:\\Apps\\", L"D:\\Apps\\Varnet\\"},
                          {L"D:\\Varguard\\x\\", L"D:\\Varguard\\x\\"}}) {
        BoundSession session({}, c.first);
        CHECK(HandleVarnetInPath() == 0);
        CHECK(session.InstallDir() == c.second);
    }
}

TEST_CASE("a simplified package takes its own settings file") {
    CreateDirectoryW(L"C:\\Client", nullptr);
    WriteFileBytes(L"C:\\Client\\product.ini", "full");
    WriteFileBytes(L"C:\\Client\\product.ini.simp", "simplified");
    BoundSession session({{L"IsSimplified", L"1"}, {L"SIMP_VG_PKG", L"1"}});
    HandleSimplified();
    CHECK(ReadFileBytes(L"C:\\Client\\product.ini") == "simplified");
    CHECK_FALSE(FileExists(L"C:\\Client\\product.ini.simp"));
}
