#include <cwchar>
#include <string>

#include "upgrade/upgrade.h"
#include "util/handles.h"

namespace {

const wchar_t* const kKeptExtensions[] = {L".epf", L".pfx", L".p12"};

bool EndsWithExtension(const wchar_t* name, const wchar_t* extension) {
    size_t n = wcslen(name);
    return n > 4 && _wcsicmp(name + n - 4, extension) == 0;
}

bool IsCertificate(const wchar_t* name) {
    for (const wchar_t* ext : kKeptExtensions)
        if (EndsWithExtension(name, ext)) return true;
    return false;
}

}  // namespace

void RenameToOld(const wchar_t* file) {
    std::wstring target = std::wstring(file) + L".old";
    DeleteFileW(target.c_str());
    _wrename(file, target.c_str());
}

int DeleteDirTree(const wchar_t* path) {
    if (!path || !*path || wcslen(path) >= MAX_PATH) return -1;
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileW(path) ? 0 : -1;

    const std::wstring dir(path);
    WIN32_FIND_DATAW entry;
    FindHandle find((dir + L"\\*.*").c_str(), &entry);
    for (bool more = find.ok(); more; more = find.Next(&entry)) {
        std::wstring child = dir + L"\\" + entry.cFileName;
        if (child.size() >= MAX_PATH) return -1;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A junction or link: remove the link, never what it points at.
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryW(child.c_str());
            else DeleteFileW(child.c_str());
        } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0) DeleteDirTree(child.c_str());
        } else if (IsCertificate(entry.cFileName)) {
            continue;  // certificates outlive the installation
        } else if (EndsWithExtension(entry.cFileName, L".old")) {
            DeleteFileW(child.c_str());
        } else if (!DeleteFileW(child.c_str())) {
            RenameToOld(child.c_str());  // in use: gone at the next run
        }
    }
    return RemoveDirectoryW(path) ? 0 : -1;
}
