#include <vector>

#include "deferred/deferred.h"
#include "log/install_log.h"
#include "session/container_read.h"
#include "session/session.h"

MSIHANDLE g_hMsi = 0;

namespace {

const wchar_t kLabelGet[] = L"GetProperty";
const wchar_t kLabelSet[] = L"SetProperty";
const wchar_t kCustomActionData[] = L"CustomActionData";
constexpr DWORD kFirstReadChars = 128;

bool g_useCAD = false;

}  // namespace

void SetUseCAD(int flag) { g_useCAD = flag != 0; }

bool IsUseCAD() { return g_useCAD; }

// Shared by property and target-path reads in deferred handlers.
UINT ReadFromContainer(const wchar_t* label, const XString& name, XString* value) {
    if (TheCADContainer().Find(name, value) < 0) {
        LogMessage(0, label, L"UseCAD: Failed to retrieve %s from container", name.wvalue());
        *value = XString();
        return ERROR_INVALID_PARAMETER;
    }
    LogMessage(0, label, L"UseCAD: retrieved from container %s=%s", name.wvalue(), value->wvalue());
    return ERROR_SUCCESS;
}

UINT GetProperty(XString name, XString* value) {
    if (g_hMsi == 0 || !value) return ERROR_INVALID_HANDLE;
    name.setEncoding(XString::Unicode);
    LogMessage(0, kLabelGet, L"Entering with property %s", name.wvalue());

    if (g_useCAD && !name.equals(kCustomActionData)) return ReadFromContainer(kLabelGet, name, value);

    std::vector<wchar_t> buffer(kFirstReadChars);
    DWORD chars = kFirstReadChars;
    UINT result = MsiGetPropertyW(g_hMsi, name.wvalue(), buffer.data(), &chars);
    if (result == ERROR_MORE_DATA) {
        chars += 1;
        buffer.assign(chars, L'\0');
        result = MsiGetPropertyW(g_hMsi, name.wvalue(), buffer.data(), &chars);
    }
    *value = result == ERROR_SUCCESS ? XString(buffer.data()) : XString();
    return result;
}

UINT SetProperty(XString name, XString value, bool alsoStoreInContainer) {
    if (g_hMsi == 0) return ERROR_INVALID_HANDLE;
    name.setEncoding(XString::Unicode);
    value.setEncoding(XString::Unicode);
    LogMessage(0, kLabelSet, L"SetProperty >> key=%s \t value=%s\n", name.wvalue(), value.wvalue());
    if (alsoStoreInContainer) TheCADContainer().Set(name, value);
    return MsiSetPropertyW(g_hMsi, name.wvalue(), value.wvalue());
}

bool HasPropertyUnlogged(const wchar_t* name) {
    wchar_t first[2] = L"";
    DWORD chars = 2;
    if (g_hMsi == 0) return false;
    const UINT result = MsiGetPropertyW(g_hMsi, name, first, &chars);
    return (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) && chars > 0;
}

UINT SetPropertyUnlogged(const wchar_t* name, const XString& value) {
    if (g_hMsi == 0) return ERROR_INVALID_HANDLE;
    XString text = value;
    text.setEncoding(XString::Unicode);
    return MsiSetPropertyW(g_hMsi, name, text.wvalue());
}
