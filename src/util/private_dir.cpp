// Directories for SYSTEM's work where any user could otherwise write: their
// access list is set as they are made, so there is no moment in which a user
// could open, fill or replace them.
#include <windows.h>
#include <sddl.h>
#include <wincrypt.h>

#include <string>

#include "util/files.h"
#include "util/handles.h"

namespace {

const wchar_t kPrivateDacl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
const wchar_t kLocalSystem[] = L"S-1-5-18";
constexpr int kRandomBytes = 8;
// A name already taken means someone guessed it; a few more draws end that.
constexpr int kNameDraws = 4;

// Random hexadecimal digits from the system's generator, or its error: a
// guessable name is what this must avoid, so there is no fallback.
DWORD RandomHex(std::wstring* hex) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        return GetLastError();
    BYTE bytes[kRandomBytes] = {};
    const DWORD error = CryptGenRandom(provider, sizeof bytes, bytes) ? ERROR_SUCCESS : GetLastError();
    CryptReleaseContext(provider, 0);
    hex->clear();
    for (BYTE b : bytes) {
        hex->push_back(L"0123456789abcdef"[b >> 4]);
        hex->push_back(L"0123456789abcdef"[b & 15]);
    }
    return error;
}

}  // namespace

DWORD CreatePrivateDirectory(const std::wstring& path) {
    std::wstring sddl = kPrivateDacl;
    const XString caller = CurrentAccountSid();
    if (caller.length() > 0 && !caller.equalsIgnoreCase(kLocalSystem))
        sddl += std::wstring(L"(A;OICI;FA;;;") + caller.wvalue() + L")";
    LocalMemory<void> descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor.out(), nullptr))
        return GetLastError();
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor.get(), FALSE};
    return CreateDirectoryW(path.c_str(), &security) ? ERROR_SUCCESS : GetLastError();
}

DWORD CreateFreshPrivateDirectory(const std::wstring& parent, const wchar_t* prefix, std::wstring* made) {
    DWORD error = ERROR_ALREADY_EXISTS;
    for (int i = 0; i < kNameDraws && error == ERROR_ALREADY_EXISTS; ++i) {
        std::wstring hex;
        error = RandomHex(&hex);
        *made = error ? L"" : parent + prefix + hex;
        if (!error) error = CreatePrivateDirectory(*made);
    }
    return error;
}
