// What is installed, and the setup dialogs that follow from it and from the
// package settings, with real sessions and the Wine registry.
#include <doctest.h>

#include <functional>
#include <set>
#include <string>

#include "config/config.h"
#include "events/frame.h"
#include "harness.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "state/state.h"
#include "util/files.h"

namespace {

const wchar_t kClient[] = L"SOFTWARE\\Halvora\\Varnet";
const char kLetters[] = "WLDMSR";

void SetText(const wchar_t* key, const wchar_t* name, const wchar_t* value) {
    setRegistryStringValue(HKEY_LOCAL_MACHINE, key, name, value);
}
void SetNumber(const wchar_t* key, const wchar_t* name, const wchar_t* value) {
    setRegistryDWORDValue(HKEY_LOCAL_MACHINE, key, name, value);
}

// A session with an installation directory, bound; the machine's Halvora keys
// start empty.
class Run {
public:
    explicit Run(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> settings = {}) {
        pkg_.Directory(L"TARGETDIR", L"", L"SourceDir").Directory(L"INSTALLDIR", L"TARGETDIR", L"Client");
        for (const auto& s : settings) pkg_.Property(s.first, s.second);
        MsiSetPropertyW(pkg_.Session(true), L"UILevel", L"5");
        BindSession(pkg_.Session());
    }
    ~Run() { UnbindSession(); }
    std::wstring Get(const wchar_t* name) { return pkg_.Get(name); }
    std::wstring InstallDir() {
        XString path;
        GetTargetPath(L"INSTALLDIR", &path);
        return path.wvalue();
    }
    // The "1" pairs of the 36 flow properties, as "WL LW ..."; anything but
    // "0" or "1" shows up as "?".
    std::set<std::string> Linked() {
        std::set<std::string> linked;
        for (char x : std::string(kLetters))
            for (char y : std::string(kLetters)) {
                std::wstring value = Get((L"dt_" + std::wstring(1, x) + std::wstring(1, y)).c_str());
                if (value == L"1") linked.insert(std::string{x, y});
                else if (value != L"0") linked.insert(std::string{x, y, '?'});
            }
        return linked;
    }

private:
    TestPackage pkg_;
};

std::set<std::string> Pairs(const std::string& list) {
    std::set<std::string> out;
    for (size_t i = 0; i + 1 < list.size(); i += 3) out.insert(list.substr(i, 2));
    return out;
}

void CleanMachine() {
    RegRecursiveDeleteKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvora");
    RegRecursiveDeleteKey(HKEY_LOCAL_MACHINE, L"Software\\Halvora");
}

}  // namespace

