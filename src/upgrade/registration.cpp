// Registrations the client leaves behind, and the product code that lets the
// next version find this one's.
#include <string>

#include "log/install_log.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "upgrade/upgrade.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

const wchar_t kVersionKey[] = L"SOFTWARE\\Halvora\\Varnet\\5.0";
const wchar_t kClientKey[] = L"SOFTWARE\\Halvora\\Varnet";
const wchar_t kDefaultGuid[] = L"{6B1D4E20-93A7-4C55-8E12-7F0A3C9D2B61}";
const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const wchar_t kInstallerProducts[] = L"SOFTWARE\\Classes\\Installer\\Products";
const wchar_t kHvrNotifyKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon\\Notify\\hvrNotify";
const wchar_t* const kClientSystemFiles[] = {L"drivers\\vpn.sys", L"drivers\\omdrv.sys", L"drivers\\omva.sys",
                                             L"HV_PLAP.dll"};

LONG DeleteTree(const wchar_t* label, const wchar_t* line, const wchar_t* tree) {
    LogMessage(0, label, L"%s", line);
    return RegRecursiveDeleteKey(HKEY_LOCAL_MACHINE, tree);
}

struct IconMatch {
    HKEY products;
    std::wstring guid;
    std::wstring found;  // the last matching subkey
};

void MatchProductIcon(const wchar_t* name, void* context) {
    IconMatch* match = static_cast<IconMatch*>(context);
    RegKey product;
    if (RegOpenKeyExW(match->products, name, 0, KEY_QUERY_VALUE, product.out()) != ERROR_SUCCESS) return;
    wchar_t icon[256 + 1] = L"";
    DWORD bytes = 512;
    if (RegQueryValueExW(product.get(), L"ProductIcon", nullptr, nullptr, reinterpret_cast<BYTE*>(icon), &bytes) !=
        ERROR_SUCCESS)
        return;
    if (std::wstring(icon).find(match->guid) != std::wstring::npos) match->found = name;
}

}  // namespace

LONG DeleteDTBaseFromRegistry() {
    return DeleteTree(L"DeleteDTBaseFromRegistry", L"removing dtbase from hkey_local_machine", L"Software\\Halvora\\DTBase");
}
LONG DeleteVNFromRegistry() {
    return DeleteTree(L"DeleteVNFromRegistry", L"removing varnet from hkey_local_machine", kClientKey);
}
LONG DeleteSDSFromRegistry() {
    return DeleteTree(L"DeleteSDSFromRegistry", L"removing sds from hkey_local_machine", L"SOFTWARE\\Halvora\\SDS");
}
LONG DeleteBDFromRegistry() {
    return DeleteTree(L"DeleteBDFromRegistry", L"removing bd from hkey_local_machine", L"SOFTWARE\\Halvora\\BD1");
}

int ClearClientKeyKeepSCV() {
    RegKey client;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClientKey, 0, KEY_ALL_ACCESS, client.out()) != ERROR_SUCCESS) return 0;
    int result = 1;
    wchar_t name[MAX_PATH];
    for (;;) {
        DWORD chars = MAX_PATH;
        if (RegEnumValueW(client.get(), 0, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (RegDeleteValueW(client.get(), name) != ERROR_SUCCESS) {
            result = 0;
            break;
        }
    }
    // SCV survives an overwrite; a subkey that cannot go is passed over too.
    for (DWORD index = 0; RegEnumKeyW(client.get(), index, name, MAX_PATH) == ERROR_SUCCESS;) {
        if (wcscmp(name, L"SCV") == 0 || RegRecursiveDeleteKey(client.get(), name) != ERROR_SUCCESS) ++index;
    }
    return result;
}

int WriteProductGuidToRegistry() {
    XString code;
    bool read = GetProperty(L"ProductCode", &code) == ERROR_SUCCESS;
    bool written = read && setRegistryStringValue(HKEY_LOCAL_MACHINE, kVersionKey, L"PRODUCT_GUID", code.wvalue()) > 0;
    LogMessage(0, L"WriteProductGuidToRegistry", L"wrote guid (%s) with result (%s)", read ? code.wvalue() : L"",
               written ? L"success" : L"failure");
    return written ? 1 : 0;
}

int GetOldVG_GUID(XString* guid) {
    DWORD type = 0, size = 0;
    LONG result = TamberRegDB(HKEY_LOCAL_MACHINE).GetKeyValueEx(kVersionKey, L"PRODUCT_GUID", &type, guid, &size);
    // An empty code would name every product's entry: it counts as unreadable.
    if (result == ERROR_SUCCESS && guid->length() == 0) result = ERROR_INVALID_DATA;
    if (result != ERROR_SUCCESS) {
        LogMessage(result, L"GetOldVG_GUID", L"'PRODUCT_GUID' using default");
        *guid = XString(kDefaultGuid);
    }
    LogMessage(result, L"GetOldVG_GUID", L"guid = %s", guid->wvalue());
    return 0;
}

void RemoveOldProductRegistration() {
    XString running;
    if (GetProperty(L"ProductCode", &running) != ERROR_SUCCESS) return;
    XString old;
    GetOldVG_GUID(&old);
    if (running.equals(old)) return;  // the product being maintained is this one
    DeleteOldVGFromInstalledPrograms(old);
    DeleteOldMsiFromInstalledProducts(old);
}

LONG DeleteOldVGFromInstalledPrograms(const XString& guid) {
    const wchar_t kLabel[] = L"DeleteOldVGFromInstalledPrograms";
    RegKey uninstall;
    LONG result = RegOpenKeyW(HKEY_LOCAL_MACHINE, kUninstallKey, uninstall.out());
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabel, L"Fail to open the registry key %s", kUninstallKey);
        return -1;
    }
    XString code = guid;
    code.setEncoding(XString::Unicode);
    result = RegRecursiveDeleteKey(uninstall.get(), code.wvalue());
    LogMessage(result, kLabel, L"delete returned with %d", static_cast<int>(result));
    return result;
}

void DeleteOldMsiFromInstalledProducts(const XString& guid) {
    if (guid.length() == 0) return;  // would match every product
    RegKey products;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallerProducts, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS,
                      products.out()) != ERROR_SUCCESS)
        return;
    XString code = guid;
    code.setEncoding(XString::Unicode);
    IconMatch match{products.get(), code.wvalue(), L""};
    QueryKeyAndHandleSubKeys(products.get(), MatchProductIcon, &match);
    products.reset();
    if (match.found.empty()) return;
    const std::wstring tree = std::wstring(kInstallerProducts) + L"\\" + match.found;
    LogMessage(0, L"DeleteOldMsiFromInstalledProducts", L"found old guid in (%s)", tree.c_str());
    RegRecursiveDeleteKey(HKEY_LOCAL_MACHINE, tree.c_str());
}

void DeleteClientSystemFiles() {
    XString dir = GetSystemDir();
    if (dir.length() == 0) return;
    for (const wchar_t* file : kClientSystemFiles) HV_DeleteFile(dir + file);
}

void RemoveHvrNotify() {
    XString dir = GetSystemDir();
    if (dir.length() > 0) HV_DeleteFile(dir + L"hvrNotify.dll");
    RegRecursiveDeleteKey(HKEY_LOCAL_MACHINE, kHvrNotifyKey);
}
