// Logon integration against the Wine registry, with the LogonISReg.dll
// stand-in recording what the library asks of it.
#include <doctest.h>

#include <cstdlib>
#include <string>

#include "bound_session.h"
#include "harness.h"
#include "logon/logon.h"

namespace {

const std::wstring kDir = L"C:\\P\\";
const std::wstring kWinlogon = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const std::wstring kClient = L"SOFTWARE\\Halvora\\Varnet";

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

}  // namespace

// Registered once per Windows version: Vista and 7 use the network provider,
// the others the GINA chain.
TEST_CASE("SDL logon support on each Windows version") {
    const std::string version = getenv("TAMBER_WINVER") ? getenv("TAMBER_WINVER") : "";
    const bool vista = version == "vista" || version == "win7";
    HklmCreateKey(kClient);
    CreateDirectoryW(kDir.c_str(), nullptr);
    CreateDirectoryW((kDir + L"bin").c_str(), nullptr);
    CopyFileW((ExeDir() + L"tools\\LogonISReg.dll").c_str(), (kDir + L"bin\\LogonISReg.dll").c_str(), FALSE);
    WriteFileBytes(kDir + L"product.ini", "[Version]\r\n");
    BoundSession session({{L"EnableSDL", L"1"}}, kDir.c_str());
    if (!vista) {
        // Without a former GINA: empty names, and no GinaDLL after the restore.
        HandleSDLSupport();
        CHECK(Text(kWinlogon, L"HvrOldGina").empty());
        CHECK(Text(kClient, L"ThirdPartyGina").empty());
        RestoreOldGina();
        CHECK(Text(kWinlogon, L"GinaDLL") == L"<absent>");
        CHECK(Text(kWinlogon, L"HvrOldGina") == L"<absent>");
    }
    HklmSetValue(kWinlogon, L"GinaDLL", L"othergina.dll");
    HandleSDLSupport();
    HandleSDLSupport();  // a second run keeps the remembered GINA
    CHECK(Text(kWinlogon, L"GinaDLL") == (vista ? L"othergina.dll" : L"hvrginashim.dll"));
    CHECK(Text(kWinlogon, L"HvrOldGina") == (vista ? L"<absent>" : L"othergina.dll"));
    if (vista)
        CHECK(ReadFileBytes(L"C:\\tamber_calls.txt").find("LogonISReg.dll|EnableDisableSDL 1 key C:\\P\\|") !=
              std::string::npos);
    else
        CHECK(Number(kClient, L"SDLEnabled") == 1);
}

TEST_CASE("Netlogon and NetBT settings for a logon over the tunnel") {
    const std::wstring netlogon = L"SYSTEM\\CurrentControlSet\\Services\\Netlogon\\Parameters";
    HklmSetValue(netlogon, L"ExpectedDialupDelay", 7);
    WriteFileBytes(L"C:\\sdl.ini", "[Version]\r\nSdlStTimeout=30\r\n");
    CHECK(TamberSetNetlogonTimeoutParameters(L"C:\\sdl.ini") == 1);
    CHECK(Number(netlogon, L"ExpectedDialupDelay") == 45);
    CHECK(Number(netlogon, L"OldExpectedDialupDelay") == 7);
    CHECK(Number(L"SOFTWARE\\Halvora\\VARNET\\SdlTimeouts", L"SdlStTimeout") == 30);

    const std::wstring netbt = L"SYSTEM\\CurrentControlSet\\Services\\NetBT\\Parameters";
    HklmCreateKey(netbt);
    CHECK(TamberSetLmhostLookupParam() == 0);  // absent: failure, nothing written
    CHECK(HklmValue(netbt, L"EnableLMHOSTS") == REG_NONE);
    HklmSetValue(netbt, L"EnableLMHOSTS", 0);
    CHECK(TamberSetLmhostLookupParam() == 1);
    CHECK(Number(netbt, L"EnableLMHOSTS") == 1);
    CHECK(Number(netbt, L"VnLMHOSTSRevert") == 1);
}

TEST_CASE("a GinaDLL too long for its 128-byte buffer counts as absent") {
    HklmSetValue(kWinlogon, L"GinaDLL", std::wstring(70, L'g'));
    XString name(L"unchanged");
    CHECK_FALSE(getGinaName(&name));
    CHECK(std::wstring(name.wvalue()) == L"unchanged");
}
