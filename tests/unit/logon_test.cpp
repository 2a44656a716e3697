// Logon integration against the Wine registry, with the LogonISReg.dll
// stand-in recording what the library asks of it.
#include <doctest.h>

#include <cstdlib>
#include <string>

#include "events/frame.h"
#include "harness.h"
#include "logon/logon.h"
#include "regdb/regdb.h"
#include "session/session.h"

namespace {

const std::wstring kDir = L"C:\\P\\";
const std::wstring kWinlogon = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const std::wstring kClient = L"SOFTWARE\\Halvora\\Varnet";
const std::wstring kNetlogon = L"SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters";

std::wstring Text(const std::wstring& key, const wchar_t* name) {
    std::wstring text = L"<absent>";
    HklmValue(key, name, &text);
    return text;
}

DWORD Number(const std::wstring& key, const wchar_t* name) {
    DWORD n = 0xFFFFFFFF;
    HklmValue(key, name, nullptr, &n);
    return n;
}

void DeleteValue(const std::wstring& key, const wchar_t* name) {
    HKEY h;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS) return;
    RegDeleteValueW(h, name);
    RegCloseKey(h);
}

// C:\P\ with the logon library stand-in and product.ini, and a bound session.
class Install {
public:
    explicit Install(std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> settings,
                     const char* productIni = "[Version]\r\n") {
        CreateDirectoryW(kDir.c_str(), nullptr);
        CreateDirectoryW((kDir + L"bin").c_str(), nullptr);
        CopyFileW((ExeDir() + L"tools\\LogonISReg.dll").c_str(), (kDir + L"bin\\LogonISReg.dll").c_str(), FALSE);
        WriteFileBytes(kDir + L"product.ini", productIni);
        DeleteFileW(L"C:\\tamber_calls.txt");
        for (const auto& s : settings) pkg_.Property(s.first, s.second);
        pkg_.Directory(L"TARGETDIR", L"", L"SourceDir").Directory(L"INSTALLDIR", L"TARGETDIR", L"P");
        MSIHANDLE session = pkg_.Session(true);
        MsiSetTargetPathW(session, L"INSTALLDIR", kDir.c_str());
        BindSession(session);
    }
    ~Install() { UnbindSession(); }
    static std::string Calls() { return ReadFileBytes(L"C:\\tamber_calls.txt"); }

private:
    TestPackage pkg_;
};

}  // namespace

// Registered once per Windows version: Vista and 7 use the network provider,
// the others the GINA chain.
TEST_CASE("SDL logon support on each Windows version") {
    const std::string version = getenv("TAMBER_WINVER") ? getenv("TAMBER_WINVER") : "";
    const bool vista = version == "vista" || version == "win7";
    HklmCreateKey(kClient);
    setRegistryStringValue(HKEY_LOCAL_MACHINE, kWinlogon.c_str(), L"GinaDLL", L"othergina.dll");
    {
        Install install({{L"EnableSDL", L"1"}});
        HandleSDLSupport();
        HandleSDLSupport();  // a second run keeps the remembered GINA
        if (vista) {
            CHECK(Text(kWinlogon, L"GinaDLL") == L"othergina.dll");
            CHECK(Text(kWinlogon, L"HvrOldGina") == L"<absent>");
            CHECK(Text(kClient, L"ThirdPartyGina") == L"<absent>");
            CHECK(Install::Calls().find("LogonISReg.dll|EnableDisableSDL 1 key C:\\P\\|") != std::string::npos);
        } else {
            CHECK(Text(kWinlogon, L"GinaDLL") == L"hvrginashim.dll");
            CHECK(Text(kWinlogon, L"HvrOldGina") == L"othergina.dll");
            CHECK(Text(kClient, L"ThirdPartyGina") == L"othergina.dll");
            CHECK(Number(kClient, L"SDLEnabled") == 1);
        }
    }
    if (vista) {
        setRegistryDWORDValue(HKEY_LOCAL_MACHINE, kClient.c_str(), L"SDLEnabled", L"1");
        Install install({});
        CHECK(TamberEnableVistaNP() == 1);
        TamberRemoveVistaNP();
        const std::string calls = Install::Calls();
        size_t set = calls.find("SetNP C:\\P\\");
        size_t disable = calls.find("EnableDisableSDL 0 key C:\\P\\");
        size_t del = calls.find("DelNP");
        CHECK(set != std::string::npos);
        CHECK(disable != std::string::npos);
        CHECK(disable < del);
        CHECK(del != std::string::npos);
    } else {
        // Without a former GINA: empty names, and no GinaDLL after the restore.
        DeleteValue(kWinlogon, L"GinaDLL");
        DeleteValue(kWinlogon, L"HvrOldGina");
        Install install({{L"EnableSDL", L"1"}});
        HandleSDLSupport();
        CHECK(Text(kWinlogon, L"HvrOldGina").empty());
        CHECK(Text(kClient, L"ThirdPartyGina").empty());
        RestoreOldGina();
        CHECK(Text(kWinlogon, L"GinaDLL") == L"<absent>");
        CHECK(Text(kWinlogon, L"HvrOldGina") == L"<absent>");
    }
}

