#include <string>
#include <vector>

#include "log/install_log.h"
#include "regdb/regdb.h"
#include "system/system.h"
#include "util/handles.h"

namespace {

const wchar_t kEnvironmentKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

std::wstring Lower(const std::wstring& text) {
    XString lowered(text.c_str());
    lowered.toLowerCase();
    return lowered.wvalue();
}

}  // namespace

int AddInstDirToPath(const wchar_t* installDir) {
    const wchar_t kLabel[] = L"AddInstDirToPath";
    if (!installDir) {
        LogMessage(0, kLabel, L"InstPath is null");
        return -1;
    }
    DWORD needed = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (needed == 0) {
        LogMessage(GetLastError(), kLabel, L"Failed to get lenth of PATh environmnet variable");
        return -1;
    }
    std::vector<wchar_t> buffer(needed, L'\0');
    DWORD got = GetEnvironmentVariableW(L"PATH", buffer.data(), needed);
    if (got > needed) {
        LogMessage(0, kLabel, L"Error: The length of PATH is larger then we thought...");
        return -1;
    }
    const std::wstring path(buffer.data());
    LogMessage(0, kLabel, L"Original PATH is: %s", path.c_str());

    std::wstring entry(installDir);
    if (entry.empty() || entry.back() != L'\\') entry += L'\\';
    entry += L"bin";
    const std::wstring lowEntry = Lower(entry), lowPath = Lower(path);
    LogMessage(0, kLabel, L"Looking for %s in %s", lowEntry.c_str(), lowPath.c_str());
    // A plain substring test: "...\bin2" holds "...\bin" too.
    if (lowPath.find(lowEntry) != std::wstring::npos) {
        LogMessage(0, kLabel, L"We are already in the path");
        return 1;
    }
    LogMessage(0, kLabel, L"We are not in the PATH. Will add ourselves");
    const std::wstring updated = entry + L";" + path;
    if (!SetEnvironmentVariableW(L"PATH", updated.c_str())) {
        LogMessage(GetLastError(), kLabel, L"Failed to set the new PATH");
        return -1;
    }
    LogMessage(0, kLabel, L"New PATH is: %s", updated.c_str());
    return 1;
}

int DeleteFromEnvironmentPath(XString entry) {
    const wchar_t kLabel[] = L"DeleteFromEnvironmentPath";
    entry.setEncoding(XString::Unicode);
    LogMessage(0, kLabel, L"deleteDir=%s", entry.wvalue());
    LogMessage(0, kLabel, L"get path from registry");
    DWORD type = 0, size = 0;
    XString stored;
    LONG result = TamberRegDB(HKEY_LOCAL_MACHINE).GetKeyValueEx(kEnvironmentKey, L"Path", &type, &stored, &size);
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabel, L"Failed to get path from registry");
        return 0;
    }
    LogMessage(0, kLabel, L"path before=%s\n", stored.wvalue());

    const std::wstring pattern = std::wstring(entry.wvalue()) + L";";
    std::wstring work = L";" + std::wstring(stored.wvalue()) + L";";
    const std::wstring lowPattern = Lower(pattern);
    std::wstring lowWork = Lower(work);
    LogMessage(0, kLabel, L"Looking for %s in %s", lowPattern.c_str(), lowWork.c_str());
    size_t at = lowWork.find(lowPattern);
    if (at == std::wstring::npos) {
        LogMessage(0, kLabel, L"Not In the PATH");
        return 1;
    }
    for (; at != std::wstring::npos; at = lowWork.find(lowPattern)) {
        work.erase(at, pattern.size());
        lowWork.erase(at, pattern.size());
    }
    if (!work.empty() && work.back() == L';') work.pop_back();
    if (!work.empty() && work.front() == L';') work.erase(0, 1);
    LogMessage(0, kLabel, L"path after=%s\n", work.c_str());

    RegKey key;
    result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kEnvironmentKey, 0, KEY_WRITE, key.out());
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabel, L"RegOpenKeyEx failed. Failed to set path to registry");
        return 0;
    }
    result = RegSetValueExW(key.get(), L"Path", 0, type, reinterpret_cast<const BYTE*>(work.c_str()),
                            static_cast<DWORD>((work.size() + 1) * sizeof(wchar_t)));
    if (result != ERROR_SUCCESS) {
        LogMessage(result, kLabel, L"RegSetValueEx failed. Failed to set path to registry");
        return 0;
    }
    return 1;
}
