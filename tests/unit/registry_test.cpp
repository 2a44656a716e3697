// The registry writers and helpers against the Wine registry: number
// parsing, the length limit with the installation directory, the tree
// deleter's guard and registry links.
#include <doctest.h>

#include <string>

#include "harness.h"
#include "legacy/legacy.h"
#include "regdb/regdb.h"
#include "state/state.h"

const std::wstring kKey = L"SOFTWARE\\Tamber\\Values";

TEST_CASE("the writers report whether they created the key") {
    CHECK(setRegistryDWORDValue(HKEY_LOCAL_MACHINE, kKey.c_str(), L"Hex", L"0x10") == kRegWrittenCreated);
    CHECK(setRegistryDWORDValue(HKEY_LOCAL_MACHINE, kKey.c_str(), L"Lead", L"  42abc") == kRegWrittenExisting);
    DWORD number = 99;
    CHECK(HklmValue(kKey, L"Hex", nullptr, &number) == REG_DWORD);
    CHECK(number == 0);
    CHECK(HklmValue(kKey, L"Lead", nullptr, &number) == REG_DWORD);
    CHECK(number == 42);
    CHECK(delRegistryValue(HKEY_LOCAL_MACHINE, kKey.c_str(), L"Hex") == 1);
    CHECK(delRegistryValue(HKEY_LOCAL_MACHINE, kKey.c_str(), L"Hex") == 0);
    CHECK(isRegistryKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tamber\\Nothing") == 0);
}

TEST_CASE("string values take the installation directory and fit in 99 characters") {
    SetRegTargetDir(L"C:\\Program Files\\X");
    std::wstring text;
    setRegistryStringValue(HKEY_LOCAL_MACHINE, kKey.c_str(), L"Twice", L"{TARGETDIR};{TARGETDIR}");
    HklmValue(kKey, L"Twice", &text);
    CHECK(text == L"C:\\Program Files\\X;C:\\Program Files\\X");
    const std::wstring fits = L"{TARGETDIR}" + std::wstring(99 - 18, L'n');  // 18 + 81 = 99 characters
    CHECK(setRegistryStringValue(HKEY_LOCAL_MACHINE, kKey.c_str(), L"Fits", fits.c_str()) == kRegWrittenExisting);
    HklmValue(kKey, L"Fits", &text);
    CHECK(text.size() == 99);
    CHECK(setRegistryStringValue(HKEY_LOCAL_MACHINE, kKey.c_str(), L"TooLong", (fits + L"n").c_str()) == kRegNotWritten);
    CHECK(HklmValue(kKey, L"TooLong") == REG_NONE);
}

TEST_CASE("deleting a key tree refuses an empty name") {
    HklmCreateKey(L"SOFTWARE\\Tamber\\Tree\\One\\Two\\Three");
    HklmCreateKey(L"SOFTWARE\\Tamber\\Tree\\Side");
    // An empty name must not empty the parent.
    HKEY tamber;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tamber", 0, KEY_ALL_ACCESS, &tamber) == ERROR_SUCCESS);
    CHECK(RegRecursiveDeleteKey(tamber, L"") == ERROR_INVALID_PARAMETER);
    RegCloseKey(tamber);
    CHECK(HklmKeyExists(L"SOFTWARE\\Tamber\\Tree\\One\\Two\\Three"));
    CHECK(RegRecursiveDeleteKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tamber\\Tree") == ERROR_SUCCESS);
    CHECK_FALSE(HklmKeyExists(L"SOFTWARE\\Tamber\\Tree"));
    CHECK(HklmKeyExists(L"SOFTWARE\\Tamber"));
    CHECK(RegRecursiveDeleteKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tamber\\Tree") == ERROR_FILE_NOT_FOUND);
}

// A user's hive is the user's: its keys may be registry links to machine keys
// that SYSTEM, deleting the client's per-user keys, must not empty.
TEST_CASE("registry links in the users' hives and below a deleted key are never followed") {
    const std::wstring machine = L"SOFTWARE\\Tamber\\Machine", target = L"\\Registry\\Machine\\" + machine;
    HklmSetValue(machine + L"\\Varnet\\Inner", L"Kept", L"yes");
    MakeRegistryLink(HKEY_USERS, L".Default\\Software\\Halvora", target);
    LogCapture log;
    for (void (*deleteUserKeys)() : {DeleteVarnetKeyFromAllUsers, addreg_DeleteRegistryOnUninstall}) {
        MakeRegistryLink(HKEY_CURRENT_USER, L"Software\\Halvora\\Varnet", target + L"\\Varnet");
        deleteUserKeys();
        HKEY link;
        CHECK(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Halvora\\Varnet", REG_OPTION_OPEN_LINK, KEY_READ, &link) ==
              ERROR_FILE_NOT_FOUND);
        CHECK(HklmValue(machine + L"\\Varnet\\Inner", L"Kept") == REG_SZ);
    }
    const std::string link = "Varnet is a registry link to " + Narrow(target) + "\\Varnet; deleted the link, not that key";
    CHECK(log.Contains("<RegRecursiveDeleteKey> " + link));
    CHECK(log.Contains("<addreg_DeleteRegistryOnUninstall> " + link));
    CHECK(log.Contains("<OpenKeyWithoutLinks> .Default\\Software\\Halvora is a registry link to " + Narrow(target) +
                       "; the keys below it are left alone"));

    MakeRegistryLink(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tamber\\Tree\\Link", target);
    CHECK(RegRecursiveDeleteKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tamber\\Tree") == ERROR_SUCCESS);
    CHECK_FALSE(HklmKeyExists(L"SOFTWARE\\Tamber\\Tree"));
    CHECK(HklmValue(machine + L"\\Varnet\\Inner", L"Kept") == REG_SZ);
}

// On Windows S-1-5-18 is a link to .DEFAULT, and the walks of the hives say
// nothing about it; any other link at a hive's place is still refused.
TEST_CASE("the walks of the users' hives pass Windows' own S-1-5-18 link silently") {
    const std::wstring machine = L"SOFTWARE\\Tamber\\Machine";
    HklmSetValue(machine + L"\\Software\\Halvora\\Varnet", L"Kept", L"yes");  // where a followed link would lead
    MakeRegistryLink(HKEY_USERS, L"S-1-5-18", L"\\REGISTRY\\USER\\.DEFAULT");
    MakeRegistryLink(HKEY_USERS, L"S-1-5-19", L"\\Registry\\Machine\\" + machine);
    LogCapture log;
    for (void (*deleteUserKeys)() : {DeleteVarnetKeyFromAllUsers, addreg_DeleteRegistryOnUninstall}) {
        HKEY key;
        REQUIRE(RegCreateKeyW(HKEY_USERS, L".DEFAULT\\Software\\Halvora\\Varnet\\One", &key) == ERROR_SUCCESS);
        RegCloseKey(key);
        deleteUserKeys();
        CHECK(RegOpenKeyExW(HKEY_USERS, L".DEFAULT\\Software\\Halvora\\Varnet\\One", 0, KEY_READ, &key) ==
              ERROR_FILE_NOT_FOUND);
        CHECK(HklmValue(machine + L"\\Software\\Halvora\\Varnet", L"Kept") == REG_SZ);
    }
    for (const std::string& line : log.Messages()) CHECK(line.find("S-1-5-18") == std::string::npos);
    CHECK(log.Contains("<OpenKeyWithoutLinks> S-1-5-19 is a registry link to \\Registry\\Machine\\" + Narrow(machine) +
                       "; the keys below it are left alone"));
}
