#include <cwchar>
#include <string>

#include "log/install_log.h"
#include "upgrade/upgrade.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

const wchar_t kLabel[] = L"DeleteDirTree";

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

namespace {

// A link is removed itself (a directory link only as a directory), never what
// it leads to. One that only its final path betrays, Wine's Unix symlink,
// stays: every call there would follow it.
bool RemoveLink(const std::wstring& path, DWORD attributes, const LinkFinding& finding) {
    const bool removed = finding.kind == LinkFinding::kReparsePoint &&
                         ((attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(path.c_str())
                                                                  : DeleteFileW(path.c_str()));
    LogMessage(0, kLabel, removed ? L"%s %s; removed the link, not what it leads to"
                                  : L"%s %s; left it and what it leads to alone",
               path.c_str(), finding.text.c_str());
    return removed;
}

// Deletes what a listing (or the caller) named `path`, of the listed
// attributes, at `expected` (a final path; empty when unknown), after a look
// through a handle on the object itself.
int DeleteEntry(const std::wstring& path, const wchar_t* name, DWORD listed, const std::wstring& expected) {
    const bool directory = listed & FILE_ATTRIBUTE_DIRECTORY;
    LinkFinding finding;
    // A directory is held without delete sharing while its entries go, so it
    // cannot be renamed or replaced meanwhile; a file is only looked at, which
    // works on one in use too.
    KernelHandle handle = OpenWithoutLinks(
        path, directory ? FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES : FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | (directory ? 0 : FILE_SHARE_DELETE), OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS, expected, &finding);
    if (finding.kind == LinkFinding::kHardLinked) finding = LinkFinding();  // deleting one name spares the others
    if (finding) {
        handle.reset();
        return RemoveLink(path, listed, finding) ? 0 : -1;
    }
    if (!directory) {
        handle.reset();
        if (IsCertificate(name)) return -1;  // certificates outlive the installation
        if (EndsWithExtension(name, L".old")) return DeleteFileW(path.c_str()) ? 0 : -1;
        if (DeleteFileW(path.c_str())) return 0;
        RenameToOld(path.c_str());  // in use: gone at the next run
        return -1;
    }
    if (!handle) return -1;

    const bool walked = ForEachEntry(path, handle.get(), [](const std::wstring& child, const WIN32_FIND_DATAW& entry,
                                                            const std::wstring& expected) {
        DeleteEntry(child, entry.cFileName, entry.dwFileAttributes, expected);
        return true;
    });
    if (!walked) return -1;
    handle.reset();
    return RemoveDirectoryW(path.c_str()) ? 0 : -1;
}

}  // namespace

int DeleteDirTree(const wchar_t* path) {
    if (!path || !*path || wcslen(path) >= MAX_PATH) return -1;
    // Named as a directory ("C:\dir\link\"), a link would be gone through:
    // the link itself is what gets looked at and removed.
    const std::wstring name = WithoutTrailingBackslash(path);
    DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return -1;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return DeleteFileW(name.c_str()) ? 0 : -1;
    return DeleteEntry(name, L"", attributes, L"");
}
