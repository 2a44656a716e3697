// Cleanup of older client generations against the Wine registry and files.
#include <doctest.h>

#include <string>

#include "harness.h"
#include "legacy/legacy.h"

namespace {

void SetDword(const std::wstring& key, const wchar_t* name, DWORD value) {
    HKEY h;
    REQUIRE(RegCreateKeyW(HKEY_LOCAL_MACHINE, key.c_str(), &h) == ERROR_SUCCESS);
    RegSetValueExW(h, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof value);
    RegCloseKey(h);
}

}  // namespace

TEST_CASE("uninstallation removes the client's registry data but what must survive") {
    const std::wstring client = L"SOFTWARE\\Halvora\\VARNET";
    const std::wstring plugins = client + L"\\SCV\\Plugins";
    SetDword(plugins + L"\\Drop", L"RemoveInUninstall", 1);
    SetDword(plugins + L"\\Keep", L"RemoveInUninstall", 0);
    HklmCreateKey(plugins + L"\\NoFlag");
    // Wine does not enforce key permissions, so a key the walk cannot delete is
    // made another way: its name is longer than the walk's 250-byte buffer, so
    // it cannot even be read. The walk must go past it rather than stop or spin.
    HklmCreateKey(client + L"\\" + std::wstring(252, L'U'));
    HklmCreateKey(client + L"\\Zlast");
    for (const wchar_t* value : {L"SSOEnabled", L"SDLEnabled", L"Other"}) SetDword(client, value, 1);
    HKEY h;
    REQUIRE(RegCreateKeyW(HKEY_USERS, L".DEFAULT\\Software\\Halvora\\Varnet\\One", &h) == ERROR_SUCCESS);
    RegCloseKey(h);

    addreg_DeleteRegistryOnUninstall();

    CHECK(HklmKeyExists(plugins + L"\\Keep"));
    CHECK(HklmKeyExists(plugins + L"\\NoFlag"));
    CHECK_FALSE(HklmKeyExists(plugins + L"\\Drop"));
    CHECK_FALSE(HklmKeyExists(client + L"\\Zlast"));
    CHECK(HklmValue(client, L"SSOEnabled") == REG_NONE);
    CHECK(HklmValue(client, L"SDLEnabled") == REG_NONE);
    CHECK(HklmValue(client, L"Other") == REG_DWORD);
    // .DEFAULT is a loaded hive too: its subkeys go first, then the key itself.
    CHECK(RegOpenKeyExW(HKEY_USERS, L".DEFAULT\\Software\\Halvora\\Varnet", 0, KEY_READ, &h) != ERROR_SUCCESS);
}

// Registered with Setupapi.dll disabled, as on a system without
// SetupUninstallOEMInfA.
TEST_CASE("old setup files are deleted with their PNF without Setupapi") {
    REQUIRE(LoadLibraryA("Setupapi.dll") == nullptr);
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring inf = std::wstring(windows) + L"\\inf\\";
    CreateDirectoryW(inf.c_str(), nullptr);
    WriteFileBytes(inf + L"oem90.inf", "[Version]\nSignature=x\n[Install]\nAddService=hv_bd1\n");
    WriteFileBytes(inf + L"oem90.PNF", "compiled");
    WriteFileBytes(inf + L"oem91.inf", "[Version]\nSignature=x\nHV_BD1 in the wrong case\n");
    WriteFileBytes(inf + L"netbd1.inf", "[Strings]\nNM_VDEV=adapter\n");

    CHECK(addreg_RemoveINF() == 3);
    CHECK_FALSE(FileExists(inf + L"oem90.inf"));
    CHECK_FALSE(FileExists(inf + L"oem90.PNF"));
    CHECK(FileExists(inf + L"oem91.inf"));
    CHECK_FALSE(FileExists(inf + L"netbd1.inf"));
    CHECK(addreg_CleanKernelINF() == 0);
}

// Only the driver file is found through the Windows directory. Without one,
// the file named relative to the current directory must stay, and the
// service and the event-log source must still go.
TEST_CASE("the legacy adapter cleanup without a Windows directory removes all but the file") {
    const std::wstring here = TempDir() + L"omvacwd\\";
    for (const wchar_t* d : {L"", L"system32", L"system32\\drivers"}) CreateDirectoryW((here + d).c_str(), nullptr);
    WriteFileBytes(here + L"system32\\drivers\\omva.sys", "driver");
    REQUIRE(SetCurrentDirectoryW(here.c_str()));
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    REQUIRE(scm != nullptr);
    SC_HANDLE omva = CreateServiceW(scm, L"OMVA", L"OMVA", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                    SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, L"system32\\drivers\\omva.sys",
                                    nullptr, nullptr, nullptr, nullptr, nullptr);
    REQUIRE(omva != nullptr);
    CloseServiceHandle(omva);
    const std::wstring source = L"System\\CurrentControlSet\\Services\\EventLog\\System\\OMVA";
    HklmCreateKey(source);

    addreg_w2K_omva_cleanup("");

    CHECK(FileExists(here + L"system32\\drivers\\omva.sys"));
    omva = OpenServiceW(scm, L"OMVA", SERVICE_QUERY_STATUS);
    CHECK(omva == nullptr);
    if (omva) CloseServiceHandle(omva);
    CloseServiceHandle(scm);
    CHECK_FALSE(HklmKeyExists(source));
}
