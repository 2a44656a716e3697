// Registrations of earlier installations and the client's firewall rules.
#include <doctest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "events/frame.h"
#include "bound_session.h"
#include "harness.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "system/system.h"
#include "upgrade/upgrade.h"

namespace {

const std::wstring kUninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::wstring kProducts = L"SOFTWARE\\Classes\\Installer\\Products\\";
const wchar_t kDefault[] = L"{6B1D4E20-93A7-4C55-8E12-7F0A3C9D2B61}";

// An Add/Remove Programs entry and an Installer registration for `code`.
void Register(const std::wstring& code, const std::wstring& packed) {
    setRegistryStringValue(HKEY_LOCAL_MACHINE, (kUninstall + code).c_str(), L"DisplayName", L"client");
    std::wstring icon = L"C:\\windows\\Installer\\" + code + L"\\icon.exe";
    setRegistryStringValue(HKEY_LOCAL_MACHINE, (kProducts + packed).c_str(), L"ProductIcon", icon.c_str());
}

struct Session : BoundSession {
    explicit Session(const wchar_t* productCode) : BoundSession({{L"ProductCode", productCode}}) {}
};

}  // namespace

TEST_CASE("an overwrite keeps only SCV of the client's key") {
    const std::wstring client = L"SOFTWARE\\Halvora\\Varnet";
    for (const wchar_t* sub : {L"\\A\\Deep", L"\\SCV\\Kept", L"\\B"}) HklmCreateKey(client + sub);
    for (const wchar_t* value : {L"One", L"Two", L"Three"})
        setRegistryStringValue(HKEY_LOCAL_MACHINE, client.c_str(), value, L"x");
    CHECK(ClearClientKeyKeepSCV() == 1);
    CHECK(HklmKeyExists(client + L"\\SCV\\Kept"));
    CHECK_FALSE(HklmKeyExists(client + L"\\A"));
    CHECK_FALSE(HklmKeyExists(client + L"\\B"));
    for (const wchar_t* value : {L"One", L"Two", L"Three"}) CHECK(HklmValue(client, value) == REG_NONE);
}

TEST_CASE("maintenance removes the registration of another product") {
    const std::wstring other = L"{0A0A0A0A-1111-2222-3333-444455556666}";
    SUBCASE("nothing recorded: the default product goes") {
        Register(kDefault, L"AAA");
        Register(kDefault, L"BBB");
        Register(other, L"CCC");
        // Of two registrations with the old code only the last enumerated goes.
        HKEY products;
        REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProducts.substr(0, kProducts.size() - 1).c_str(), 0, KEY_READ,
                              &products) == ERROR_SUCCESS);
        std::wstring last, first;
        wchar_t name[MAX_PATH];
        for (DWORD i = 0; RegEnumKeyW(products, i, name, MAX_PATH) == ERROR_SUCCESS; ++i) {
            if (std::wstring(name) == L"CCC") continue;
            (first.empty() ? first : last) = name;
        }
        RegCloseKey(products);
        REQUIRE(!last.empty());

        Session session(other.c_str());
        LogCapture log;
        RemoveOldProductRegistration();
        CHECK_FALSE(HklmKeyExists(kUninstall + kDefault));
        CHECK(HklmKeyExists(kUninstall + other));
        CHECK_FALSE(HklmKeyExists(kProducts + last));
        CHECK(HklmKeyExists(kProducts + first));
        CHECK(HklmKeyExists(kProducts + L"CCC"));
        CHECK(log.Contains("<GetOldVG_GUID> 'PRODUCT_GUID' using default"));
    }
    SUBCASE("a recorded code in other letter case is another product") {
        const std::wstring recorded = L"{ABCDEF00-1111-2222-3333-444455556666}";
        setRegistryStringValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvora\\Varnet\\5.0", L"PRODUCT_GUID", recorded.c_str());
        Register(recorded, L"DDD");
        Session session(L"{abcdef00-1111-2222-3333-444455556666}");
        RemoveOldProductRegistration();
        CHECK_FALSE(HklmKeyExists(kUninstall + recorded));
        CHECK_FALSE(HklmKeyExists(kProducts + L"DDD"));
    }
    SUBCASE("an empty recorded code names no product") {
        setRegistryStringValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvora\\Varnet\\5.0", L"PRODUCT_GUID", L"");
        Register(kDefault, L"AAA");
        Register(other, L"CCC");
        Register(L"{FFFFFFFF-1111-2222-3333-444455556666}", L"EEE");
        Session session(other.c_str());
        RemoveOldProductRegistration();
        CHECK_FALSE(HklmKeyExists(kUninstall + kDefault));  // taken as the default code
        CHECK(HklmKeyExists(kUninstall + L"{FFFFFFFF-1111-2222-3333-444455556666}"));
        CHECK(HklmKeyExists(kProducts + L"EEE"));
        CHECK(HklmKeyExists(kProducts + L"CCC"));
    }
    SUBCASE("the same code is left alone") {
        const std::wstring recorded = L"{ABCDEF00-1111-2222-3333-444455556666}";
        setRegistryStringValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvora\\Varnet\\5.0", L"PRODUCT_GUID", recorded.c_str());
        Register(recorded, L"DDD");
        Session session(recorded.c_str());
        RemoveOldProductRegistration();
        CHECK(HklmKeyExists(kUninstall + recorded));
        CHECK(HklmKeyExists(kProducts + L"DDD"));
    }
}

