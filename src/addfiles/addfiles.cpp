#include <cwchar>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "addfiles/addfiles.h"
#include "deferred/deferred.h"
#include "log/install_log.h"
#include "session/session.h"
#include "upgrade/upgrade.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

const wchar_t kLabel[] = L"InstallAdditionalFileFromBinaryTable";
const wchar_t kInternal[] = L"HVINSTADDINT_";
const wchar_t kExternal[] = L"HVINSTADDEXT_";
constexpr size_t kPrefixChars = 13;
const wchar_t kTempDirProperty[] = L"AddFilesTempDir";
constexpr DWORD kUnknownSizeBytes = 500000;
constexpr DWORD kTempPathChars = 1000;
const wchar_t kStoreLabel[] = L"StoreAdditionalFileFromBinaryTable";
// The extraction directory's name: its prefix, then random digits.
const wchar_t kTempDirPrefix[] = L"TamberAdd";

bool HasPrefix(const std::wstring& name, const wchar_t* prefix) {
    return name.size() > kPrefixChars && name.compare(0, kPrefixChars, prefix) == 0;
}

// A name that stays inside its folder: a Binary row must not write elsewhere.
bool IsPlainFileName(const std::wstring& name) {
    return !name.empty() && name != L"." && name.find_first_of(L"\\/:") == std::wstring::npos &&
           name.find(L"..") == std::wstring::npos;
}

// The names GetTempFileNameW gives without a prefix: up to four hex digits and ".tmp".
bool IsTempFileName(const std::wstring& name) {
    const size_t digits = name.size() - 4;
    return name.size() > 4 && digits <= 4 && _wcsicmp(name.c_str() + digits, L".tmp") == 0 &&
           name.find_first_not_of(L"0123456789abcdefABCDEF") == digits;
}

// A file the extraction wrote and mapped; the container also holds every
// other property, so a planted file named after one must not pass.
bool WasExtracted(const std::wstring& name) {
    return IsTempFileName(name) && GetCADValue(name.c_str()).length() > 0;
}

// A directory that this call created, at a name nobody can guess and that
// only SYSTEM, the Administrators and this account can write from its first
// moment. SYSTEM's temporary directory is open to every user: one who made
// the directory first, or a mount point of it while empty, could rewrite the
// files before the deferred copy takes them into the client.
bool CreateFreshTempDir(std::wstring* dir) {
    wchar_t temp[kTempPathChars] = L"";
    GetTempPathW(kTempPathChars, temp);
    const DWORD error = CreateFreshPrivateDirectory(temp, kTempDirPrefix, dir);
    if (error == ERROR_SUCCESS) return true;
    LogMessage(0, kStoreLabel, L"Failed to create a temporary directory %s (rc=%d)",
               dir->empty() ? temp : dir->c_str(), static_cast<int>(error));
    return false;
}

// Without a directory of this run, a value that came in with the container
// (from the Property table or an earlier run) must not reach DeleteDirTree.
void ForgetForeignTempDir() {
    const XString foreign = GetCADValue(kTempDirProperty);
    if (foreign.length() == 0) return;
    LogMessage(0, kStoreLabel, L"Ignoring AddFilesTempDir=%s: this run did not create it; it will not be deleted",
               foreign.wvalue());
    TheCADContainer().Set(kTempDirProperty, XString(L""));
}

// Extracts one row into a new file of `dir`; the file's name, or empty.
std::wstring ExtractRow(MSIHANDLE record, const std::wstring& dir, const XString& installed) {
    DWORD size = MsiRecordDataSize(record, 2);
    if (size == 0) size = kUnknownSizeBytes;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size]);
    if (!buffer) {
        LogMessage(0, kLabel, L"Cant allocate buffer for cashing the file: <%s>\n", installed.wvalue());
        return L"";
    }
    wchar_t file[MAX_PATH] = L"";
    GetTempFileNameW(dir.c_str(), L"", 0, file);
    LogMessage(0, kLabel, L"copy file to: %s\n", file);
    FileStream out(_wfopen(file, L"wb"));
    if (!out) {
        LogMessage(0, kLabel, L"Cant open file for writing the file: <%s>\n", installed.wvalue());
        return L"";
    }
    DWORD bytes = size;
    UINT result = MsiRecordReadStream(record, 2, buffer.get(), &bytes);
    if (result != ERROR_SUCCESS) {
        LogMessage(0, kLabel, L"Failed to MsiRecordSetStream, error: %d\n", result);
        return L"";
    }
    fwrite(buffer.get(), 1, bytes, out.get());
    std::wstring path(file);
    return path.substr(path.find_last_of(L'\\') + 1);
}

