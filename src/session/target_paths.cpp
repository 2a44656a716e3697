#include <vector>

#include "deferred/deferred.h"
#include "log/install_log.h"
#include "session/container_read.h"
#include "session/session.h"

namespace {

const wchar_t kLabel[] = L"GetTargetPath";
constexpr DWORD kFirstReadChars = 200;

const wchar_t* DescribeFailure(UINT result) {
    switch (result) {
        case ERROR_DIRECTORY: return L"The directory specified was not found in the Directory table. ";
        case ERROR_INVALID_HANDLE: return L"An invalid or inactive handle was supplied. ";
        case ERROR_INVALID_PARAMETER: return L"An invalid parameter was supplied. ";
        case ERROR_MORE_DATA: return L"The buffer passed in was too small to hold the entire value. ";
        default: return nullptr;
    }
}

// The engine's answer, read again with room for it when the first buffer is
// too small (`grew`).
UINT QueryTargetPath(const wchar_t* directory, std::vector<wchar_t>& buffer, bool* grew) {
    buffer.assign(kFirstReadChars, L'\0');
    DWORD chars = kFirstReadChars;
    UINT result = MsiGetTargetPathW(g_hMsi, directory, buffer.data(), &chars);
    *grew = result == ERROR_MORE_DATA;
    if (*grew) {
        buffer.assign(++chars, L'\0');
        result = MsiGetTargetPathW(g_hMsi, directory, buffer.data(), &chars);
    }
    return result;
}

}  // namespace

UINT GetTargetPath(XString directory, XString* path) {
    if (g_hMsi == 0) {
        LogMessage(0, kLabel, L"<%s>", L"g_hMsi==NULL");
        return ERROR_INVALID_HANDLE;
    }
    if (!path) {
        LogMessage(0, kLabel, L"<%s>", L"wsTargetPath==NULL");
        return ERROR_INVALID_HANDLE;
    }
    directory.setEncoding(XString::Unicode);
    if (IsUseCAD()) return ReadFromContainer(kLabel, directory, path);

    std::vector<wchar_t> buffer;
    bool grew = false;
    UINT result = QueryTargetPath(directory.wvalue(), buffer, &grew);
    if (grew) LogMessage(0, kLabel, L"uRet==ERROR_MORE_DATA");
    if (result == ERROR_SUCCESS) {
        *path = XString(buffer.data());
    } else {
        LogMessage(0, kLabel, L"uRet!=ERROR_SUCCESS");
        if (const wchar_t* why = DescribeFailure(result)) LogMessage(0, kLabel, L"%s", why);
        *path = XString();
    }
    LogMessage(0, kLabel, L"<%s>", path->wvalue());
    return result;
}

XString GetTargetPathUnlogged(const wchar_t* directory) {
    if (g_hMsi == 0) return XString();
    std::vector<wchar_t> buffer;
    bool grew = false;
    return QueryTargetPath(directory, buffer, &grew) == ERROR_SUCCESS ? XString(buffer.data()) : XString();
}

UINT SetTargetPath(XString directory, XString path) {
    if (g_hMsi == 0) return ERROR_INVALID_HANDLE;
    directory.setEncoding(XString::Unicode);
    path.setEncoding(XString::Unicode);
    TheCADContainer().Set(directory, path);
    return MsiSetTargetPathW(g_hMsi, directory.wvalue(), path.wvalue());
}