TEST_CASE("the installed client decides the run state") {
    struct Case {
        const char* what;
        std::function<void()> machine;
        const wchar_t *mode, *version, *type, *package;
        std::wstring path;  // empty: the default client directory
    };
    const Case cases[] = {
        {"no client key", [] {}, L"new", L"none", L"Varguard", L"none", L""},
        {"a client key without a version follows Configuration",
         [] { SetNumber(kClient, L"Configuration", L"1"); }, L"new", L"none", L"Varnet", L"IS", L""},
        {"Configuration 2 is the full client",
         [] {
             SetText(kClient, L"CurrentVersion", L"5.0");
             SetNumber(kClient, L"Configuration", L"2");
             SetText(L"SOFTWARE\\Halvora\\Varnet\\5.0", L"BDDIR", L"D:\\Client50\\");
         },
         L"upgrade", L"5.0", L"Varguard", L"IS", L"D:\\Client50\\"},
        {"a 4.1 client takes its directory from BD1",
         [] {
             SetText(kClient, L"CurrentVersion", L"4.1");
             SetNumber(kClient, L"SLANEnabled", L"0");
             SetText(L"SOFTWARE\\Halvora\\BD1", L"BDDIR", L"D:\\Old41\\");
         },
         L"upgrade", L"4.1", L"Varnet", L"IS", L"D:\\Old41\\"},
        {"an upgrade without a directory value", [] { SetText(kClient, L"CurrentVersion", L"5.0"); }, L"upgrade",
         L"5.0", L"Varguard", L"IS", L""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        CleanMachine();
        c.machine();
        Run run;
        const std::wstring before = run.InstallDir();
        StoreVGInitialState();
        const std::wstring path = c.path.empty() ? std::wstring(GetDefaultClientDir().wvalue()) : c.path;
        CHECK(run.Get(L"tamber_install_mode") == c.mode);
        CHECK(run.Get(L"tamber_old_version") == c.version);
        CHECK(run.Get(L"tamber_VG_type") == c.type);
        CHECK(run.Get(L"tamber_old_pkg") == c.package);
        CHECK(run.Get(L"tamber_old_installed_path") == path);
        // Only an upgrade moves the installation directory to the old one.
        CHECK(run.InstallDir() == (std::wstring(c.mode) == L"upgrade" ? path : before));
        CHECK(!run.Get(L"tamber_backup_path").empty());
    }
}

TEST_CASE("client registry defaults follow the settings") {
    CleanMachine();
    Run run({{L"MajorVersion", L"6"}, {L"EnableLogView", L"0"}, {L"tamber_VG_type", L"Varnet"}});
    SetRegTargetDir(L"C:\\Client");
    WriteProductVersionToRegistry();
    WriteDTBaseDefaults();
    DWORD number = 99;
    CHECK(HklmValue(kClient, L"MajorVersion", nullptr, &number) == REG_DWORD);
    CHECK(number == 6);
    CHECK(HklmValue(kClient, L"MinorVersion", nullptr, &number) == REG_DWORD);
    CHECK(number == 0);
    std::wstring text;
    const wchar_t* dtbase = L"Software\\Halvora\\DTBase\\5.0";
    HklmValue(dtbase, L"DefaultProfile", &text);
    CHECK(text == L"VN_2K");
    HklmValue(dtbase, L"SharedDir", &text);
    CHECK(text == L"C:\\Client\\shared");
    HklmValue(dtbase, L"EnableLogView", nullptr, &number);
    CHECK(number == 0);
    HklmValue(dtbase, L"EnablePolicyView", nullptr, &number);
    CHECK(number == 1);
}

TEST_CASE("the dialog flow of the four worked runs") {
    struct Case {
        const char* what;
        std::function<void()> machine;
        std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> settings;
        const char* linked;
    };
    const auto installed = [] { SetText(kClient, L"CurrentVersion", L"5.0"); };
    const Case cases[] = {
        {"first installation", [] {}, {}, "WL LW LD DL DS ML MS SD SR RS"},
        {"maintenance upgrade", installed, {}, "WL LW LM DL DR ML MR SM SR RM"},
        {"maintenance overwrite", installed, {{L"OverwriteConfiguration", L"1"}}, "WL LW LM DL DS ML MS SM SR RS"},
        {"first installation from the suite launcher",
         [] { SetText(L"SOFTWARE\\Halvora\\Halvora Product Suite\\setup", L"ActivatedByLauncher", L"1"); }, {},
         "WD DW DS LW LD MW MS SD SR RS"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        CleanMachine();
        c.machine();
        Run run(c.settings);
        StoreVGInitialState();
        CHECK(initiateDialogsFlowAttributes());
        CHECK(run.Linked() == Pairs(c.linked));
    }
    SUBCASE("an overwrite is a reinstall") {
        CleanMachine();
        installed();
        Run run({{L"OverwriteConfiguration", L"1"}});
        StoreVGInitialState();
        initiateDialogsFlowAttributes();
        CHECK(run.Get(L"tamber_upgrade_mode") == L"overwrite");
        CHECK(run.Get(L"_IsMaintenance") == L"Reinstall");
    }
}

TEST_CASE("a simplified package over a full client") {
    const auto setup = [] {
        CleanMachine();
        SetText(kClient, L"CurrentVersion", L"5.0");
    };
    SUBCASE("without IsQuebec it stops with 1117") {
        setup();
        Run run({{L"IsSimplified", L"1"}, {L"OverwriteConfiguration", L"1"}});
        StoreVGInitialState();
        CHECK_FALSE(initiateDialogsFlowAttributes());
        CHECK(run.Get(L"ID_FINISH_ERROR_STRING") == GetMessageText(1117).wvalue());
    }
    SUBCASE("with IsQuebec and no overwrite warning it goes on as an overwrite without M") {
        setup();
        Run run({{L"IsSimplified", L"1"}, {L"IsQuebec", L"1"}, {L"ShowOverwriteWarning", L"0"}});
        StoreVGInitialState();
        CHECK(initiateDialogsFlowAttributes());
        CHECK(run.Get(L"tamber_upgrade_mode") == L"overwrite");
        for (const std::string& pair : run.Linked()) CHECK(pair[1] != 'M');
        CHECK(run.Linked().count("LS") == 1);
    }
    SUBCASE("neither overwrite nor the choice stops with 1118") {
        setup();
        Run run({{L"IsSimplified", L"1"}, {L"IsQuebec", L"1"}, {L"ShowUpdateOverwrite", L"0"}});
        StoreVGInitialState();
        CHECK_FALSE(initiateDialogsFlowAttributes());
        CHECK(run.Get(L"ID_FINISH_ERROR_STRING") == GetMessageText(1118).wvalue());
    }
}

TEST_CASE("skipped dialogs preset their choices") {
    CleanMachine();
    Run run({{L"PathAskUser", L"0"}, {L"DesktopSecurityAskUser", L"0"}});
    const std::wstring before = run.InstallDir();
    REQUIRE(before.back() == L'\\');
    StoreVGInitialState();
    CHECK(initiateDialogsFlowAttributes());
    CHECK(run.InstallDir() == before + L"Varnet\\");
    CHECK(run.Get(L"tamber_VG_type") == L"Varnet");
}
