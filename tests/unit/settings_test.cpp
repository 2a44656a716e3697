// Package settings: product.ini in the Binary table of a real session,
// published as properties and container entries, read back by the lookups.
#include <doctest.h>

#include <string>

#include "config/config.h"
#include "deferred/deferred.h"
#include "events/frame.h"
#include "harness.h"
#include "session/session.h"

namespace {

const wchar_t kStream[] = L"HVINSTADDINT_product_ini";

std::string Ini(const std::string& versionLines) { return "[version]\n" + versionLines + "[other]\nIgnored=1\n"; }

}  // namespace

TEST_CASE("settings lines with odd shapes and numbers with leading digits only") {
    TestPackage pkg;
    pkg.Binary(kStream, Ini("DefaultPath=C:\\a=b\nEmpty=\nno equals sign\nT1=true\nN2=-1\nN3=12abc\nN4= 7\n"));
    BindSession(pkg.Session());
    SetProductINIProperties();
    CHECK(pkg.Get(L"DefaultPath") == L"C:\\a=b");
    XString ignored(L"<none>");
    TheCADContainer().Find(L"Ignored", &ignored);
    CHECK(std::wstring(ignored.wvalue()) == L"<none>");
    XString text(L"default");
    CHECK(GetProductINI_strValue(L"Empty", text) == 0);
    CHECK(std::wstring(text.wvalue()) == L"default");

    struct Flag { const wchar_t* name; int defaultValue, expected; };
    const Flag flags[] = {{L"T1", 1, 0}, {L"N2", 0, 1}, {L"N3", 0, 1}, {L"Missing", 1, 1}, {L"Missing", 0, 0}};
    for (const Flag& f : flags) {
        CAPTURE(Narrow(f.name));
        CHECK(IsProductINIvalueTrue(f.name, f.defaultValue) == f.expected);
    }
    int number = 5;
    CHECK(GetProductINI_intValue(L"N3", number) == 0);
    CHECK(number == 12);
    CHECK(GetProductINI_intValue(L"N4", number) == 0);
    CHECK(number == 7);
    UnbindSession();
}

TEST_CASE("a settings stream beyond 64 KiB is cut there") {
    std::string ini = "[version]\nFirst=1\n";
    while (ini.size() < 70000) ini += ";" + std::string(98, 'x') + "\n";
    TestPackage pkg;
    pkg.Binary(kStream, ini + "Late=1\n");
    BindSession(pkg.Session());
    SetProductINIProperties();
    CHECK(pkg.Get(L"First") == L"1");
    CHECK(pkg.Get(L"Late").empty());
    UnbindSession();
}

TEST_CASE("in a deferred handler a setting missing from the container keeps its default") {
    TestPackage pkg;
    pkg.Property(L"CustomActionData", L"[[Known=3]]|").Property(L"Missing", L"1");
    SetUseCAD(1);
    BindSession(pkg.Session());
    int number = 9;
    CHECK(GetProductINI_intValue(L"Missing", number) == -1);
    CHECK(number == 9);
    CHECK(IsProductINIvalueTrue(L"Missing", 4) == 4);
    CHECK(GetProductINI_intValue(L"Known", number) == 0);
    CHECK(number == 3);
    UnbindSession();
}
