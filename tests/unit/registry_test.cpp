// The registry writers and readers against the Wine registry.
#include <doctest.h>

#include <string>
#include <vector>

#include "harness.h"
#include "regdb/regdb.h"

namespace {

const std::wstring kKey = L"SOFTWARE\\Tamber\\Values";

int WriteString(const std::wstring& name, const std::wstring& value) {
    return setRegistryStringValue(HKEY_LOCAL_MACHINE, kKey.c_str(), name.c_str(), value.c_str());
}

void Collect(const wchar_t* name, void* list) { static_cast<std::vector<std::wstring>*>(list)->push_back(name); }

}  // namespace

TEST_CASE("the writers report whether they created the key") {
    LogCapture log;
    CHECK(setRegistryDWORDValue(HKEY_LOCAL_MACHINE, kKey.c_str(), L"Hex", L"0x10") == kRegWrittenCreated);
    CHECK(setRegistryDWORDValue(HKEY_LOCAL_MACHINE, kKey.c_str(), L"Lead", L"  42abc") == kRegWrittenExisting);
    DWORD number = 99;
    CHECK(HklmValue(kKey, L"Hex", nullptr, &number) == REG_DWORD);
    CHECK(number == 0);
    CHECK(HklmValue(kKey, L"Lead", nullptr, &number) == REG_DWORD);
    CHECK(number == 42);
    CHECK(log.Contains("<Registry Controller> setRegistryDWORDValue: successfully set registry value (Lead=  42abc)"));

    CHECK(delRegistryValue(HKEY_LOCAL_MACHINE, kKey.c_str(), L"Hex") == 1);
    CHECK(delRegistryValue(HKEY_LOCAL_MACHINE, kKey.c_str(), L"Hex") == 0);
    CHECK(log.Contains("<Registry Controller> delRegistryValue: ends with FAIL.  mainKeyName='SOFTWARE\\Tamber\\Values'"
                       "  valueName='Hex'  (Error code:2)"));
    CHECK(isRegistryKeyExists(HKEY_LOCAL_MACHINE, kKey.c_str()) == 1);
    CHECK(isRegistryKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tamber\\Nothing") == 0);
}

TEST_CASE("string values take the installation directory and fit in 99 characters") {
    SetRegTargetDir(L"C:\\Program Files\\X");
    LogCapture log;
    std::wstring text;
    WriteString(L"Shared", L"{TARGETDIR}\\shared");
    WriteString(L"Twice", L"{TARGETDIR};{TARGETDIR}");
    WriteString(L"Lower", L"{targetdir}\\x");
    CHECK(HklmValue(kKey, L"Shared", &text) == REG_SZ);
    CHECK(text == L"C:\\Program Files\\X\\shared");
    HklmValue(kKey, L"Twice", &text);
    CHECK(text == L"C:\\Program Files\\X;C:\\Program Files\\X");
    HklmValue(kKey, L"Lower", &text);
    CHECK(text == L"{targetdir}\\x");

    const std::wstring fits = L"{TARGETDIR}" + std::wstring(99 - 18, L'n');  // 18 + 81 = 99 characters
    CHECK(WriteString(L"Fits", fits) == kRegWrittenExisting);
    HklmValue(kKey, L"Fits", &text);
    CHECK(text.size() == 99);
    CHECK(WriteString(L"TooLong", fits + L"n") == kRegNotWritten);
    CHECK(HklmValue(kKey, L"TooLong") == REG_NONE);
    CHECK(log.Contains("<Registry Controller> ExpandHVEnvironmentStrings: Srting buffer is too short ("));
    CHECK(log.Contains("<Registry Controller> setRegistryStringValue: Can't set registry key SOFTWARE\\Tamber\\Values - "
                       "valueStrBuff too short(100)"));

    CHECK(setRegistryExpStringValue(HKEY_LOCAL_MACHINE, kKey.c_str(), L"Exp", L"{SystemRoot}\\x") > 0);
    wchar_t root[MAX_PATH];
    GetEnvironmentVariableW(L"SystemRoot", root, MAX_PATH);
    CHECK(HklmValue(kKey, L"Exp", &text) == REG_EXPAND_SZ);
    CHECK(text == std::wstring(root) + L"\\x");
}

TEST_CASE("the first created key is the topmost missing one") {
    HklmCreateKey(L"SOFTWARE\\A");
    wchar_t out[kRegValueChars] = L"stale";
    getFirstCreatedKey(L"SOFTWARE\\A\\B\\D", out, kRegValueChars);
    CHECK(std::wstring(out) == L"SOFTWARE\\A\\B");
    getFirstCreatedKey(L"SOFTWARE\\A", out, kRegValueChars);
    CHECK(std::wstring(out).empty());
    getFirstCreatedKey(L"NOSUCHROOT\\x", out, kRegValueChars);
    CHECK(std::wstring(out) == L"NOSUCHROOT");
}

TEST_CASE("reading values by type") {
    HklmCreateKey(kKey);
    HKEY key;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS);
    DWORD all = 0xFFFFFFFF;
    RegSetValueExW(key, L"All", 0, REG_DWORD, reinterpret_cast<BYTE*>(&all), sizeof all);
    const wchar_t expand[] = L"%SystemRoot%\\y";
    RegSetValueExW(key, L"Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand), sizeof expand);
    const BYTE binary[] = {'h', 0, 'i', 0, 0, 0};
    RegSetValueExW(key, L"Binary", 0, REG_BINARY, binary, sizeof binary);
    RegCloseKey(key);

    TamberRegDB db(HKEY_LOCAL_MACHINE);
    LogCapture log;
    DWORD type = 0, size = 0;
    XString value;
    CHECK(db.GetKeyValueEx(kKey.c_str(), L"All", &type, &value, &size) == ERROR_SUCCESS);
    CHECK(std::wstring(value.wvalue()) == L"-1");
    CHECK(size == 4);
    CHECK(db.GetKeyValueEx(kKey.c_str(), L"Expand", &type, &value, &size) == ERROR_SUCCESS);
    CHECK(type == REG_EXPAND_SZ);
    CHECK(std::wstring(value.wvalue()) == expand);
    CHECK(db.GetKeyValueEx(kKey.c_str(), L"Binary", &type, &value, &size) == ERROR_SUCCESS);
    CHECK(std::wstring(value.wvalue()) == L"hi");
    CHECK(log.Contains("<TamberRegDB::GetKeyValueEx> Unsupported registry type <3>"));
    CHECK(db.GetKeyValueEx(kKey.c_str(), L"Missing", &type, &value, &size) == ERROR_FILE_NOT_FOUND);
    CHECK(log.Contains("<TamberRegDB::GetKeyValueEx> TamberRegDB::GetKeyValueEx: failed to RegQueryValueEx: "
                       "lpValueName: Missing  (Error code:2)"));
    CHECK(db.KeyExists(kKey.c_str()));
    CHECK(db.CreateKeyEx(L"SOFTWARE\\Tamber\\Made") == ERROR_SUCCESS);
    CHECK(HklmKeyExists(L"SOFTWARE\\Tamber\\Made"));
}

TEST_CASE("walking and deleting key trees") {
    HklmCreateKey(L"SOFTWARE\\Tamber\\Tree\\One\\Two\\Three");
    HklmCreateKey(L"SOFTWARE\\Tamber\\Tree\\Side");
    setRegistryDWORDValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tamber\\Tree", L"a", L"1");
    setRegistryDWORDValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tamber\\Tree", L"b", L"2");
    setRegistryDWORDValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tamber\\Tree\\One\\Two", L"c", L"3");

    HKEY tree;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tamber\\Tree", 0, KEY_READ, &tree) == ERROR_SUCCESS);
    std::vector<std::wstring> values, subkeys;
    LogCapture log;
    QueryKeyAndHandleValues(tree, Collect, &values);
    QueryKeyAndHandleSubKeys(tree, Collect, &subkeys);
    RegCloseKey(tree);
    CHECK(values == std::vector<std::wstring>{L"a", L"b"});
    CHECK(subkeys.size() == 2);
    auto lines = log.Messages();
    REQUIRE(lines.size() == 1);
    CHECK(lines[0].rfind("<QueryKeyAndHandleValues> RegEnumValue failed, i=2 (Error code:259)", 0) == 0);

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
