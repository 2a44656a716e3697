// Built for Vista's types; the Vista functions are looked up, never imported,
// so that the shipped library still loads on Windows XP.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600

#include <cwchar>
#include <string>
#include <vector>

#include "util/decimal.h"
#include "util/files.h"

namespace {

template <typename F> F Kernel32(const char* name) {
    return ProcAddress<F>(GetModuleHandleW(L"kernel32.dll"), name);
}

// Attributes and the number of names of an open object. The Vista call is
// also the quick one: Wine answers GetFileInformationByHandle in half a
// millisecond, too slow for every log line.
bool Examine(HANDLE handle, DWORD* attributes, DWORD* names) {
    static const auto query = Kernel32<decltype(&GetFileInformationByHandleEx)>("GetFileInformationByHandleEx");
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (query && query(handle, FileBasicInfo, &basic, sizeof basic) &&
        query(handle, FileStandardInfo, &standard, sizeof standard)) {
        *attributes = basic.FileAttributes;
        *names = standard.NumberOfLinks;
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return false;
    *attributes = info.dwFileAttributes;
    *names = info.nNumberOfLinks;
    return true;
}

}  // namespace

std::wstring FinalPath(HANDLE handle, const wchar_t* child) {
    static const auto query = Kernel32<decltype(&GetFinalPathNameByHandleW)>("GetFinalPathNameByHandleW");
    if (!query || !handle || handle == INVALID_HANDLE_VALUE) return {};
    std::vector<wchar_t> path(MAX_PATH);
    DWORD n = query(handle, path.data(), static_cast<DWORD>(path.size()), 0);
    if (n >= path.size()) {
        path.resize(n + 1);
        n = query(handle, path.data(), static_cast<DWORD>(path.size()), 0);
    }
    if (n == 0 || n >= path.size()) return {};
    std::wstring out(path.data(), n);
    if (child) out.append(L"\\").append(child);
    return out;
}

std::wstring WithoutTrailingBackslash(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

KernelHandle OpenWithoutLinks(const std::wstring& path, DWORD access, DWORD share, DWORD creation, DWORD flags,
                              const std::wstring& expected, LinkFinding* finding, SECURITY_ATTRIBUTES* security) {
    *finding = LinkFinding();
    const std::wstring name = WithoutTrailingBackslash(path);
    // Wine marks a Unix symlink to a directory only in what the name reports.
    const DWORD named = GetFileAttributesW(name.c_str());
    KernelHandle handle(CreateFileW(name.c_str(), access, share, security, creation,
                                    flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) return handle;
    DWORD attributes = 0, names = 0;
    std::wstring where;
    if (!Examine(handle.get(), &attributes, &names)) {
        finding->kind = LinkFinding::kUnexamined;
        finding->text = L"cannot be examined";
    } else if ((attributes | (named == INVALID_FILE_ATTRIBUTES ? 0 : named)) & FILE_ATTRIBUTE_REPARSE_POINT) {
        finding->kind = LinkFinding::kReparsePoint;
        finding->text = L"is a link or junction (reparse point)";
    } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) && names > 1) {
        finding->kind = LinkFinding::kHardLinked;
        finding->text = L"has " + DecimalText(names) + L" names (hard links)";
    } else if (!expected.empty() && !(where = FinalPath(handle.get())).empty() &&
               _wcsicmp(where.c_str(), expected.c_str()) != 0) {
        finding->kind = LinkFinding::kElsewhere;
        finding->text = L"leads to " + where;
    }
    return handle;
}

bool ForEachEntry(const std::wstring& path, HANDLE held, const EntryVisitor& visit) {
    // Held, the directory keeps its final path while its entries are visited.
    const std::wstring here = FinalPath(held);
    WIN32_FIND_DATAW entry;
    FindHandle find((path + L"\\*.*").c_str(), &entry);
    for (bool more = find.ok(); more; more = find.Next(&entry)) {
        if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
        const std::wstring child = path + L"\\" + entry.cFileName;
        if (child.size() >= MAX_PATH) return false;
        if (!visit(child, entry, here.empty() ? std::wstring() : here + L"\\" + entry.cFileName)) return false;
    }
    return true;
}
