// Steps shared by the handlers, on a real session and the Wine machine.
#include <doctest.h>

#include <algorithm>
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

TEST_CASE("without Entrust support its library and registry value go and a missing library is only logged") {
    const std::wstring dll = L"C:\\windows\\system32\\kmpapi32.dll";
    const std::wstring key = L"SOFTWARE\\Halvora\\Varnet";
    WriteFileBytes(dll, "MZ");
    HklmSetValue(key, L"EntrustSupport", 1);
    HklmSetValue(key, L"Other", L"kept");
    BoundSession session({{L"EntrustSupport", L"0"}});
    LogCapture log;
    CHECK(HandleEntrustSupport() == 1);
    CHECK_FALSE(FileExists(dll));
    CHECK(HklmValue(key, L"EntrustSupport") == REG_NONE);
    CHECK(HklmValue(key, L"Other") == REG_SZ);
    CHECK_FALSE(log.Contains("Failed"));

    LogCapture again;
    CHECK(HandleEntrustSupport() == 1);
    const auto lines = again.Messages();
    CHECK(std::count(lines.begin(), lines.end(), "<OnFirstAfter> Failed to DeleteFile (" + Narrow(dll) + ")") == 1);
}
