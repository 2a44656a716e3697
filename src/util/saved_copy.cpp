#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "log/install_log.h"
#include "util/decimal.h"
#include "util/files.h"

namespace {

// SYSTEM and Administrators: a local user can make neither the owner.
const wchar_t* const kTrustedOwners[] = {L"S-1-5-18", L"S-1-5-32-544"};

SavedCopyState Refuse(const wchar_t* label, const XString& path, DWORD error, const std::wstring& finding) {
    const std::wstring whole = path.wvalue();
    const size_t cut = whole.find_last_of(L'\\') + 1;  // 0 without a backslash
    LogMessage(error, label, L"%s in %s %s; it is not restored", whole.substr(cut).c_str(),
               whole.substr(0, cut).c_str(), finding.c_str());
    return SavedCopyState::kRefused;
}

SavedCopyState Examine(const wchar_t* label, const SavedCopy& record, const XString& path, KernelHandle* held) {
    // The name itself, not what a link there points to; a directory opens
    // too, to be named. Read access makes the share mode bind others.
    held->reset(CreateFileW(path.wvalue(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!*held) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return SavedCopyState::kMissing;
        return Refuse(label, path, error, L"cannot be examined");
    }
    if (record.path.length() == 0 || !path.equalsIgnoreCase(Widened(record.path)))
        return Refuse(label, path, 0, L"was not saved by this run");
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(held->get(), &info))
        return Refuse(label, path, GetLastError(), L"cannot be examined");
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
        return Refuse(label, path, 0, L"is a directory or a reparse point, not a plain file");
    if (info.nNumberOfLinks != 1)
        return Refuse(label, path, 0, L"has " + DecimalText(info.nNumberOfLinks) + L" links, not one");
    const std::wstring owner = ForeignOwner(held->get(), Widened(record.saver), L"the account that saved it");
    if (!owner.empty()) return Refuse(label, path, 0, owner);
    return SavedCopyState::kTrusted;
}

}  // namespace

std::wstring ForeignOwner(HANDLE object, const XString& account, const wchar_t* whom) {
    PSID sid = nullptr;
    LocalMemory<void> descriptor;
    XString owner(L"");
    if (GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &sid, nullptr, nullptr, nullptr,
                        descriptor.out()) == ERROR_SUCCESS)
        owner = SidText(sid);
    if (owner.length() > 0) {
        for (const wchar_t* trusted : kTrustedOwners)
            if (owner.equalsIgnoreCase(XString(trusted))) return {};
        if (account.length() > 0 && owner.equalsIgnoreCase(account)) return {};
    }
    return std::wstring(L"is owned by ") + (owner.length() ? owner.wvalue() : L"an unknown account") +
           L", not by SYSTEM, Administrators or " + whom;
}

XString SidText(PSID sid) {
    LocalMemory<wchar_t> text;
    if (!sid || !ConvertSidToStringSidW(sid, text.out())) return XString(L"");
    return XString(text.get());
}

XString CurrentAccountSid() {
    HANDLE raw = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &raw) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw))
        return XString(L"");
    KernelHandle token(raw);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return XString(L"");
    return SidText(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid);
}

SavedCopyState OpenSavedCopy(const wchar_t* label, const SavedCopy& record, XString path, KernelHandle* held) {
    path.setEncoding(XString::Unicode);
    const SavedCopyState state = Examine(label, record, path, held);
    if (state != SavedCopyState::kTrusted) held->reset();
    return state;
}