TEST_CASE("the product code is recorded and removal takes keys and system files") {
    {
        Session session(L"{12345678-1111-2222-3333-444455556666}");
        CHECK(WriteProductGuidToRegistry() == 1);
    }
    std::wstring text;
    HklmValue(L"SOFTWARE\\Halvora\\Varnet\\5.0", L"PRODUCT_GUID", &text);
    CHECK(text == L"{12345678-1111-2222-3333-444455556666}");

    for (const wchar_t* key : {L"Software\\Halvora\\DTBase\\5.0", L"SOFTWARE\\Halvora\\SDS", L"SOFTWARE\\Halvora\\BD1"})
        HklmCreateKey(key);
    LogCapture log;
    DeleteDTBaseFromRegistry();
    DeleteSDSFromRegistry();
    DeleteBDFromRegistry();
    DeleteVNFromRegistry();
    CHECK(log.Messages() == std::vector<std::string>{"<DeleteDTBaseFromRegistry> removing dtbase from hkey_local_machine",
                                                     "<DeleteSDSFromRegistry> removing sds from hkey_local_machine",
                                                     "<DeleteBDFromRegistry> removing bd from hkey_local_machine",
                                                     "<DeleteVNFromRegistry> removing varnet from hkey_local_machine"});
    for (const wchar_t* key : {L"Software\\Halvora\\DTBase", L"SOFTWARE\\Halvora\\SDS", L"SOFTWARE\\Halvora\\BD1",
                               L"SOFTWARE\\Halvora\\Varnet"})
        CHECK_FALSE(HklmKeyExists(key));

    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring dir = std::wstring(system) + L"\\";
    for (const wchar_t* file : {L"drivers\\vpn.sys", L"drivers\\omdrv.sys", L"HV_PLAP.dll", L"hvrNotify.dll"})
        WriteFileBytes(dir + file, "x");
    HklmCreateKey(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\hvrNotify");
    DeleteClientSystemFiles();
    RemoveHvrNotify();
    for (const wchar_t* file : {L"drivers\\vpn.sys", L"drivers\\omdrv.sys", L"HV_PLAP.dll", L"hvrNotify.dll"})
        CHECK_FALSE(FileExists(dir + file));
    CHECK_FALSE(HklmKeyExists(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\hvrNotify"));
}

// Registered once per Windows version: rules exist from Vista on.
TEST_CASE("firewall rules on each Windows version") {
    const std::string version = getenv("TAMBER_WINVER") ? getenv("TAMBER_WINVER") : "";
    const bool vista = version == "vista" || version == "win7";
    TestPackage pkg;
    pkg.Directory(L"TARGETDIR", L"", L"SourceDir").Directory(L"INSTALLDIR", L"TARGETDIR", L"P");
    MSIHANDLE session = pkg.Session(true);
    MsiSetTargetPathW(session, L"INSTALLDIR", L"C:\\P\\");
    BindSession(session);
    LogCapture log;
    ConfigureFirewallRules();
    ConfigureFirewallRules();  // a second run deletes before it adds again
    UnbindSession();

    std::vector<std::string> commands;
    const std::string running = "<Tamber_RunProcess> running command: <";
    for (const std::string& m : log.Messages())
        if (m.rfind(running, 0) == 0) commands.push_back(m.substr(running.size(), m.size() - running.size() - 1));
    if (!vista) {
        CHECK(commands.empty());
        return;
    }
    const std::string del = "netsh advfirewall firewall delete rule name = \"Tessel-1 Varnet/Varguard ";
    const std::string add = "netsh advfirewall firewall add rule name = \"Tessel-1 Varnet/Varguard ";
    const std::vector<std::string> once = {
        del + "service\" ",
        del + "application\" ",
        del + "command line\" ",
        del + "SDS agent\" ",
        del + "diagnostics\" ",
        add + "service\"  program = \"C:\\P\\bin\\VN_SERVICE.EXE\"  action=allow dir=in",
        add + "application\"  program = \"C:\\P\\bin\\VN_GUI.EXE\"  action=allow dir=in",
        add + "command line\"  program = \"C:\\P\\bin\\VGC.EXE\"  action=allow dir=in",
        add + "diagnostics\"  program = \"C:\\P\\bin\\VN_DIAGNOSTICS.EXE\"  action=allow dir=in",
    };
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    CHECK(commands == twice);
}
