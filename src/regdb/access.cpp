#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "log/install_log.h"
#include "regdb/regdb.h"
#include "util/decimal.h"
#include "util/handles.h"

namespace {

const wchar_t kLabelGet[] = L"TamberRegDB::GetKeyValueEx";
const wchar_t kLabelCreate[] = L"TamberRegDB::CreateKeyEx";
const wchar_t kLabelDelete[] = L"RegRecursiveDeleteKey";
const wchar_t kLabelOpen[] = L"OpenKeyWithoutLinks";
const wchar_t kLinkValue[] = L"SymbolicLinkValue";
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

namespace {

// The target of a key opened with REG_OPTION_OPEN_LINK that is a registry
// link; empty for any other key.
std::wstring RegistryLinkTarget(HKEY key) {
    wchar_t target[kValueBytes / sizeof(wchar_t) + 1] = L"";
    DWORD bytes = kValueBytes, type = REG_NONE;
    if (RegQueryValueExW(key, kLinkValue, nullptr, &type, reinterpret_cast<BYTE*>(target), &bytes) != ERROR_SUCCESS ||
        type != REG_LINK)
        return {};
    return std::wstring(target, wcsnlen(target, bytes / sizeof(wchar_t)));
}

// Windows keeps LocalSystem's hive under two names: S-1-5-18 is a link to
// .DEFAULT, which a walk of the hives reaches under its own name. That one
// link is passed over without a word; it leads nowhere a user chose.
bool IsSystemHiveAlias(HKEY root, size_t start, const std::wstring& name, const std::wstring& target) {
    return root == HKEY_USERS && start == 0 && _wcsicmp(name.c_str(), L"S-1-5-18") == 0 &&
           _wcsicmp(target.c_str(), L"\\Registry\\User\\.DEFAULT") == 0;
}

}  // namespace

// RegDeleteKey opens the key by name again and so follows a link; the native
// call deletes what the handle is open on. Looked up, not imported.
LONG DeleteOpenKey(HKEY key) {
    using NtDeleteKeyFn = LONG(WINAPI*)(HANDLE);
    using ToWin32Fn = ULONG(WINAPI*)(LONG);
    static const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    static const auto deleteKey = ProcAddress<NtDeleteKeyFn>(ntdll, "NtDeleteKey");
    static const auto toWin32 = ProcAddress<ToWin32Fn>(ntdll, "RtlNtStatusToDosError");
    if (!deleteKey || !toWin32) return ERROR_CALL_NOT_IMPLEMENTED;
    return static_cast<LONG>(toWin32(deleteKey(key)));
}

bool DeletedAsLink(HKEY key, const wchar_t* label, const wchar_t* name, LONG* result) {
    const std::wstring target = RegistryLinkTarget(key);
    if (target.empty()) return false;
    *result = DeleteOpenKey(key);
    LogMessage(*result, label, L"%s is a registry link to %s; deleted the link, not that key", name, target.c_str());
    return true;
}

LONG OpenKeyWithoutLinks(HKEY root, const wchar_t* path, REGSAM access, RegKey* key) {
    const std::wstring all(path ? path : L"");
    RegKey current;
    for (size_t start = 0;;) {
        const size_t end = std::min(all.find(L'\\', start), all.size());
        const bool last = end == all.size();
        RegKey next;
        LONG result = RegOpenKeyExW(current ? current.get() : root, all.substr(start, end - start).c_str(),
                                    REG_OPTION_OPEN_LINK, last ? access : KEY_READ, next.out());
        if (result != ERROR_SUCCESS) return result;
        const std::wstring target = RegistryLinkTarget(next.get());
        if (!target.empty()) {
            if (IsSystemHiveAlias(root, start, all.substr(start, end - start), target)) return ERROR_ACCESS_DENIED;
            LogMessage(0, kLabelOpen, L"%s is a registry link to %s; the keys below it are left alone",
                       all.substr(0, end).c_str(), target.c_str());
            return ERROR_ACCESS_DENIED;
        }
        current = std::move(next);
        if (last) break;
        start = end + 1;
    }
    *key = std::move(current);
    return ERROR_SUCCESS;
}

// Value names may run to 16383 units; key names to 255. Each key is opened
// itself, never what a link there leads to: a link is deleted as a link.
LONG RegRecursiveDeleteKey(HKEY parent, const wchar_t* subKey) {
    // An empty name would open the parent itself and empty it.
    if (!subKey || !*subKey) return ERROR_INVALID_PARAMETER;
    RegKey key;
    LONG result = RegOpenKeyExW(parent, subKey, REG_OPTION_OPEN_LINK, MAXIMUM_ALLOWED, key.out());
    if (result != ERROR_SUCCESS) return result;
    if (DeletedAsLink(key.get(), kLabelDelete, subKey, &result)) return result;

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
    // Through the handle: the key cannot have been swapped for a link by now.
    return DeleteOpenKey(key.get());
}
