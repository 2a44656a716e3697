#include <cstdlib>
#include <cwchar>

#include "log/install_log.h"
#include "regdb/regdb.h"
#include "util/handles.h"

namespace {

const wchar_t kLabel[] = L"Registry Controller";
const wchar_t kToken[] = L"{TARGETDIR}";
constexpr int kTokenChars = 11;
constexpr int kTargetDirChars = 1000;

wchar_t g_targetDir[kTargetDirChars] = L"";

// Creates or opens the key and writes one value: the write result.
int WriteValue(const wchar_t* operation, HKEY root, const wchar_t* key, const wchar_t* name, DWORD type,
               const void* data, DWORD bytes, const wchar_t* shownValue) {
    RegKey handle;
    DWORD disposition = 0;
    LONG result = RegCreateKeyExW(root, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                  handle.out(), &disposition);
    if (result != ERROR_SUCCESS) {
        LogMessage(0, kLabel, L"%s: Can't set registry key %s - error %x\n\n", operation, key,
                   static_cast<unsigned>(result));
        return kRegNotWritten;
    }
    RegSetValueExW(handle.get(), name, 0, type, static_cast<const BYTE*>(data), bytes);
    handle.reset();
    LogMessage(0, kLabel, L"%s: successfully set registry value (%s=%s)", operation, name ? name : L"", shownValue);
    return disposition == REG_OPENED_EXISTING_KEY ? kRegWrittenExisting : kRegWrittenCreated;
}

void LogTooShort(const wchar_t* operation, const wchar_t* key) {
    LogMessage(0, kLabel, L"%s: Can't set registry key %s - valueStrBuff too short(%d)\n\n", operation, key,
               kRegValueChars);
}

DWORD StringBytes(const wchar_t* text) { return static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)); }

}  // namespace

const wchar_t* RegTargetDir() { return g_targetDir; }

void SetRegTargetDir(const wchar_t* dir) {
    wcsncpy(g_targetDir, dir ? dir : L"", kTargetDirChars - 1);
    g_targetDir[kTargetDirChars - 1] = 0;
}

int setRegistryDWORDValue(HKEY root, const wchar_t* key, const wchar_t* name, const wchar_t* value) {
    if (!value) return kRegNotWritten;
    DWORD number = static_cast<DWORD>(_wtoi(value));
    return WriteValue(L"setRegistryDWORDValue", root, key, name, REG_DWORD, &number, sizeof number, value);
}

int setRegistryStringValue(HKEY root, const wchar_t* key, const wchar_t* name, const wchar_t* value) {
    const wchar_t kOperation[] = L"setRegistryStringValue";
    if (!value) return kRegNotWritten;
    wchar_t expanded[kRegValueChars];
    if (ExpandHVEnvironmentStrings(value, expanded, kRegValueChars) != 1) {
        LogTooShort(kOperation, key);
        return kRegNotWritten;
    }
    return WriteValue(kOperation, root, key, name, REG_SZ, expanded, StringBytes(expanded), value);
}

int setRegistryExpStringValue(HKEY root, const wchar_t* key, const wchar_t* name, const wchar_t* value) {
    const wchar_t kOperation[] = L"setRegistryExpStringValue";
    if (!value) return kRegNotWritten;
    wchar_t percent[kRegValueChars];
    // An unterminated copy must not reach the expansion.
    if (!fixEnvVarSign(value, percent, kRegValueChars)) {
        LogTooShort(kOperation, key);
        return kRegNotWritten;
    }
    wchar_t expanded[kRegValueChars + 1];
    DWORD needed = ExpandEnvironmentStringsW(percent, expanded, kRegValueChars + 1);
    if (needed == 0 || needed > kRegValueChars) {
        LogTooShort(kOperation, key);
        return kRegNotWritten;
    }
    return WriteValue(kOperation, root, key, name, REG_EXPAND_SZ, expanded, StringBytes(expanded), value);
}

int delRegistryValue(HKEY root, const wchar_t* key, const wchar_t* name) {
    RegKey handle;
    LONG result = RegOpenKeyExW(root, key, 0, KEY_ALL_ACCESS, handle.out());
    if (result == ERROR_SUCCESS) result = RegDeleteValueW(handle.get(), name);
    LogMessage(static_cast<DWORD>(result), kLabel, L"%s: ends with %s.  mainKeyName='%s'  valueName='%s' ",
               L"delRegistryValue", result == ERROR_SUCCESS ? L"SUCCESS" : L"FAIL", key, name ? name : L"");
    return result == ERROR_SUCCESS ? 1 : 0;
}

int isRegistryKeyExists(HKEY root, const wchar_t* key) {
    RegKey handle;
    return RegOpenKeyExW(root, key, 0, KEY_ALL_ACCESS, handle.out()) == ERROR_SUCCESS ? 1 : 0;
}

void getFirstCreatedKey(const wchar_t* key, wchar_t* out, int size) {
    if (!out || size <= 0) return;
    out[0] = 0;
    if (!key || isRegistryKeyExists(HKEY_LOCAL_MACHINE, key)) return;
    wcsncpy(out, key, size - 1);
    out[size - 1] = 0;
    std::wstring saved;
    for (;;) {
        wchar_t* slash = wcsrchr(out, L'\\');
        if (!slash) return;
        saved = out;
        *slash = 0;
        if (isRegistryKeyExists(HKEY_LOCAL_MACHINE, out)) {
            wcscpy(out, saved.c_str());
            return;
        }
    }
}

int ExpandHVEnvironmentStrings(const wchar_t* source, wchar_t* out, int size) {
    if (!source || !out) {
        LogMessage(0, kLabel, L"%s: NULL String", L"ExpandHVEnvironmentStrings");
        return -1;
    }
    const int dirChars = static_cast<int>(wcslen(g_targetDir));
    int written = 0;
    bool fits = true;
    for (const wchar_t* p = source; *p && fits;) {
        if (wcsncmp(p, kToken, kTokenChars) == 0) {
            fits = written + dirChars <= size;
            if (fits) {
                wmemcpy(out + written, g_targetDir, dirChars);
                written += dirChars;
                p += kTokenChars;
            }
        } else {
            fits = written + 1 <= size;
            if (fits) out[written++] = *p++;
        }
    }
    if (fits) fits = written + 1 <= size;
    if (!fits) {
        if (written < size) out[written] = 0;
        LogMessage(0, kLabel, L"%s: Srting buffer is too short (%s)", L"ExpandHVEnvironmentStrings", source);
        return -1;
    }
    out[written] = 0;
    return 1;
}

int fixEnvVarSign(const wchar_t* source, wchar_t* out, int size) {
    if (!source || !out || size <= 0) return 0;
    int i = 0;
    for (; source[i]; ++i) {
        if (i >= size) return 0;
        out[i] = (source[i] == L'{' || source[i] == L'}') ? L'%' : source[i];
    }
    if (i >= size) return 0;
    out[i] = 0;
    return 1;
}
