#include <cstdlib>

#include "config/config.h"
#include "log/install_log.h"
#include "session/session.h"

namespace {

// Reads the setting's text; false (and logged) when the read failed.
bool ReadSetting(const wchar_t* label, const XString& name, XString* text) {
    UINT result = GetProperty(name, text);
    if (result != ERROR_SUCCESS) {
        LogMessage(result, label, L"Failed to GetProperty: %s. take the default.", name.wvalue());
        return false;
    }
    if (text->length() == 0) LogMessage(0, label, L"%s not found at product.ini, take the default.", name.wvalue());
    return true;
}

}  // namespace

int GetProductINI_intValue(XString name, int& value) {
    const wchar_t kLabel[] = L"GetProductINI_intValue";
    name.setEncoding(XString::Unicode);
    XString text;
    if (!ReadSetting(kLabel, name, &text)) return -1;
    if (text.length() > 0) value = _wtoi(text.wvalue());
    LogMessage(0, kLabel, L"%s=%s (%d)", name.wvalue(), text.wvalue(), value);
    return 0;
}

int GetProductINI_strValue(XString name, XString& value) {
    const wchar_t kLabel[] = L"GetProductINI_strValue";
    name.setEncoding(XString::Unicode);
    XString text;
    if (!ReadSetting(kLabel, name, &text)) return -1;
    if (text.length() > 0) value = text;
    XString shown = value;
    shown.setEncoding(XString::Unicode);
    LogMessage(0, kLabel, L"%s=%s", name.wvalue(), shown.wvalue());
    return 0;
}

int IsProductINIvalueTrue(const wchar_t* name, int defaultValue) {
    const wchar_t kLabel[] = L"IsProductINIvalueTrue";
    if (!name) return 0;
    int working = defaultValue ? 1 : 0;
    if (GetProductINI_intValue(name, working) < 0) {
        LogMessage(0, kLabel, L"GetProductINI_intValue failed. take the default: %s=%d", name, working);
        return defaultValue;
    }
    LogMessage(0, kLabel, L"%s=%d", name, working);
    return working != 0;
}
