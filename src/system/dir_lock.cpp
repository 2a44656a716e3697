// The installation directory's owner and access list. The deferred handlers
// run as LocalSystem and run, load and apply what the directory holds, so no
// other account may be able to change it.
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "log/install_log.h"
#include "system/system.h"
#include "util/decimal.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

// SYSTEM, Administrators, TrustedInstaller.
const wchar_t* const kTrustedAccounts[] = {L"S-1-5-18", L"S-1-5-32-544",
                                           L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
// Before Vista Power Users may modify Program Files and can make themselves
// administrators anyway.
const wchar_t kPowerUsers[] = L"S-1-5-32-547";
// CREATOR OWNER and OWNER RIGHTS grant whoever owns the object.
const wchar_t* const kOwnerStandIns[] = {L"S-1-3-0", L"S-1-3-4"};

// Changing what the directory holds, or who may.
constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER | DELETE |
                                     FILE_DELETE_CHILD | GENERIC_WRITE | GENERIC_ALL;
// Moving a directory on the path away, so that another can take its place.
constexpr ACCESS_MASK kReplaceRights = DELETE | FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;

// SYSTEM and Administrators full control, Users read and execute, inherited
// by everything inside.
const wchar_t kPackageAccess[] = L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";
const wchar_t kPackageAccessText[] =
    L"its owner is now Administrators and its access list SYSTEM and Administrators full control, Users read and "
    L"execute";

using SecurityDescriptor = LocalMemory<void>;

std::wstring Sid(PSID sid) {
    const XString text = SidText(sid);
    return text.length() ? text.wvalue() : L"(none)";
}

template <size_t N>
bool Listed(const wchar_t* const (&list)[N], const std::wstring& sid) {
    for (const wchar_t* entry : list)
        if (sid == entry) return true;
    return false;
}

class Trust {
public:
    // The account this code runs as (SYSTEM in a deferred handler) gains
    // nothing from what only it can write.
    Trust() : own_(CurrentAccountSid().wvalue()) {
        DWORD major = 0;
        powerUsers_ = GetOSVersion(&major, nullptr, nullptr) && major < 6;
    }
    bool Has(const std::wstring& sid) const {
        return Listed(kTrustedAccounts, sid) || sid == own_ || (powerUsers_ && sid == kPowerUsers);
    }

private:
    std::wstring own_;
    bool powerUsers_ = false;
};

bool IsDenyAce(BYTE type) {
    return type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_OBJECT_ACE_TYPE ||
           type == ACCESS_DENIED_CALLBACK_ACE_TYPE || type == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE;
}

void AddOnce(std::wstring* list, const std::wstring& sid) {
    if ((L", " + *list + L",").find(L" " + sid + L",") != std::wstring::npos) return;
    *list += (list->empty() ? L"" : L", ") + sid;
}

// The account an ACE grants `rights` to, "" when it grants none of them.
std::wstring Grantee(const ACE_HEADER* ace, ACCESS_MASK rights, const std::wstring& owner) {
    if (IsDenyAce(ace->AceType)) return L"";
    // Directories carry plain allow ACEs; any other kind is not trusted.
    if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE && ace->AceType != ACCESS_ALLOWED_CALLBACK_ACE_TYPE)
        return L"ACE type " + DecimalText(ace->AceType);
    const ACCESS_ALLOWED_ACE* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace);
    if (!(allowed->Mask & rights)) return L"";
    const std::wstring sid = Sid(const_cast<DWORD*>(&allowed->SidStart));
    return Listed(kOwnerStandIns, sid) ? owner : sid;
}

DWORD ReadSecurity(const std::wstring& path, SecurityDescriptor* sd) {
    return GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                 nullptr, nullptr, nullptr, nullptr, sd->out());
}