TEST_CASE("Netlogon and NetBT settings for a logon over the tunnel") {
    HklmCreateKey(kNetlogon);
    setRegistryDWORDValue(HKEY_LOCAL_MACHINE, kNetlogon.c_str(), L"ExpectedDialupDelay", L"7");
    WriteFileBytes(L"C:\\sdl.ini", "[Version]\r\nSdlStTimeout=30\r\n");
    CHECK(TamberSetNetlogonTimeoutParameters(L"C:\\sdl.ini") == 1);
    CHECK(Number(kNetlogon, L"ExpectedDialupDelay") == 45);
    CHECK(Number(kNetlogon, L"OldExpectedDialupDelay") == 7);
    CHECK(Number(kNetlogon, L"ScavengeInterval") == 60);
    HKEY sdl;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Halvora\\VARNET\\SdlTimeouts", 0, KEY_READ, &sdl) ==
            ERROR_SUCCESS);
    DWORD values = 0;
    RegQueryInfoKeyW(sdl, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(sdl);
    CHECK(values == 1);
    CHECK(Number(L"SOFTWARE\\Halvora\\VARNET\\SdlTimeouts", L"SdlStTimeout") == 30);

    const std::wstring netbt = L"SYSTEM\\CurrentControlSet\\Services\\NetBT\\Parameters";
    HklmCreateKey(netbt);
    DeleteValue(netbt, L"EnableLMHOSTS");
    LogCapture log;
    CHECK(TamberSetLmhostLookupParam() == 0);  // absent: failure, nothing written
    CHECK(HklmValue(netbt, L"EnableLMHOSTS") == REG_NONE);
    CHECK(log.Find("<TamberSetLmhostLookupParam> failed to query value (2)") >= 0);
    setRegistryDWORDValue(HKEY_LOCAL_MACHINE, netbt.c_str(), L"EnableLMHOSTS", L"1");
    CHECK(TamberSetLmhostLookupParam() == 1);
    CHECK(HklmValue(netbt, L"VnLMHOSTSRevert") == REG_NONE);
    setRegistryDWORDValue(HKEY_LOCAL_MACHINE, netbt.c_str(), L"EnableLMHOSTS", L"0");
    CHECK(TamberSetLmhostLookupParam() == 1);
    CHECK(Number(netbt, L"EnableLMHOSTS") == 1);
    CHECK(Number(netbt, L"VnLMHOSTSRevert") == 1);
}

TEST_CASE("the XP-signed driver files replace the others") {
    const std::wstring modules = kDir + L"boot\\modules\\";
    CreateDirectoryW(kDir.c_str(), nullptr);
    for (const wchar_t* d : {L"boot", L"boot\\modules", L"boot\\modules\\xp_signed_modules"})
        CreateDirectoryW((kDir + d).c_str(), nullptr);
    for (const wchar_t* file : {L"netbdvn.cat", L"omva.cat", L"netbdvn.inf"}) {
        WriteFileBytes(modules + file, "unsigned");
        WriteFileBytes(modules + L"xp_signed_modules\\" + file, "signed");
    }
    CHECK(CopySignedBDfiles(kDir.c_str()));
    for (const wchar_t* file : {L"netbdvn.cat", L"omva.cat", L"netbdvn.inf"}) CHECK(ReadFileBytes(modules + file) == "signed");
    DeleteFileW((modules + L"xp_signed_modules\\omva.cat").c_str());
    CHECK_FALSE(CopySignedBDfiles(kDir.c_str()));

    // A GinaDLL too long for its 128-byte buffer counts as absent.
    setRegistryStringValue(HKEY_LOCAL_MACHINE, kWinlogon.c_str(), L"GinaDLL", std::wstring(70, L'g').c_str());
    XString name(L"unchanged");
    CHECK_FALSE(getGinaName(&name));
    CHECK(std::wstring(name.wvalue()) == L"unchanged");
}
