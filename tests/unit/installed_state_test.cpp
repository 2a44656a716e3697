// What is installed, and the setup dialogs that follow from it and from the
// package settings, with real sessions and the Wine registry.
#include <doctest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>

#include "bound_session.h"
#include "config/config.h"
#include "harness.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "state/state.h"
#include "util/files.h"

namespace {

const wchar_t kClient[] = L"SOFTWARE\\Halvora\\Varnet";

// The machine's Halvora keys hold only what `machine` writes.
struct Machine {
    explicit Machine(const std::function<void()>& machine) {
        RegRecursiveDeleteKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvora");
        machine();
    }
};

// A bound run with a user interface over such a machine.
struct Run : Machine, BoundSession {
    explicit Run(const std::function<void()>& machine, Properties settings = {})
        : Machine(machine), BoundSession(settings) {
        SetProperty(L"UILevel", L"5", false);
    }
    // The "1" pairs of the 36 flow properties, as "WL LW ..."; anything but
    // "0" or "1" shows up as "?".
    std::set<std::string> Linked() {
        std::set<std::string> linked;
        for (char x : std::string("WLDMSR"))
            for (char y : std::string("WLDMSR")) {
                std::wstring value = Get((L"dt_" + std::wstring(1, x) + std::wstring(1, y)).c_str());
                if (value != L"0") linked.insert(value == L"1" ? std::string{x, y} : std::string{x, y, '?'});
            }
        return linked;
    }
};

void Installed() { setRegistryStringValue(HKEY_LOCAL_MACHINE, kClient, L"CurrentVersion", L"5.0"); }

}  // namespace

TEST_CASE("the installed client decides the run state") {
    struct Case { const char* what; std::function<void()> machine; const wchar_t *mode, *version, *type; };
    const Case cases[] = {
        {"a client key without a version follows Configuration",
         [] { setRegistryDWORDValue(HKEY_LOCAL_MACHINE, kClient, L"Configuration", L"1"); }, L"new", L"none", L"Varnet"},
        {"an upgrade without a directory value", Installed, L"upgrade", L"5.0", L"Varguard"},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        Run run(c.machine);
        const std::wstring before = run.InstallDir();
        StoreVGInitialState();
        const std::wstring path = GetDefaultClientDir().wvalue();
        CHECK(run.Get(L"tamber_install_mode") == c.mode);
        CHECK(run.Get(L"tamber_old_version") == c.version);
        CHECK(run.Get(L"tamber_VG_type") == c.type);
        CHECK(run.Get(L"tamber_old_pkg") == L"IS");
        CHECK(run.Get(L"tamber_old_installed_path") == path);
        // Only an upgrade moves the installation directory to the old one.
        CHECK(run.InstallDir() == (std::wstring(c.mode) == L"upgrade" ? path : before));
    }
}

// The four worked runs, and a simplified package over a full client, which
// may only overwrite it.
TEST_CASE("the dialog flow follows the installed client and the settings") {
    // linked: nullptr for an overwrite without M; message: the run stops with
    // it, 0: it goes on.
    struct Case { const char* what; std::function<void()> machine; BoundSession::Properties settings;
                  const char* linked; int message; };
    const auto launcher = [] {
        setRegistryStringValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvora\\Halvora Product Suite\\setup",
                               L"ActivatedByLauncher", L"1");
    };
    const Case cases[] = {
        {"first installation", [] {}, {}, "WL LW LD DL DS ML MS SD SR RS", 0},
        {"maintenance upgrade", Installed, {}, "WL LW LM DL DR ML MR SM SR RM", 0},
        {"maintenance overwrite", Installed, {{L"OverwriteConfiguration", L"1"}}, "WL LW LM DL DS ML MS SM SR RS", 0},
        {"first installation from the suite launcher", launcher, {}, "WD DW DS LW LD MW MS SD SR RS", 0},
        {"first installation without the path dialog", [] {}, {{L"PathAskUser", L"0"}},
         "WL LW LS DL DS ML MS SL SR RS", 0},
        {"simplified without IsQuebec", Installed, {{L"IsSimplified", L"1"}, {L"OverwriteConfiguration", L"1"}},
         nullptr, 1117},
        {"simplified with IsQuebec and no overwrite warning", Installed,
         {{L"IsSimplified", L"1"}, {L"IsQuebec", L"1"}, {L"ShowOverwriteWarning", L"0"}}, nullptr, 0},
        {"simplified with neither overwrite nor the choice", Installed,
         {{L"IsSimplified", L"1"}, {L"IsQuebec", L"1"}, {L"ShowUpdateOverwrite", L"0"}}, nullptr, 1118},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        Run run(c.machine, c.settings);
        StoreVGInitialState();
        CHECK(initiateDialogsFlowAttributes() == (c.message == 0));
        if (c.message) {
            CHECK(run.Get(L"ID_FINISH_ERROR_STRING") == GetMessageText(c.message).wvalue());
        } else if (c.linked) {
            std::set<std::string> pairs;
            for (size_t i = 0; i + 1 < strlen(c.linked); i += 3) pairs.insert(std::string(c.linked + i, 2));
            CHECK(run.Linked() == pairs);
        } else {
            CHECK(run.Get(L"tamber_upgrade_mode") == L"overwrite");
            for (const std::string& pair : run.Linked()) CHECK(pair[1] != 'M');
            CHECK(run.Linked().count("LS") == 1);
        }
    }
}
