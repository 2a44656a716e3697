#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "config/config.h"
#include "log/install_log.h"
#include "session/session.h"
#include "util/handles.h"

namespace {

const wchar_t kLabelPublish[] = L"Setting Product.ini";
const wchar_t kPublishedMark[] = L"tamber_settings_published";
const wchar_t kLabelLoad[] = L"LoadProductDotINI";
const wchar_t kLabelQuillon[] = L"IsQuillonConfiguration";
const wchar_t kLabelOverrides[] = L"ConfigureQuillonAttributes";

const wchar_t kSimplifiedProperty[] = L"SIMP_VG_PKG";
const wchar_t kStream[] = L"HVINSTADDINT_product_ini";
const wchar_t kSimplifiedStream[] = L"HVINSTADDINT_product_ini_simp";
// Only the two settings rows: a record fetched with its stream is slow to
// fetch and to close, and the table holds the library itself too.
const wchar_t kStreamsQuery[] = L"SELECT `Name`, `Data` FROM `Binary` WHERE `Name` = 'HVINSTADDINT_product_ini' OR "
                                L"`Name` = 'HVINSTADDINT_product_ini_simp'";
constexpr DWORD kStreamBytes = 65536;
constexpr DWORD kSectionChars = 65536;
constexpr DWORD kTempPathChars = 1000;

struct Override {
    const wchar_t* key;
    const wchar_t* value;
};
// Written in this order into section "Version" of the extracted copy.
const Override kQuillonOverrides[] = {
    {L"ShowLic", L"0"},
    {L"ShowWelcome", L"0"},
    {L"PathAskUser", L"0"},
    {L"DesktopSecurityAskUser", L"0"},
    {L"DesktopSecurityDefault", L"1"},
    {L"InstallDialupOnly", L"0"},
    {L"ShowNetworkBindings", L"0"},
    {L"ShowReadmeFile", L"0"},
    {L"ShowBackgroundImage", L"0"},
    {L"ShowSetupInfoDialogs", L"0"},
    {L"DisableCancelInstall", L"1"},
    {L"ShowRestart", L"0"},
    {L"RestartAfterInstall", L"0"},
    {L"ShowRebootWarning", L"0"},
};

const wchar_t* ChooseStream() {
    XString simplified;
    GetProperty(kSimplifiedProperty, &simplified);
    if (simplified.equals(L"1")) {
        LogMessage(0, kLabelLoad, L"%s = 1", kSimplifiedProperty);
        return kSimplifiedStream;
    }
    LogMessage(0, kLabelLoad, L"%s = <%s>", kSimplifiedProperty, simplified.wvalue());
    return kStream;
}

// Writes the stream of `record` (field 2) into `path` as text.
UINT WriteStream(MSIHANDLE record, XString path) {
    path.setEncoding(XString::Unicode);
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kStreamBytes]);
    if (!buffer) {
        LogMessage(0, kLabelLoad, L"Cant allocate buffer for cashing the product.ini\n");
        return ERROR_SUCCESS;
    }
    FileStream file(_wfopen(path.wvalue(), L"w"));
    if (!file) {
        LogMessage(0, kLabelLoad, L"Cant open the temp file for writing the product.ini (%s)\n", path.wvalue());
        return ERROR_SUCCESS;
    }
    DWORD bytes = kStreamBytes;
    UINT result = MsiRecordReadStream(record, 2, buffer.get(), &bytes);
    if (result != ERROR_SUCCESS) {
        LogMessage(0, kLabelLoad, L"Failed to MsiRecordSetStream, error: %d\n", result);
        return result;
    }
    // Only the first 64 KiB are settings; say so rather than drop the rest silently.
    char more = 0;
    DWORD extra = 1;
    if (bytes == kStreamBytes && MsiRecordReadStream(record, 2, &more, &extra) == ERROR_SUCCESS && extra > 0)
        LogMessage(0, kLabelLoad, L"The product.ini stream is longer than %u bytes; only the first %u are used",
                   kStreamBytes, kStreamBytes);
    fwrite(buffer.get(), 1, bytes, file.get());
    file.reset();
    LogMessage(0, kLabelLoad, L"Done.\n");
    return ERROR_SUCCESS;
}

}  // namespace

UINT LoadProductDotINI(const XString& path) {
    const wchar_t* stream = ChooseStream();
    if (g_hMsi == 0) return ERROR_INVALID_HANDLE;
    MsiHandle database(MsiGetActiveDatabase(g_hMsi));
    if (!database) return ERROR_SUCCESS;

    MsiHandle view;
    UINT result = OpenTwoColumnView(database.get(), kStreamsQuery, kLabelLoad, view);
    if (result != ERROR_SUCCESS || !view) return result;

    MsiHandle record;
    while (MsiViewFetch(view.get(), record.out()) == ERROR_SUCCESS) {
        if (RecordString(record.get(), 1).equals(stream)) return WriteStream(record.get(), path);
    }
    return ERROR_SUCCESS;
}

bool IsQuillonConfiguration() {
    XString value;
    GetProperty(L"QL", &value);
    bool quillon = value.equals(L"1");
    LogMessage(0, kLabelQuillon, L"%s.", quillon ? L"yes" : L"no");
    return quillon;
}

bool ConfigureQuillonAttributes(const XString& iniPath) {
    XString path = iniPath;
    path.setEncoding(XString::Unicode);
    bool allWritten = true;
    auto write = [&](const wchar_t* key, const wchar_t* value) {
        if (WritePrivateProfileStringW(L"Version", key, value, path.wvalue())) return;
        LogMessage(GetLastError(), kLabelOverrides, L"Failed to write %s=%s into %s", key, value, path.wvalue());
        allWritten = false;
    };
    for (const Override& o : kQuillonOverrides) write(o.key, o.value);
    XString installDir;
    if (GetTargetPath(L"INSTALLDIR", &installDir) == ERROR_SUCCESS) write(L"DefaultPath", installDir.wvalue());
    return allWritten;
}

// Private, so it never crosses to the installer service; no log line.
void MarkSettingsPublished() { SetPropertyUnlogged(kPublishedMark, XString(L"1")); }

bool SettingsPublishedHere() { return HasPropertyUnlogged(kPublishedMark); }

int SetProductINIProperties() {
    wchar_t temp[kTempPathChars] = L"";
    GetTempPathW(kTempPathChars, temp);
    wchar_t file[MAX_PATH] = L"";
    if (!GetTempFileNameW(temp, L"", 0, file)) {
        LogMessage(GetLastError(), kLabelPublish, L"Can't create a temporary file in %s", temp);
        return 0;
    }
    XString path(file);
    LoadProductDotINI(path);
    if (IsQuillonConfiguration()) ConfigureQuillonAttributes(path);

    std::vector<wchar_t> section(kSectionChars, L'\0');
    DWORD chars = GetPrivateProfileSectionW(L"version", section.data(), kSectionChars, file);
    if (chars == 0) {
        LogMessage(0, kLabelPublish, L"Can't load 'version' from %s", file);
        return 0;
    }
    LogMessage(0, kLabelPublish, L"Attributes list (%s):", file);

    int count = 0;
    for (const wchar_t* line = section.data(); *line; line += wcslen(line) + 1) {
        const wchar_t* eq = wcschr(line, L'=');
        if (!eq) continue;
        std::wstring key(line, eq);
        if (SetProperty(key.c_str(), eq + 1, true) != ERROR_SUCCESS) LogMessage(0, kLabelPublish, L"SetProperty failed\n");
        ++count;
    }
    return count;
}
