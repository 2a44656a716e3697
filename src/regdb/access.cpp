#include <string>
#include <vector>

#include "log/install_log.h"
#include "regdb/regdb.h"
#include "util/decimal.h"
#include "util/handles.h"

namespace {

const wchar_t kLabelGet[] = L"TamberRegDB::GetKeyValueEx";
const wchar_t kLabelCreate[] = L"TamberRegDB::CreateKeyEx";
constexpr DWORD kValueBytes = 8192;
constexpr DWORD kValueNameChars = 16384;
constexpr DWORD kKeyNameChars = 260;

}  // namespace

LONG TamberRegDB::GetKeyValueEx(const wchar_t* subKey, const wchar_t* valueName, DWORD* type, XString* value,
                                DWORD* size) {
    RegKey key;
    LONG result = RegOpenKeyExW(root_, subKey, 0, KEY_READ, key.out());
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabelGet, L"%s: failed to RegOpenKeyEx: lpSubKey: %s ", kLabelGet, subKey);
        return result;
    }
    // One unit more than the query may fill, so the text always ends.
    std::vector<wchar_t> data(kValueBytes / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = kValueBytes;
    DWORD valueType = REG_NONE;
    result = RegQueryValueExW(key.get(), valueName, nullptr, &valueType, reinterpret_cast<BYTE*>(data.data()), &bytes);
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabelGet, L"%s: failed to RegQueryValueEx: lpValueName: %s ", kLabelGet,
                   valueName ? valueName : L"");
        return result;
    }
    XString text;
    if (valueType == REG_SZ || valueType == REG_EXPAND_SZ) {
        text = XString(data.data());
    } else if (valueType == REG_DWORD) {
        text = XString(DecimalText(static_cast<int32_t>(*reinterpret_cast<DWORD*>(data.data()))).c_str());
    } else {
        LogMessage(0, kLabelGet, L"Unsupported registry type <%d>", static_cast<int>(valueType));
        text = XString(data.data());
    }
    if (type) *type = valueType;
    if (size) *size = bytes;
    if (value) *value = text;
    return ERROR_SUCCESS;
}

LONG TamberRegDB::CreateKeyEx(const wchar_t* subKey) {
    RegKey key;
    LONG result = RegCreateKeyExW(root_, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                  key.out(), nullptr);
    if (result == ERROR_SUCCESS) LogMessage(0, kLabelCreate, L"%s: successfuly created key: %s ", kLabelCreate, subKey);
    else LogMessage(result, kLabelCreate, L"%s: Can't CreateKeyEx %s ", kLabelCreate, subKey);
    return result;
}

bool TamberRegDB::KeyExists(const wchar_t* subKey) {
    RegKey key;
    return RegOpenKeyExW(root_, subKey, 0, KEY_READ, key.out()) == ERROR_SUCCESS;
}

void QueryKeyAndHandleSubKeys(HKEY key, RegNameCallback callback, void* context) {
    wchar_t className[MAX_PATH] = L"";
    DWORD classChars = MAX_PATH;
    DWORD subKeys = 0;
    LONG result = RegQueryInfoKeyW(key, className, &classChars, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) {
        LogMessage(result, L"QueryKeyAndHandleSubKeys", L"function aborted because RegQueryInfoKey failed");
        return;
    }
    // The count is taken once: a callback that deletes subkeys cannot make this loop.
    for (DWORD i = 0; i < subKeys; ++i) {
        wchar_t name[256];
        DWORD chars = 255;
        if (RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            callback(name, context);
    }
}

void QueryKeyAndHandleValues(HKEY key, RegNameCallback callback, void* context) {
    std::vector<wchar_t> name(kValueNameChars);
    for (DWORD i = 0;; ++i) {
        DWORD chars = kValueNameChars - 1;
        LONG result = RegEnumValueW(key, i, name.data(), &chars, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_SUCCESS) {
            callback(name.data(), context);
            continue;
        }
        LogMessage(result, L"QueryKeyAndHandleValues", L"RegEnumValue failed, i=%d", static_cast<int>(i));
        // Only a name too long for the buffer belongs to its index; any other
        // failure would come back for every index.
        if (result != ERROR_MORE_DATA) return;
    }
}

// Value names may run to 16383 units; key names to 255.
LONG RegRecursiveDeleteKey(HKEY parent, const wchar_t* subKey) {
    // An empty name would open the parent itself and empty it.
    if (!subKey || !*subKey) return ERROR_INVALID_PARAMETER;
    RegKey key;
    LONG result = RegOpenKeyW(parent, subKey, key.out());
    if (result != ERROR_SUCCESS) return result;

    std::vector<wchar_t> valueName(kValueNameChars);
    for (;;) {
        DWORD chars = kValueNameChars;
        if (RegEnumValueW(key.get(), 0, valueName.data(), &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        result = RegDeleteValueW(key.get(), valueName.data());
        if (result != ERROR_SUCCESS) return result;
    }
    wchar_t child[kKeyNameChars];
    while (RegEnumKeyW(key.get(), 0, child, kKeyNameChars) == ERROR_SUCCESS) {
        result = RegRecursiveDeleteKey(key.get(), child);
        if (result != ERROR_SUCCESS) return result;
    }
    key.reset();
    return RegDeleteKeyW(parent, subKey);
}
