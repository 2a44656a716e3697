#include <string>

#include "config/config.h"
#include "log/install_log.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "state/state.h"
#include "upgrade/upgrade.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

const wchar_t kLabel[] = L"StoreVGInitialState";
const wchar_t kClientKey[] = L"SOFTWARE\\Halvora\\Varnet";
const wchar_t kLegacyDirKey[] = L"SOFTWARE\\Halvora\\BD1";
const wchar_t kDTBaseKey[] = L"Software\\Halvora\\DTBase";
const wchar_t kDTBaseVersionKey[] = L"Software\\Halvora\\DTBase\\5.0";
constexpr DWORD kValueBytes = 2000;
constexpr size_t kPropertyChars = 255;

struct RunState {
    std::wstring installMode = L"new";
    std::wstring oldVersion = L"none";
    std::wstring type = L"Varguard";
    std::wstring oldPath;
    std::wstring oldPackage = L"none";
};

std::wstring Bounded(const std::wstring& text) { return text.substr(0, kPropertyChars); }

LONG ReadText(HKEY key, const wchar_t* name, std::wstring* text) {
    wchar_t buffer[kValueBytes / sizeof(wchar_t) + 1] = L"";
    DWORD bytes = kValueBytes, type = 0;
    LONG result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes);
    if (result == ERROR_SUCCESS) *text = Bounded(buffer);
    return result;
}

LONG ReadNumber(HKEY key, const wchar_t* name, DWORD* number) {
    DWORD bytes = sizeof *number, type = 0;
    return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(number), &bytes);
}

// A predicate over one run-state property: whether it equals `expected`,
// or `onFailure` (logged with the name given) when it cannot be read.
bool PropertyIs(const wchar_t* label, const wchar_t* property, const wchar_t* failureName, const wchar_t* expected,
                bool onFailure) {
    XString value;
    UINT result = GetProperty(property, &value);
    if (result != ERROR_SUCCESS) {
        LogMessage(result, label, L"Failed to GetProperty: %s", failureName);
        return onFailure;
    }
    return value.equals(expected);
}

int g_simplified = -1;  // -1: not read successfully yet

}  // namespace

void ReadRegistrySettings() {
    RunState state;
    state.oldPath = GetDefaultClientDir().wvalue();
    RegKey client;
    LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kClientKey, 0, KEY_QUERY_VALUE, client.out());
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabel, L"ReadRegistrySettings:: Failed to open VN information");
    } else {
        std::wstring version;
        result = ReadText(client.get(), L"CurrentVersion", &version);
        if (result == ERROR_SUCCESS) {
            state.installMode = L"upgrade";
            state.oldVersion = version;
        } else {
            LogMessage(result, kLabel, L"ReadRegistrySettings:: Failed to get VN version");
        }
        const bool legacy = state.oldVersion == L"4.1";

        RegKey dirKey;
        std::wstring dirKeyPath = legacy ? kLegacyDirKey : std::wstring(kClientKey) + L"\\" + state.oldVersion;
        result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, dirKeyPath.c_str(), 0, KEY_QUERY_VALUE, dirKey.out());
        if (result == ERROR_SUCCESS) {
            std::wstring dir;
            result = ReadText(dirKey.get(), L"BDDIR", &dir);
            if (result == ERROR_SUCCESS) state.oldPath = dir;
            else LogMessage(result, kLabel, L"ReadRegistrySettings:: Failed to get VN install path");
        } else {
            LogMessage(result, kLabel, L"ReadRegistrySettings:: Failed to open key for installed path");
        }

        DWORD edition = 0;
        result = ReadNumber(client.get(), legacy ? L"SLANEnabled" : L"Configuration", &edition);
        if (result == ERROR_SUCCESS) {
            if (edition == (legacy ? 0u : 1u)) state.type = L"Varnet";
        } else {
            LogMessage(result, kLabel, L"ReadRegistrySettings:: Failed to resolve VN/VG?");
        }
        state.oldPackage = L"IS";
    }

    const std::pair<const wchar_t*, const std::wstring*> published[] = {
        {L"tamber_install_mode", &state.installMode},       {L"tamber_old_version", &state.oldVersion},
        {L"tamber_VG_type", &state.type},                   {L"tamber_old_installed_path", &state.oldPath},
        {L"tamber_old_pkg", &state.oldPackage},
    };
    LogMessage(0, kLabel, L"\n%s=%s\n%s=%s\n%s=%s\n%s=%s\n%s=%s\n", published[0].first, published[0].second->c_str(),
               published[1].first, published[1].second->c_str(), published[2].first, published[2].second->c_str(),
               published[3].first, published[3].second->c_str(), published[4].first, published[4].second->c_str());
    for (const auto& p : published) {
        if (SetProperty(p.first, p.second->c_str(), true) != ERROR_SUCCESS)
            LogMessage(0, kLabel, L"SetProperty failed (%s=%s)\n", p.first, p.second->c_str());
    }
}

