// Package settings: product.ini in the Binary table of a real session,
// published as properties and container entries, read back by the lookups.
#include <doctest.h>

#include <string>
#include <utility>

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

TEST_CASE("a simplified package publishes its own settings stream only") {
    struct Case { const wchar_t* simp; bool hasSimpStream; const wchar_t* which; };
    const Case cases[] = {{L"1", true, L"simplified"}, {L"0", true, L"full"}, {L"1", false, L""}};
    for (const Case& c : cases) {
        CAPTURE(Narrow(c.simp));
        CAPTURE(c.hasSimpStream);
        TestPackage pkg;
        pkg.Property(L"SIMP_VG_PKG", c.simp).Binary(kStream, Ini("Which=full\n"));
        if (c.hasSimpStream) pkg.Binary(L"HVINSTADDINT_product_ini_simp", Ini("Which=simplified\n"));
        BindSession(pkg.Session());
        LogCapture log;
        SetProductINIProperties();
        CHECK(pkg.Get(L"Which") == c.which);
        CHECK(log.Contains(c.simp == std::wstring(L"1") ? "<LoadProductDotINI> SIMP_VG_PKG = 1"
                                                         : "<LoadProductDotINI> SIMP_VG_PKG = <0>"));
        UnbindSession();
    }
}

TEST_CASE("in the Quillon configuration the override values win over the package's own") {
    const std::pair<const char*, const char*> overrides[] = {
        {"ShowLic", "0"}, {"ShowWelcome", "0"}, {"PathAskUser", "0"}, {"DesktopSecurityAskUser", "0"},
        {"DesktopSecurityDefault", "1"}, {"InstallDialupOnly", "0"}, {"ShowNetworkBindings", "0"},
        {"ShowReadmeFile", "0"}, {"ShowBackgroundImage", "0"}, {"ShowSetupInfoDialogs", "0"},
        {"DisableCancelInstall", "1"}, {"ShowRestart", "0"}, {"RestartAfterInstall", "0"}, {"ShowRebootWarning", "0"}};
    auto own = [](const char* value) { return std::string(*value == '0' ? "1" : "0"); };
    std::string ownLines = "DefaultPath=D:\\Own\\\n";
    for (const auto& o : overrides) ownLines += o.first + ("=" + own(o.second)) + "\n";
    // "QL" must be "1" exactly; "true" leaves the package's values.
    for (const wchar_t* ql : {L"1", L"true"}) {
        const bool quillon = ql == std::wstring(L"1");
        CAPTURE(quillon);
        TestPackage pkg;
        pkg.Property(L"QL", ql).Property(L"TARGETDIR", L"Q:\\").Binary(kStream, Ini(ownLines))
            .Directory(L"TARGETDIR", L"", L"SourceDir").Directory(L"INSTALLDIR", L"TARGETDIR", L"Quillon");
        BindSession(pkg.Session(true));
        SetProductINIProperties();
        for (const auto& o : overrides) {
            CAPTURE(o.first);
            CHECK(Narrow(pkg.Get(Widen(o.first))) == (quillon ? o.second : own(o.second)));
        }
        CHECK(pkg.Get(L"DefaultPath") == (quillon ? L"Q:\\Quillon\\" : L"D:\\Own\\"));
        UnbindSession();
    }
}
