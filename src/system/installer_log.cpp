// The installer's own verbose log: its policy, the newest log and a shortcut
// to it beside the install log.
#include <objbase.h>
#include <shlobj.h>

#include "log/install_log.h"
#include "regdb/regdb.h"
#include "system/system.h"
#include "util/files.h"

namespace {

const wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\Microsoft\\Windows\\Installer";
const wchar_t kAllLogging[] = L"voicewarmup";

// Spelled out so that nothing but the system libraries is linked.
const CLSID kShellLink = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kShellLinkW = {0x000214F9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kPersistFile = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

HRESULT CreateShellLink(const wchar_t* target, const wchar_t* shortcut, const wchar_t* description, IShellLinkW* link) {
    IPersistFile* file = nullptr;
    HRESULT hr = link->QueryInterface(kPersistFile, reinterpret_cast<void**>(&file));
    if (FAILED(hr)) return hr;
    hr = link->SetPath(target);
    if (SUCCEEDED(hr)) hr = link->SetDescription(description);
    if (SUCCEEDED(hr)) {
        wchar_t path[MAX_PATH] = L"";
        wcsncpy(path, shortcut, MAX_PATH - 1);
        hr = file->Save(path, TRUE);
    }
    file->Release();
    return hr;
}

// A user may put an MSI*.LOG of their own, or a link, into a temporary
// directory that SYSTEM uses. The installer writes its log as the account
// that runs it: SYSTEM (or, by default owner, the Administrators) in the
// service, the running account in a client process.
bool IsInstallersLog(const XString& dir, const wchar_t* name, const XString& account) {
    const std::wstring path = std::wstring(dir.wvalue()) + L"\\" + name;
    LinkFinding finding;
    KernelHandle file = OpenWithoutLinks(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING, 0,
                                         L"", &finding);
    if (!file && !finding) return false;  // gone meanwhile
    const std::wstring refusal = finding ? finding.text : ForeignOwner(file.get(), account, L"the running account");
    if (refusal.empty()) return true;
    LogMessage(0, L"FindLastMSILogFile", L"%s %s; no shortcut is made to it", path.c_str(), refusal.c_str());
    return false;
}

}  // namespace

bool IsMSILoggingEnabled() {
    DWORD type = 0, size = 0;
    XString value;
    return TamberRegDB(HKEY_LOCAL_MACHINE).GetKeyValueEx(kPolicyKey, L"Logging", &type, &value, &size) == ERROR_SUCCESS;
}

void EnableMSILogging() { setRegistryStringValue(HKEY_LOCAL_MACHINE, kPolicyKey, L"Logging", kAllLogging); }

DWORD FindLastMSILogFile(XString* path) {
    const wchar_t kLabel[] = L"FindLastMSILogFile";
    XString dir(L"%TEMP%");
    Tamber_ExpandEnvironmentStrings(dir);
    XString pattern = dir + L"\\MSI*.LOG";
    WIN32_FIND_DATAW entry;
    FindHandle find(pattern.wvalue(), &entry);
    if (!find.ok()) {
        DWORD error = GetLastError();
        LogMessage(0, kLabel, L"Can't find files at pattern: %s\n", pattern.wvalue());
        return error;
    }
    FILETIME best = {0, 0};
    std::wstring name;
    const XString account = CurrentAccountSid();
    do {
        // Of equal creation times the first found stays.
        if (CompareFileTime(&entry.ftCreationTime, &best) > 0 && IsInstallersLog(dir, entry.cFileName, account)) {
            best = entry.ftCreationTime;
            name = entry.cFileName;
        }
    } while (find.Next(&entry));
    if (name.empty()) {
        LogMessage(0, kLabel, L"Can't find files at pattern: %s\n", pattern.wvalue());
        return ERROR_FILE_NOT_FOUND;
    }
    LogMessage(0, kLabel, L"The latest MSI log file is: %s\n", name.c_str());
    *path = dir + L"\\" + name.c_str();
    return 0;
}

bool ShortcutCreate(const wchar_t* target, const wchar_t* shortcut, const wchar_t* description) {
    LogMessage(0, L"ShortcutCreate", L"Creating link %s to %s ...", shortcut, target);
    if (CoInitialize(nullptr) != S_OK) return false;
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(kShellLink, nullptr, CLSCTX_INPROC_SERVER, kShellLinkW, reinterpret_cast<void**>(&link)))) {
        CoUninitialize();
        return false;
    }
    HRESULT hr = CreateShellLink(target, shortcut, description, link);
    link->Release();
    CoUninitialize();
    return SUCCEEDED(hr);
}

int CopyMSILogFile() {
    const wchar_t kLabel[] = L"CopyMSILogFile";
    XString shortcut = GetProgramFilesDir() + L"Halvora\\HVInstLog\\MsiLogFile.lnk";
    if (!IsMSILoggingEnabled()) {
        LogMessage(0, kLabel,
                   L"The registry isn't set to enable MSI logging. Setting: SOFTWARE\\Policies\\Microsoft\\Windows\\"
                   L"Installer => Logging To \"voicewarmup\" For the next installation");
        EnableMSILogging();
        return -1;
    }
    EnableMSILogging();
    XString log;
    if (FindLastMSILogFile(&log) != 0) {
        LogMessage(0, kLabel, L"Can't find the lat MSI log file");
        return -1;
    }
    LogMessage(0, kLabel, L"\n<<<<< The MSI log file of this installation is: %s >>>>>\n", log.wvalue());
    HV_DeleteFile(shortcut);
    ShortcutCreate(log.wvalue(), shortcut.wvalue(), L"Shortcut to VG/VN MSI installation log file");
    return 0;
}
