#include <doctest.h>

#include <string>

#include "deferred/deferred.h"
#include "events/frame.h"
#include "harness.h"
#include "session/session.h"

namespace {

std::wstring W(const XString& s) { return s.wvalue(); }

void AddClientDirectories(TestPackage& pkg) {
    pkg.Directory(L"TARGETDIR", L"", L"SourceDir").Directory(L"INSTALLDIR", L"TARGETDIR", L"Client");
}

}  // namespace

TEST_CASE("without a bound session every operation refuses with 6") {
    LogCapture log;
    XString value(L"untouched");
    CHECK(GetProperty(L"UILevel", &value) == ERROR_INVALID_HANDLE);
    CHECK(W(value) == L"untouched");
    CHECK(SetProperty(L"Name", L"v", true) == ERROR_INVALID_HANDLE);
    CHECK(W(GetCADValue(L"Name")).empty());
    CHECK(SetTargetPath(L"INSTALLDIR", L"C:\\x\\") == ERROR_INVALID_HANDLE);
    CHECK(W(GetCADValue(L"INSTALLDIR")).empty());
    CHECK(GetTargetPath(L"INSTALLDIR", &value) == ERROR_INVALID_HANDLE);
    CHECK(log.Messages() == std::vector<std::string>{"<GetTargetPath> <g_hMsi==NULL>"});

    TestPackage pkg;
    BindSession(pkg.Session());
    LogCapture bound;
    CHECK(GetProperty(L"UILevel", nullptr) == ERROR_INVALID_HANDLE);
    CHECK(GetTargetPath(L"INSTALLDIR", nullptr) == ERROR_INVALID_HANDLE);
    CHECK(bound.Messages() == std::vector<std::string>{"<GetTargetPath> <wsTargetPath==NULL>"});
    UnbindSession();
    CHECK(g_hMsi == 0);
}

TEST_CASE("in an immediate handler properties and paths come from the installer") {
    const std::wstring longValue(300, L'v');
    TestPackage pkg;
    pkg.Property(L"LONG", longValue).Property(L"SHORT", L"s");
    AddClientDirectories(pkg);
    BindSession(pkg.Session(true));

    XString value;
    CHECK(GetProperty(L"LONG", &value) == ERROR_SUCCESS);
    CHECK(W(value) == longValue);
    CHECK(GetProperty(L"NOT_THERE", &value) == ERROR_SUCCESS);
    CHECK(W(value).empty());

    CHECK(SetProperty(L"KEPT", L"k", true) == ERROR_SUCCESS);
    CHECK(SetProperty(L"NOT_KEPT", L"n", false) == ERROR_SUCCESS);
    CHECK(pkg.Get(L"KEPT") == L"k");
    CHECK(pkg.Get(L"NOT_KEPT") == L"n");
    CHECK(W(GetCADValue(L"KEPT")) == L"k");
    CHECK(W(GetCADValue(L"NOT_KEPT")).empty());

    LogCapture log;
    CHECK(GetTargetPath(L"INSTALLDIR", &value) == ERROR_SUCCESS);
    CHECK(W(value).size() > 8);
    CHECK(W(value).substr(W(value).size() - 8) == L"\\Client\\");
    CHECK(log.Contains("<GetTargetPath> <" + Narrow(W(value)) + ">"));

    CHECK(GetTargetPath(L"NO_SUCH_DIR", &value) == ERROR_DIRECTORY);
    CHECK(W(value).empty());
    CHECK(log.Contains("<GetTargetPath> uRet!=ERROR_SUCCESS"));
    CHECK(log.Contains("<GetTargetPath> The directory specified was not found in the Directory table. "));

    // A path longer than the first buffer is read whole on the second call.
    const std::wstring deep = L"C:\\" + std::wstring(230, L'd') + L"\\";
    CHECK(SetTargetPath(L"INSTALLDIR", deep.c_str()) == ERROR_SUCCESS);
    CHECK(W(GetCADValue(L"INSTALLDIR")) == deep);
    CHECK(GetTargetPath(L"INSTALLDIR", &value) == ERROR_SUCCESS);
    CHECK(W(value) == deep);
    CHECK(log.Contains("<GetTargetPath> uRet==ERROR_MORE_DATA"));
    UnbindSession();
}