void StoreVGInitialState() {
    ReadRegistrySettings();
    XString mode;
    if (GetProperty(L"tamber_install_mode", &mode) == ERROR_SUCCESS && mode.equals(L"upgrade")) {
        XString oldPath;
        if (GetProperty(L"tamber_old_installed_path", &oldPath) == ERROR_SUCCESS && oldPath.length() > 0) {
            UINT result = SetTargetPath(L"INSTALLDIR", oldPath);
            if (result == ERROR_SUCCESS)
                LogMessage(0, kLabel, L"initiated the install dir with the old one (%s)", oldPath.wvalue());
            else
                LogMessage(result, kLabel, L"Can't initiate the install dir with the old one (%s)", oldPath.wvalue());
        }
    }
    CreateBackupPath();
}

bool IsVarguardChosen() {
    const wchar_t kPredicate[] = L"IsVarguardChosen";
    XString value;
    UINT result = GetProperty(L"tamber_VG_type", &value);
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kPredicate, L"Failed to GetProperty: tamber_VG_type");
        return true;
    }
    LogMessage(0, kPredicate, L"ClientType=%s", value.wvalue());
    return !value.equals(L"Varnet");
}

bool IsVarnetChosen() { return !IsVarguardChosen(); }

bool IsMaintUpgradeChosen() {
    return PropertyIs(L"IsMaintUpgradeChosen", L"tamber_upgrade_mode", L"tamber_upgrade_mode", L"upgrade", false);
}

// Not the negation of IsMaintUpgradeChosen: an unreadable mode counts as overwrite.
bool IsMaintOverwriteChosen() {
    return !PropertyIs(L"IsMaintOverwriteChosen", L"tamber_upgrade_mode", L"tamber_upgrade_mode", L"upgrade", false);
}

bool IsFirstInstallation() {
    return PropertyIs(L"IsFirstInstallation", L"tamber_install_mode", L"IsFirstInstallation", L"new", true);
}

bool IsUpgradeFrom4_1() {
    return PropertyIs(L"IsUpgradeFrom4_1", L"tamber_old_version", L"tamber_old_version", L"4.1", false);
}

void WriteDTBaseDefaults() {
    const HKEY root = HKEY_LOCAL_MACHINE;
    setRegistryStringValue(root, kDTBaseKey, L"CurrentVersion", L"5.0");
    struct Text {
        const wchar_t* name;
        const wchar_t* value;
    };
    const Text texts[] = {
        {L"Profile", L""},
        {L"DefaultProfile", IsVarnetChosen() ? L"VN_2K" : L"VG_2K"},
        {L"LogFileName", L""},
        {L"PolicyFileName", L"{TARGETDIR}\\shared\\rules.txt"},
        {L"DBFileName", L"{TARGETDIR}\\shared\\info.txt"},
        {L"SharedDir", L"{TARGETDIR}\\shared"},
        {L"SCVsDataFileName", L"{TARGETDIR}\\shared\\scv.txt"},
        {L"ProfilesDataFileName", L"{TARGETDIR}\\shared\\Profile.txt"},
    };
    for (const Text& t : texts) setRegistryStringValue(root, kDTBaseVersionKey, t.name, t.value);
    for (const wchar_t* view : {L"EnablePolicyView", L"EnableLogView", L"EnableDiagnosticsView"})
        setRegistryDWORDValue(root, kDTBaseVersionKey, view, IsProductINIvalueTrue(view, 1) ? L"1" : L"0");
}

void WriteProductVersionToRegistry() {
    for (const wchar_t* name : {L"MajorVersion", L"MinorVersion"}) {
        XString text(L"");
        GetProductINI_strValue(name, text);
        text.setEncoding(XString::Unicode);
        setRegistryDWORDValue(HKEY_LOCAL_MACHINE, kClientKey, name, text.wvalue());
    }
}

bool IsSimplifiedInRegistry() {
    if (g_simplified >= 0) return g_simplified == 1;
    RegKey key;
    if (RegOpenKeyW(HKEY_LOCAL_MACHINE, L"Software\\Halvora\\Varnet", key.out()) != ERROR_SUCCESS) return false;
    DWORD value = 0;
    if (ReadNumber(key.get(), L"IsSimplified", &value) != ERROR_SUCCESS) return false;
    g_simplified = value != 0 ? 1 : 0;
    return g_simplified == 1;
}
