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
const wchar_t kSimplifiedStream[] = L"HVINSTADDINT_product_ini_simp";

std::string Ini(const std::string& versionLines) { return "[version]\n" + versionLines + "[other]\nIgnored=1\n"; }

std::wstring Stored(const wchar_t* name) {
    XString value(L"<none>");
    TheCADContainer().Find(name, &value);
    return value.wvalue();
}

}  // namespace

TEST_CASE("every settings key becomes a property and a container entry") {
    TestPackage pkg;
    pkg.Property(L"ShowLic", L"1")  // the settings file wins
        .Binary(kStream, Ini("ShowLic=0\nDefaultPath=C:\\a=b\nEmpty=\nno equals sign\n"));
    BindSession(pkg.Session());
    LogCapture log;

    CHECK(SetProductINIProperties() == 3);
    CHECK(pkg.Get(L"ShowLic") == L"0");
    CHECK(Stored(L"ShowLic") == L"0");
    CHECK(pkg.Get(L"DefaultPath") == L"C:\\a=b");
    CHECK(Stored(L"DefaultPath") == L"C:\\a=b");
    CHECK(Stored(L"Empty").empty());
    CHECK(Stored(L"Ignored") == L"<none>");
    CHECK(log.Contains("<LoadProductDotINI> SIMP_VG_PKG = <>"));
    CHECK(log.Contains("<LoadProductDotINI> Done."));
    CHECK(log.Find("<Setting Product.ini> Attributes list (") >= 0);

    XString text(L"default");
    CHECK(GetProductINI_strValue(L"Empty", text) == 0);
    CHECK(std::wstring(text.wvalue()) == L"default");
    CHECK(log.Contains("<GetProductINI_strValue> Empty not found at product.ini, take the default."));
    UnbindSession();
}

TEST_CASE("settings read as numbers with leading digits only") {
    TestPackage pkg;
    pkg.Binary(kStream, Ini("T1=true\nT2=yes\nN1=2\nN2=-1\nN3=12abc\nN4= 7\n"));
    BindSession(pkg.Session());
    SetProductINIProperties();
    LogCapture log;

    struct Flag {
        const wchar_t* name;
        int defaultValue;
        int expected;
    };
    const Flag flags[] = {{L"T1", 1, 0}, {L"T2", 1, 0}, {L"N1", 0, 1}, {L"N2", 0, 1},
                          {L"N3", 0, 1}, {L"Missing", 1, 1}, {L"Missing", 0, 0}};
    for (const Flag& f : flags) {
        CAPTURE(Narrow(f.name));
        CHECK(IsProductINIvalueTrue(f.name, f.defaultValue) == f.expected);
    }
    int number = 5;
    CHECK(GetProductINI_intValue(L"N3", number) == 0);
    CHECK(number == 12);
    CHECK(GetProductINI_intValue(L"N4", number) == 0);
    CHECK(number == 7);
    CHECK(log.Contains("<GetProductINI_intValue> N3=12abc (12)"));
    CHECK(log.Contains("<IsProductINIvalueTrue> T1=0"));
    CHECK(IsProductINIvalueTrue(nullptr, 1) == 0);
    UnbindSession();
}

TEST_CASE("the Quillon overrides win over the package's own values") {
    TestPackage pkg;
    pkg.Property(L"QL", L"1")
        .Directory(L"TARGETDIR", L"", L"SourceDir")
        .Directory(L"INSTALLDIR", L"TARGETDIR", L"Client")
        .Binary(kStream, Ini("ShowLic=1\nShowRestart=1\nDefaultPath=D:\\Mine\\\nCustom=7\n"));
    BindSession(pkg.Session(true));
    LogCapture log;
    SetProductINIProperties();

    XString installDir;
    GetTargetPath(L"INSTALLDIR", &installDir);
    CHECK(pkg.Get(L"ShowLic") == L"0");
    CHECK(pkg.Get(L"ShowRestart") == L"0");
    CHECK(pkg.Get(L"ShowWelcome") == L"0");
    CHECK(pkg.Get(L"DisableCancelInstall") == L"1");
    CHECK(pkg.Get(L"DefaultPath") == installDir.wvalue());
    CHECK(pkg.Get(L"Custom") == L"7");
    CHECK(log.Contains("<IsQuillonConfiguration> yes."));
    UnbindSession();
}

TEST_CASE("a simplified package reads only the simplified stream") {
    SUBCASE("both streams present") {
        TestPackage pkg;
        pkg.Property(L"SIMP_VG_PKG", L"1").Binary(kStream, Ini("ShowLic=0\n")).Binary(kSimplifiedStream, Ini("ShowLic=5\n"));
        BindSession(pkg.Session());
        CHECK(SetProductINIProperties() == 1);
        CHECK(pkg.Get(L"ShowLic") == L"5");
        UnbindSession();
    }
    SUBCASE("the simplified stream missing") {
        TestPackage pkg;
        pkg.Property(L"SIMP_VG_PKG", L"1").Binary(kStream, Ini("ShowLic=0\n"));
        BindSession(pkg.Session());
        LogCapture log;
        CHECK(SetProductINIProperties() == 0);
        CHECK(pkg.Get(L"ShowLic").empty());
        CHECK(IsProductINIvalueTrue(L"ShowLic", 1) == 1);
        CHECK(log.Contains("<LoadProductDotINI> SIMP_VG_PKG = 1"));
        CHECK(log.Find("<Setting Product.ini> Can't load 'version' from ") >= 0);
        UnbindSession();
    }
}

TEST_CASE("a settings stream beyond 64 KiB is cut there and the cut is logged") {
    std::string ini = "[version]\nFirst=1\n";
    while (ini.size() < 70000) ini += ";" + std::string(98, 'x') + "\n";
    ini += "Late=1\n";
    TestPackage pkg;
    pkg.Binary(kStream, ini);
    BindSession(pkg.Session());
    LogCapture log;
    SetProductINIProperties();
    CHECK(pkg.Get(L"First") == L"1");
    CHECK(pkg.Get(L"Late").empty());
    CHECK(log.Contains("<LoadProductDotINI> The product.ini stream is longer than 65536 bytes"));
    UnbindSession();
}

TEST_CASE("in a deferred handler a setting missing from the container keeps its default") {
    TestPackage pkg;
    pkg.Property(L"CustomActionData", L"[[Known=3]]|").Property(L"Missing", L"1");
    SetUseCAD(1);
    BindSession(pkg.Session());
    LogCapture log;

    int number = 9;
    CHECK(GetProductINI_intValue(L"Missing", number) == -1);
    CHECK(number == 9);
    XString text(L"d");
    CHECK(GetProductINI_strValue(L"Missing", text) == -1);
    CHECK(std::wstring(text.wvalue()) == L"d");
    CHECK(IsProductINIvalueTrue(L"Missing", 4) == 4);
    CHECK(log.Contains("<GetProductINI_intValue> Failed to GetProperty: Missing. take the default. (Error code:87)"));
    CHECK(log.Contains("<IsProductINIvalueTrue> GetProductINI_intValue failed. take the default: Missing=1"));
    CHECK(GetProductINI_intValue(L"Known", number) == 0);
    CHECK(number == 3);
    UnbindSession();
}
