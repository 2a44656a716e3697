// Registrations of earlier installations and the client's firewall rules.
#include <doctest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "bound_session.h"
#include "harness.h"
#include "regdb/regdb.h"
#include "system/system.h"
#include "upgrade/upgrade.h"

TEST_CASE("maintenance removes the registration of another product") {
    const std::wstring uninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
    const std::wstring products = L"SOFTWARE\\Classes\\Installer\\Products\\";
    struct Registration { std::wstring code, packed; bool gone; };
    struct Case { const char* what; const wchar_t *recorded, *running; std::vector<Registration> registrations; };
    const std::wstring other = L"{0A0A0A0A-1111-2222-3333-444455556666}";
    const Case cases[] = {
        {"a recorded code in other letter case is another product", L"{ABCDEF00-1111-2222-3333-444455556666}",
         L"{abcdef00-1111-2222-3333-444455556666}", {{L"{ABCDEF00-1111-2222-3333-444455556666}", L"DDD", true}}},
        {"an empty recorded code is taken as the default code", L"", other.c_str(),
         {{L"{6B1D4E20-93A7-4C55-8E12-7F0A3C9D2B61}", L"AAA", true},
          {other, L"CCC", false},
          {L"{FFFFFFFF-1111-2222-3333-444455556666}", L"EEE", false}}},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        setRegistryStringValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvora\\Varnet\\5.0", L"PRODUCT_GUID", c.recorded);
        for (const Registration& r : c.registrations) {
            setRegistryStringValue(HKEY_LOCAL_MACHINE, (uninstall + r.code).c_str(), L"DisplayName", L"client");
            const std::wstring icon = L"C:\\windows\\Installer\\" + r.code + L"\\icon.exe";
            setRegistryStringValue(HKEY_LOCAL_MACHINE, (products + r.packed).c_str(), L"ProductIcon", icon.c_str());
        }
        BoundSession session({{L"ProductCode", c.running}});
        RemoveOldProductRegistration();
        for (const Registration& r : c.registrations) {
            CAPTURE(Narrow(r.code));
            CHECK(HklmKeyExists(uninstall + r.code) == !r.gone);
            CHECK(HklmKeyExists(products + r.packed) == !r.gone);
        }
    }
}

// Registered once per Windows version: rules exist from Vista on.
TEST_CASE("firewall rules on each Windows version") {
    const std::string version = getenv("TAMBER_WINVER") ? getenv("TAMBER_WINVER") : "";
    LogCapture log;
    {
        BoundSession session({}, L"C:\\P\\");
        ConfigureFirewallRules();
        ConfigureFirewallRules();  // a second run deletes before it adds again
    }
    std::vector<std::string> commands;
    const std::string running = "<Tamber_RunProcess> running command: <";
    for (const std::string& m : log.Messages())
        if (m.rfind(running, 0) == 0) commands.push_back(m.substr(running.size(), m.size() - running.size() - 1));
    if (version != "vista" && version != "win7") {
        CHECK(commands.empty());
        return;
    }
    // netsh named in full: a bare name is looked for in the current directory first.
    wchar_t system[MAX_PATH] = L"";
    REQUIRE(GetSystemDirectoryW(system, MAX_PATH) > 0);
    const std::string netsh = "\"" + Narrow(system) + "\\netsh.exe\" advfirewall firewall ";
    const std::string del = netsh + "delete rule name = \"Tessel-1 Varnet/Varguard ";
    const std::string add = netsh + "add rule name = \"Tessel-1 Varnet/Varguard ";
    std::vector<std::string> twice;
    for (int run = 0; run < 2; ++run)
        twice.insert(twice.end(), {del + "service\" ", del + "application\" ", del + "command line\" ",
                                   del + "SDS agent\" ", del + "diagnostics\" ",
                                   add + "service\"  program = \"C:\\P\\bin\\VN_SERVICE.EXE\"  action=allow dir=in",
                                   add + "application\"  program = \"C:\\P\\bin\\VN_GUI.EXE\"  action=allow dir=in",
                                   add + "command line\"  program = \"C:\\P\\bin\\VGC.EXE\"  action=allow dir=in",
                                   add + "diagnostics\"  program = \"C:\\P\\bin\\VN_DIAGNOSTICS.EXE\"  action=allow dir=in"});
    CHECK(commands == twice);
}
