#include "log/install_log.h"
#include "util/files.h"

namespace {

struct Version {
    DWORD major = 0;
    DWORD minor = 0;
    DWORD servicePack = 0;
};

// Every predicate reports the version it judged and its verdict.
Version LoggedVersion(const wchar_t* label) {
    Version v;
    GetOSVersion(&v.major, &v.minor, &v.servicePack);
    LogMessage(0, label, L"Running on Windows version: %d.%d service pack: %d.", static_cast<int>(v.major),
               static_cast<int>(v.minor), static_cast<int>(v.servicePack));
    return v;
}

bool Verdict(const wchar_t* label, bool yes) {
    LogMessage(0, label, yes ? L"TRUE" : L"FALSE");
    return yes;
}

}  // namespace

bool GetOSVersion(DWORD* major, DWORD* minor, DWORD* servicePack) {
    DWORD ignored = 0;
    if (!major) major = &ignored;
    if (!minor) minor = &ignored;
    if (!servicePack) servicePack = &ignored;
    *major = *minor = *servicePack = 0;

    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    bool extended = GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
    if (!extended) {
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
    }
    if (info.dwPlatformId != VER_PLATFORM_WIN32_NT) return false;
    *major = info.dwMajorVersion;
    *minor = info.dwMinorVersion;
    if (extended) *servicePack = info.wServicePackMajor;
    return true;
}

bool isVista() {
    Version v = LoggedVersion(L"isVista");
    return Verdict(L"isVista", v.major == 6);
}

bool isXP() {
    Version v = LoggedVersion(L"isXP");
    return Verdict(L"isXP", v.major == 5 && v.minor == 1);
}

bool is2KorXP() {
    Version v = LoggedVersion(L"is2KorXP");
    return Verdict(L"is2KorXP", v.major == 5);
}