// Both handles need FILE_READ_ATTRIBUTES.
bool SameObject(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION x, y;
    return GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

bool Missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The directories above `path`, nearest first, each ending in a backslash,
// up to the drive's root or the share.
std::vector<std::wstring> Parents(std::wstring path) {
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    size_t root = path.size() > 1 && path[1] == L':' ? 2 : 0;
    if (path.compare(0, 2, L"\\\\") == 0)
        for (int seen = 0; seen < 3 && root != std::wstring::npos; ++seen) root = path.find(L'\\', root + 1);
    std::vector<std::wstring> parents;
    for (size_t at = path.rfind(L'\\'); at != std::wstring::npos && root != std::wstring::npos && at >= root;
         at = at ? path.rfind(L'\\', at - 1) : std::wstring::npos)
        parents.push_back(path.substr(0, at + 1));
    return parents;
}

std::wstring Describe(const UntrustedAccess& found) {
    std::wstring text;
    if (!found.owner.empty()) text = L"owned by " + found.owner;
    if (!found.writers.empty()) text += (text.empty() ? L"writable by " : L" and writable by ") + found.writers;
    return text;
}

// Ownership first: as owner, the access list can be replaced whatever it
// says. Each change goes through a handle to the directory that `held` holds.
DWORD ResetToPackageAccess(const std::wstring& path, HANDLE held) {
    SecurityDescriptor sd;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kPackageAccess, SDDL_REVISION_1, sd.out(), nullptr))
        return GetLastError();
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    GetSecurityDescriptorOwner(sd.get(), &owner, &defaulted);
    GetSecurityDescriptorDacl(sd.get(), &present, &dacl, &defaulted);
    EnablePrivilege("SeTakeOwnershipPrivilege");
    const struct {
        DWORD access;
        SECURITY_INFORMATION what;
    } steps[] = {{WRITE_OWNER, OWNER_SECURITY_INFORMATION},
                 // Setting an access list reads the present one too.
                 {WRITE_DAC | READ_CONTROL, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION}};
    for (const auto& step : steps) {
        // Whatever the name leads to must be the held directory.
        KernelHandle dir(CreateFileW(path.c_str(), step.access | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!dir) return GetLastError();
        if (!SameObject(dir.get(), held)) return ERROR_FILE_INVALID;
        const DWORD error = SetSecurityInfo(dir.get(), SE_FILE_OBJECT, step.what, owner, nullptr, dacl, nullptr);
        if (error != ERROR_SUCCESS) return error;
    }
    return ERROR_SUCCESS;
}

}  // namespace

UntrustedAccess FindUntrustedAccess(PSECURITY_DESCRIPTOR sd, AccessScope scope) {
    const Trust trust;
    UntrustedAccess found;
    PSID ownerSid = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    GetSecurityDescriptorOwner(sd, &ownerSid, &defaulted);
    const std::wstring owner = Sid(ownerSid);
    if (!trust.Has(owner)) found.owner = owner;
    if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) || !present || !dacl) {
        found.writers = L"everyone (no access list)";
        return found;
    }
    const ACCESS_MASK rights = scope == AccessScope::Directory ? kWriteRights : kReplaceRights;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) continue;
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
        // On the directory, what its files inherit counts too; on a parent,
        // only what applies to the parent itself.
        if (scope == AccessScope::Parent && (header->AceFlags & INHERIT_ONLY_ACE)) continue;
        const std::wstring grantee = Grantee(header, rights, owner);
        if (!grantee.empty() && !trust.Has(grantee)) AddOnce(&found.writers, grantee);
    }
    return found;
}

bool LockInstallDir(const wchar_t* label, const XString& dir) {
    const std::wstring path = Widened(dir).wvalue();
    if (path.empty()) return true;

    // A parent is only read: it is not the package's to change. A parent
    // that others may change is common (a folder under a Vista drive's root
    // inherits Authenticated Users: modify), so it is reported, not refused.
    for (const std::wstring& parent : Parents(path)) {
        SecurityDescriptor sd;
        const DWORD error = ReadSecurity(parent, &sd);
        if (Missing(error)) continue;
        if (error != ERROR_SUCCESS) {
            LogMessage(error, label, L"Installation directory %s: the owner and access list of its parent %s cannot be "
                                     L"read; the directory is used all the same",
                       path.c_str(), parent.c_str());
            continue;
        }
        const UntrustedAccess found = FindUntrustedAccess(sd.get(), AccessScope::Parent);
        if (!found.Found()) continue;
        LogMessage(0, label,
                   L"Installation directory %s: its parent %s is %s, so the directory could be replaced; the parent is "
                   L"left as it is and the directory is used all the same",
                   path.c_str(), parent.c_str(), Describe(found).c_str());
    }

    // The directory itself, never what a link there leads to, held without
    // delete sharing from the read to the reset: a junction put in its place
    // could otherwise hand SYSTEM's ownership to a directory elsewhere.
    LinkFinding finding;
    KernelHandle held = OpenWithoutLinks(path, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, L"", &finding);
    DWORD error = held ? ERROR_SUCCESS : GetLastError();
    if (Missing(error)) return true;  // nothing in it to use
    if (finding) {
        LogMessage(0, label, L"Installation directory %s is not used: it %s", path.c_str(), finding.text.c_str());
        return false;
    }
    SecurityDescriptor sd;
    if (error == ERROR_SUCCESS)
        error = GetSecurityInfo(held.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, sd.out());
    if (error != ERROR_SUCCESS) {
        LogMessage(error, label, L"Installation directory %s is not used: its owner and access list cannot be read",
                   path.c_str());
        return false;
    }
    const UntrustedAccess found = FindUntrustedAccess(sd.get(), AccessScope::Directory);
    if (!found.Found()) return true;
    error = ResetToPackageAccess(path, held.get());
    if (error != ERROR_SUCCESS) {
        LogMessage(error, label, L"Installation directory %s was %s and cannot be locked: it is not used", path.c_str(),
                   Describe(found).c_str());
        return false;
    }
    LogMessage(0, label, L"Installation directory %s was %s: %s", path.c_str(), Describe(found).c_str(),
               kPackageAccessText);
    return true;
}
