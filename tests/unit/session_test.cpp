// Properties and target paths through the bound session: from the installer
// in an immediate handler, from the container in a deferred one.
#include <doctest.h>

#include <string>

#include "deferred/deferred.h"
#include "events/frame.h"
#include "harness.h"
#include "session/session.h"

static std::wstring W(const XString& s) { return s.wvalue(); }

TEST_CASE("without a bound session or an output every operation refuses with 6") {
    XString value(L"untouched");
    CHECK(GetProperty(L"UILevel", &value) == ERROR_INVALID_HANDLE);
    CHECK(W(value) == L"untouched");
    CHECK(SetProperty(L"Name", L"v", true) == ERROR_INVALID_HANDLE);
    CHECK(GetTargetPath(L"INSTALLDIR", &value) == ERROR_INVALID_HANDLE);
    TestPackage pkg;
    BindSession(pkg.Session());
    CHECK(GetProperty(L"UILevel", nullptr) == ERROR_INVALID_HANDLE);
    CHECK(GetTargetPath(L"INSTALLDIR", nullptr) == ERROR_INVALID_HANDLE);
    UnbindSession();
}

TEST_CASE("in an immediate handler long values and paths are read whole and recorded") {
    const std::wstring longValue(300, L'v'), longProp(250, L'p');
    TestPackage pkg;
    pkg.Property(L"LONG", longValue).Property(L"LONGPROP", longProp).Directory(L"TARGETDIR", L"", L"SourceDir");
    pkg.Directory(L"INSTALLDIR", L"TARGETDIR", L"Client");
    BindSession(pkg.Session(true));
    XString value;
    CHECK(GetProperty(L"LONG", &value) == ERROR_SUCCESS);
    CHECK(W(value) == longValue);
    CHECK(SetProperty(L"NOT_KEPT", L"n", false) == ERROR_SUCCESS);
    CHECK(W(GetCADValue(L"NOT_KEPT")).empty());
    CHECK(GetTargetPath(L"NO_SUCH_DIR", &value) == ERROR_DIRECTORY);
    CHECK(W(value).empty());
    // A path longer than the first buffer is read whole on the second call.
    const std::wstring deep = L"C:\\" + std::wstring(230, L'd') + L"\\";
    CHECK(SetTargetPath(L"INSTALLDIR", deep.c_str()) == ERROR_SUCCESS);
    CHECK(GetTargetPath(L"INSTALLDIR", &value) == ERROR_SUCCESS);
    CHECK(W(value) == deep);
    // The container gets the Property table and the deferred values, no empty ones.
    CHECK(Property_table_to_CAD() == ERROR_SUCCESS);
    StoreDeferredProperties();
    UnbindSession();
    CHECK(pkg.Get(L"ALLCADPROPS").find(L"tamber_upgrade_mode") == std::wstring::npos);
    CHECK(pkg.Get(L"ALLCADPROPS").find(L"[[LONGPROP=" + longProp + L"]]|") != std::wstring::npos);
}

TEST_CASE("in a deferred handler reads are served from the container") {
    TestPackage pkg;
    pkg.Property(L"CustomActionData", L"[[tamber_VG_type=1]]|[[INSTALLDIR=C:\\Apps\\Client\\]]|")
        .Property(L"ONLY_IN_INSTALLER", L"x");
    SetUseCAD(1);
    BindSession(pkg.Session());
    XString value(L"stale");
    CHECK(GetProperty(L"ONLY_IN_INSTALLER", &value) == ERROR_INVALID_PARAMETER);
    CHECK(W(value).empty());
    CHECK(GetProperty(L"CustomActionData", &value) == ERROR_SUCCESS);  // the carrier itself
    CHECK(W(value) == L"[[tamber_VG_type=1]]|[[INSTALLDIR=C:\\Apps\\Client\\]]|");
    CHECK(GetTargetPath(L"INSTALLDIR", &value) == ERROR_SUCCESS);
    CHECK(W(value) == L"C:\\Apps\\Client\\");
    CHECK(GetTargetPath(L"AddFilesDir", &value) == ERROR_INVALID_PARAMETER);
    SetTargetPath(L"INSTALLDIR", L"D:\\Moved\\");  // a deferred write goes to the container
    CHECK(GetTargetPath(L"INSTALLDIR", &value) == ERROR_SUCCESS);
    CHECK(W(value) == L"D:\\Moved\\");
    UnbindSession();
}
