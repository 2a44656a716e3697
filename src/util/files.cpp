#include <memory>
#include <new>

#include "log/install_log.h"
#include "util/files.h"

int Tamber_ExpandEnvironmentStrings(XString& text) {
    const wchar_t kLabel[] = L"Tamber_ExpandEnvironmentStrings";
    XString source = Widened(text);
    wchar_t probe[1];
    DWORD size = ExpandEnvironmentStringsW(source.wvalue(), probe, 1);
    if (size == 0) {
        LogMessage(GetLastError(), kLabel, L"ExpandEnvironmentStrings has failed");
        return 0;
    }
    std::unique_ptr<wchar_t[]> expanded(new (std::nothrow) wchar_t[size]);
    if (!expanded) {
        LogMessage(ERROR_NOT_ENOUGH_MEMORY, kLabel, L"Can't allocate %d WCHARs", static_cast<int>(size));
        return 0;
    }
    DWORD done = ExpandEnvironmentStringsW(source.wvalue(), expanded.get(), size);
    if (done == 0 || done > size) {
        LogMessage(GetLastError(), kLabel, L"ExpandEnvironmentStrings has failed. size is: %d", static_cast<int>(size));
        return 0;
    }
    text = XString(expanded.get());
    return 1;
}

namespace {

// The failure line says "file" for directories too.
BOOL LoggedDelete(const wchar_t* label, BOOL(WINAPI* remove)(LPCWSTR), const wchar_t* deleted, XString path) {
    path = Widened(path);
    BOOL ok = remove(path.wvalue());
    if (ok) LogMessage(0, label, L"Successfuly deleted %s <%s>", deleted, path.wvalue());
    else LogMessage(GetLastError(), label, L"failed to delete file  <%s>", path.wvalue());
    return ok;
}

}  // namespace

BOOL HV_DeleteFile(XString path) { return LoggedDelete(L"HV_DeleteFile", DeleteFileW, L"file", path); }

BOOL HV_DeleteDir(XString path) { return LoggedDelete(L"HV_DeleteDir", RemoveDirectoryW, L"dir", path); }

namespace {

BOOL LoggedCopy(XString source, XString destination, BOOL failIfExists) {
    source = Widened(source);
    destination = Widened(destination);
    BOOL ok = CopyFileW(source.wvalue(), destination.wvalue(), failIfExists);
    if (ok)
        LogMessage(0, L"HV_CopyFile", L"Successfuly copied <%s> to <%s>", source.wvalue(), destination.wvalue());
    else
        LogFailedCopy(GetLastError(), source, destination);
    return ok;
}

}  // namespace

BOOL HV_CopyFile(XString source, XString destination) { return LoggedCopy(source, destination, FALSE); }

BOOL HV_CopyFileToNew(XString source, XString destination) { return LoggedCopy(source, destination, TRUE); }

void LogFailedCopy(DWORD error, XString source, XString destination) {
    source = Widened(source);
    destination = Widened(destination);
    LogMessage(error, L"HV_CopyFile", L"failed to copy <%s> to <%s>", source.wvalue(), destination.wvalue());
}

int GetExpandedShortPath(const wchar_t* path, wchar_t* out) {
    if (!path || !out) return -1;
    wchar_t expanded[kShortPathChars + 1];
    DWORD needed = ExpandEnvironmentStringsW(path, expanded, kShortPathChars + 1);
    if (needed == 0 || needed > kShortPathChars) return -1;
    DWORD written = GetShortPathNameW(expanded, out, kShortPathChars);
    if (written == 0 || written >= kShortPathChars) return -1;
    return 0;
}

bool NarrowPath(const wchar_t* label, const std::wstring& path, size_t bytes, std::string* out) {
    // A best-fit letter would name another file: U+2215 becomes '/'.
    BOOL inexact = FALSE;
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    int needed = WideCharToMultiByte(CP_ACP, flags, path.c_str(), -1, nullptr, 0, nullptr, &inexact);
    if (needed == 0 && GetLastError() == ERROR_INVALID_FLAGS) {  // a UTF-8 code page is exact anyway
        flags = 0;
        inexact = FALSE;
        needed = WideCharToMultiByte(CP_ACP, flags, path.c_str(), -1, nullptr, 0, nullptr, nullptr);
    }
    if (needed <= 0 || inexact) {
        LogMessage(0, label, L"%s cannot be named exactly in the 8-bit code page; it is not used", path.c_str());
        return false;
    }
    if (static_cast<size_t>(needed) > bytes) {
        LogMessage(0, label, L"%s is longer than %d characters; it is not used", path.c_str(),
                   static_cast<int>(bytes) - 1);
        return false;
    }
    std::string narrow(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, flags, path.c_str(), -1, &narrow[0], needed, nullptr, flags ? &inexact : nullptr);
    narrow.resize(static_cast<size_t>(needed) - 1);
    *out = narrow;
    return true;
}