// Extracts every additional file of the Binary view into `dir` and records
// each file's installed name under the file's own name.
void ExtractRows(MSIHANDLE view, const std::wstring& dir, UINT* last) {
    MsiHandle record;
    while (MsiViewFetch(view, record.out()) == ERROR_SUCCESS) {
        wchar_t rowName[200] = L"";
        DWORD chars = 200;
        UINT result = MsiRecordGetStringW(record.get(), 1, rowName, &chars);
        if (result != ERROR_SUCCESS) {
            LogMessage(0, kLabel, L"Failed to MsiRecordGetString, error: %d\n", result);
            *last = result;
            continue;
        }
        XString installed = InstalledFileName(rowName);
        if (installed.length() == 0) continue;
        if (!IsPlainFileName(installed.wvalue())) {
            LogMessage(0, kLabel, L"Refused BinaryFileName=%s: its file name %s would leave its folder; not extracted",
                       rowName, installed.wvalue());
            continue;
        }
        LogMessage(0, kLabel, L"BinaryFileName=%s => InstalledFileName=%s", rowName, installed.wvalue());
        std::wstring extracted = ExtractRow(record.get(), dir, installed);
        if (!extracted.empty()) SetProperty(extracted.c_str(), installed, true);
    }
}

}  // namespace

XString InstalledFileName(const XString& binaryName) {
    XString w = binaryName;
    w.setEncoding(XString::Unicode);
    std::wstring name = w.wvalue();
    if (HasPrefix(name, kExternal)) return XString(name.substr(kPrefixChars).c_str());
    if (!HasPrefix(name, kInternal)) return XString(L"");
    std::wstring rest = name.substr(kPrefixChars);
    size_t last = rest.find_last_of(L'_');
    if (last != std::wstring::npos) rest[last] = L'.';
    if (rest == L"product_ini.simp") rest = L"product.ini.simp";
    return XString(rest.c_str());
}

UINT StoreAdditionalFileFromBinaryTable() {
    if (g_hMsi == 0) return ERROR_INVALID_HANDLE;
    UINT last = ERROR_SUCCESS;
    MsiHandle database(MsiGetActiveDatabase(g_hMsi));
    MsiHandle view;
    if (database) last = OpenTwoColumnView(database.get(), L"SELECT * FROM Binary", kLabel, view);
    std::wstring dir;
    if (view && CreateFreshTempDir(&dir)) {
        SetProperty(kTempDirProperty, dir.c_str(), true);
        ExtractRows(view.get(), dir, &last);
    } else {
        ForgetForeignTempDir();
        if (view) return 1;  // the directory could not be made
    }
    LogMessage(0, kLabel, L"Done.\n");
    return last;
}

int InstallAdditionalFileFromBinaryTable(const XString& installDir) {
    XString dir;
    if (GetProperty(kTempDirProperty, &dir) != ERROR_SUCCESS || dir.length() == 0) {
        LogMessage(0, kLabel, L"Failed to retrieve temp directory name");
        return 1;
    }
    XString target = installDir;
    target.setEncoding(XString::Unicode);
    XString pattern = dir + L"\\*";
    LogMessage(0, kLabel, L"Looking for customized files in %s", pattern.wvalue());
    WIN32_FIND_DATAW entry;
    FindHandle find(pattern.wvalue(), &entry);
    if (!find.ok()) {
        LogMessage(0, kLabel, L"Failed to retieve handle to first file");
        return 1;
    }
    do {
        const std::wstring name = entry.cFileName;
        // Anyone who can write to the temporary folder can add files here;
        // only those the extraction mapped are the package's.
        if (name != L"." && name != L".." && !WasExtracted(name)) {
            LogMessage(0, kLabel, L"Skipped %s in %s: this installation did not extract it; not copied", name.c_str(),
                       dir.wvalue());
            continue;
        }
        XString installed;
        if (GetProperty(entry.cFileName, &installed) != ERROR_SUCCESS || installed.length() == 0) {
            LogMessage(0, kLabel, L"Failed to retrieve real file name for %s", entry.cFileName);
            continue;
        }
        XString sub(L"");
        GetCustomFileSubDir(installed, &sub);
        XString source = dir + L"\\" + entry.cFileName;
        XString destination = target + sub + installed;
        LogMessage(0, kLabel, L"Copying %s to %s", source.wvalue(), destination.wvalue());
        if (!CopyFileW(source.wvalue(), destination.wvalue(), FALSE))
            LogMessage(GetLastError(), kLabel, L"Error ! Failed to copy %s to %s", source.wvalue(), destination.wvalue());
    } while (find.Next(&entry));
    return 0;
}
