// Cleanup of older client generations against the Wine registry and files.
#include <doctest.h>

#include <string>

#include "harness.h"
#include "legacy/legacy.h"

namespace {

void CreateUserKey(HKEY root, const std::wstring& key) {
    HKEY h;
    REQUIRE(RegCreateKeyW(root, key.c_str(), &h) == ERROR_SUCCESS);
    RegCloseKey(h);
}

void SetDword(const std::wstring& key, const wchar_t* name, DWORD value) {
    HKEY h;
    REQUIRE(RegCreateKeyW(HKEY_LOCAL_MACHINE, key.c_str(), &h) == ERROR_SUCCESS);
    RegSetValueExW(h, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), sizeof value);
    RegCloseKey(h);
}

bool UserKeyExists(HKEY root, const std::wstring& key) {
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

}  // namespace

TEST_CASE("uninstallation removes the client's registry data but what must survive") {
    const std::wstring client = L"SOFTWARE\\Halvora\\VARNET";
    const std::wstring plugins = client + L"\\SCV\\Plugins";
    SetDword(plugins + L"\\Drop", L"RemoveInUninstall", 1);
    SetDword(plugins + L"\\Keep", L"RemoveInUninstall", 0);
    HklmCreateKey(plugins + L"\\NoFlag");
    HklmCreateKey(client + L"\\Profiles\\Deep\\Er");
    HklmCreateKey(client + L"\\Sites");
    // Wine does not enforce key permissions, so a key the walk cannot delete is
    // made another way: its name is longer than the walk's 250-byte buffer, so
    // it cannot even be read. The walk must go past it rather than stop or spin.
    HklmCreateKey(client + L"\\" + std::wstring(252, L'U'));
    HklmCreateKey(client + L"\\Zlast");
    SetDword(client, L"SSOEnabled", 1);
    SetDword(client, L"SDLEnabled", 1);
    SetDword(client, L"Other", 1);
    CreateUserKey(HKEY_USERS, L".DEFAULT\\Software\\Halvora\\Varnet\\One");
    CreateUserKey(HKEY_USERS, L".DEFAULT\\Software\\Halvora\\Varnet\\Two");
    CreateUserKey(HKEY_CURRENT_USER, L"Software\\Halvora\\Varnet\\Mine");
    HklmCreateKey(L"System\\CurrentControlSet\\Services\\EventLog\\System\\BD1");

    addreg_DeleteRegistryOnUninstall();

    CHECK(HklmKeyExists(client + L"\\SCV"));
    CHECK(HklmKeyExists(plugins + L"\\Keep"));
    CHECK(HklmKeyExists(plugins + L"\\NoFlag"));
    CHECK_FALSE(HklmKeyExists(plugins + L"\\Drop"));
    CHECK_FALSE(HklmKeyExists(client + L"\\Profiles"));
    CHECK_FALSE(HklmKeyExists(client + L"\\Sites"));
    CHECK_FALSE(HklmKeyExists(client + L"\\Zlast"));
    CHECK(HklmValue(client, L"SSOEnabled") == REG_NONE);
    CHECK(HklmValue(client, L"SDLEnabled") == REG_NONE);
    CHECK(HklmValue(client, L"Other") == REG_DWORD);
    // .DEFAULT is a loaded hive too: its subkeys go first, then the key itself.
    CHECK_FALSE(UserKeyExists(HKEY_USERS, L".DEFAULT\\Software\\Halvora\\Varnet"));
    CHECK(UserKeyExists(HKEY_USERS, L".DEFAULT\\Software\\Halvora"));
    CHECK_FALSE(UserKeyExists(HKEY_CURRENT_USER, L"Software\\Halvora\\Varnet"));
    CHECK_FALSE(HklmKeyExists(L"System\\CurrentControlSet\\Services\\EventLog\\System\\BD1"));
}

TEST_CASE("the legacy adapter driver is removed with its service and event source") {
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring driver = std::wstring(windows) + L"\\system32\\drivers\\omva.sys";
    WriteFileBytes(driver, "old driver");
    SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    REQUIRE(scm);
    SC_HANDLE omva = CreateServiceW(scm, L"OMVA", L"OMVA", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                    SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, L"omva.sys", nullptr, nullptr, nullptr,
                                    nullptr, nullptr);
    REQUIRE(omva);
    CloseServiceHandle(omva);
    HklmCreateKey(L"System\\CurrentControlSet\\Services\\EventLog\\System\\OMVA");

    addreg_w2K_omva_cleanup((Narrow(windows) + "\\").c_str());

    CHECK_FALSE(FileExists(driver));
    omva = OpenServiceW(scm, L"OMVA", SERVICE_QUERY_STATUS);
    CHECK(omva == nullptr);
    if (omva) CloseServiceHandle(omva);
    CloseServiceHandle(scm);
    CHECK_FALSE(HklmKeyExists(L"System\\CurrentControlSet\\Services\\EventLog\\System\\OMVA"));
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

TEST_CASE("the policy key is saved across a maintenance run") {
    const std::wstring policy = L"SOFTWARE\\Halvora\\VARNET\\5.0\\policy";
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring saved = std::wstring(temp) + L"policy.reg";

    RestorePolicyKey();  // nothing saved yet: nothing happens
    CHECK_FALSE(FileExists(saved));

    SetDword(policy, L"Rule", 7);
    SavePolicyKey();
    CHECK(FileExists(saved));
    CHECK(ReadFileBytes(saved).size() > 0);
    SetDword(policy, L"Rule", 8);
    RestorePolicyKey();
    CHECK_FALSE(FileExists(saved));
    // Wine's RegRestoreKey returns without restoring anything (the value
    // stays 8 here), so the restored value itself cannot be checked under
    // Wine: only the save file, written and then removed, is.
}