TEST_CASE("in a deferred handler reads are served from the container") {
    TestPackage pkg;
    pkg.Property(L"CustomActionData", L"[[tamber_VG_type=1]]|[[INSTALLDIR=C:\\Apps\\Client\\]]|")
        .Property(L"ONLY_IN_INSTALLER", L"x");
    SetUseCAD(1);
    BindSession(pkg.Session());
    LogCapture log;
    XString value(L"stale");

    CHECK(GetProperty(L"tamber_VG_type", &value) == ERROR_SUCCESS);
    CHECK(W(value) == L"1");
    CHECK(log.Contains("<GetProperty> UseCAD: retrieved from container tamber_VG_type=1"));

    CHECK(GetProperty(L"ONLY_IN_INSTALLER", &value) == ERROR_INVALID_PARAMETER);
    CHECK(W(value).empty());
    CHECK(log.Contains("<GetProperty> UseCAD: Failed to retrieve ONLY_IN_INSTALLER from container"));

    // The carrier itself still comes from the installer.
    CHECK(GetProperty(L"CustomActionData", &value) == ERROR_SUCCESS);
    CHECK(W(value) == L"[[tamber_VG_type=1]]|[[INSTALLDIR=C:\\Apps\\Client\\]]|");

    CHECK(GetTargetPath(L"INSTALLDIR", &value) == ERROR_SUCCESS);
    CHECK(W(value) == L"C:\\Apps\\Client\\");
    CHECK(GetTargetPath(L"AddFilesDir", &value) == ERROR_INVALID_PARAMETER);
    CHECK(log.Contains("<GetTargetPath> UseCAD: Failed to retrieve AddFilesDir from container"));

    // What a deferred handler sets with the container flag is what it reads back.
    SetProperty(L"tamber_VG_type", L"0", true);
    CHECK(GetProperty(L"tamber_VG_type", &value) == ERROR_SUCCESS);
    CHECK(W(value) == L"0");
    SetTargetPath(L"INSTALLDIR", L"D:\\Moved\\");
    CHECK(GetTargetPath(L"INSTALLDIR", &value) == ERROR_SUCCESS);
    CHECK(W(value) == L"D:\\Moved\\");
    UnbindSession();
}

TEST_CASE("the Property table and the deferred values are recorded in the container") {
    const std::wstring longValue(250, L'p');
    TestPackage pkg;
    pkg.Property(L"ProductName", L"Varnet").Property(L"LONGPROP", longValue).Property(L"tamber_VG_type", L"1");
    AddClientDirectories(pkg);
    BindSession(pkg.Session(true));
    LogCapture log;

    CHECK(Property_table_to_CAD() == ERROR_SUCCESS);
    CHECK(W(GetCADValue(L"ProductName")) == L"Varnet");
    CHECK(W(GetCADValue(L"LONGPROP")) == longValue);
    CHECK(log.Contains("<Property_table_to_CAD> Extracted property form Property table: Property=ProductName, "
                       "Value=Varnet"));

    StoreDeferredProperties();
    XString installDir;
    GetTargetPath(L"INSTALLDIR", &installDir);
    CHECK(W(GetCADValue(L"INSTALLDIR")) == W(installDir));
    CHECK(W(GetCADValue(L"UILevel")) == pkg.Get(L"UILevel"));
    CHECK(W(GetCADValue(L"tamber_VG_type")) == L"1");
    // Empty values are not recorded at all.
    UnbindSession();
    CHECK(pkg.Get(L"ALLCADPROPS").find(L"tamber_upgrade_mode") == std::wstring::npos);
    CHECK(pkg.Get(L"ALLCADPROPS").find(L"[[LONGPROP=" + longValue + L"]]|") != std::wstring::npos);
}
