// The installation directory's owner and access list. The deferred handlers
// run as LocalSystem and run, load and apply what the directory holds, so no
// other account may be able to change it.
#include <aclapi.h>
#include <sddl.h>

#include <cwchar>
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

// Below the top the same entries are given to the entry itself, and its
// parent's inheritable ones join them: the entry follows the locked top again.
const wchar_t kEntryDirAccess[] = L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)";
const wchar_t kEntryFileAccess[] = L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRFX;;;BU)";

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

UntrustedAccess Untrusted(PSECURITY_DESCRIPTOR sd, AccessScope scope, const Trust& trust);

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
    if (found.protectedList) text += (text.empty() ? L"" : L" and ") + std::wstring(L"kept from inheriting its access list");
    return text;
}

// Ownership first: as owner, the access list can be replaced whatever it
// says. Each change goes through a handle to the directory that `held` holds.
DWORD ResetAccess(const std::wstring& path, HANDLE held, const wchar_t* access, SECURITY_INFORMATION inheritance) {
    SecurityDescriptor sd;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(access, SDDL_REVISION_1, sd.out(), nullptr))
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
                 {WRITE_DAC | READ_CONTROL, DACL_SECURITY_INFORMATION | inheritance}};
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

DWORD ResetToPackageAccess(const std::wstring& path, HANDLE held) {
    return ResetAccess(path, held, kPackageAccess, PROTECTED_DACL_SECURITY_INFORMATION);
}

std::wstring WithBackslash(std::wstring path) {
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path;
}

// The tree below the locked top, walked through handles and never through a
// link. A plain directory or a file with one name that another account owns
// or may write, or that does not inherit from the top, is reset: nothing
// else leads to it. A file with a second name is refused, since its access
// list is also the other name's (which could be a system file), and a link
// or junction is refused, never followed.
class TreeLock {
public:
    TreeLock(const wchar_t* label, const std::wstring& top, const std::wstring& installDir)
        : label_(label), top_(top), installDir_(installDir) {}

    // The entries of `dir`, which `held` holds.
    bool Below(const std::wstring& dir, HANDLE held) {
        const bool walked = ForEachEntry(dir, held, [this](const std::wstring& child, const WIN32_FIND_DATAW& entry,
                                                           const std::wstring& expected) {
            return Entry(child, entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, expected);
        });
        if (!walked && !refused_) Refuse(dir, L"cannot be listed in full", GetLastError());
        return walked;
    }

private:
    bool Refuse(const std::wstring& entry, const std::wstring& why, DWORD error = 0) {
        LogMessage(error, label_, L"Installation directory %s is not used: %s %s", top_.c_str(), entry.c_str(),
                   why.c_str());
        refused_ = true;
        return false;
    }

    bool Entry(const std::wstring& path, bool directory, const std::wstring& expected) {
        LinkFinding finding;
        // A directory is held without delete sharing while it is checked and
        // walked, so it cannot be renamed or replaced meanwhile.
        KernelHandle held = OpenWithoutLinks(
            path, READ_CONTROL | FILE_READ_ATTRIBUTES | (directory ? FILE_LIST_DIRECTORY : 0),
            FILE_SHARE_READ | FILE_SHARE_WRITE | (directory ? 0 : FILE_SHARE_DELETE), OPEN_EXISTING,
            FILE_FLAG_BACKUP_SEMANTICS, expected, &finding);
        if (finding) return Refuse(path, finding.text);
        if (!held) return Refuse(path, L"cannot be opened", GetLastError());
        SecurityDescriptor sd;
        DWORD error = GetSecurityInfo(held.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, nullptr, nullptr, sd.out());
        if (error != ERROR_SUCCESS) return Refuse(path, L"has an owner and access list that cannot be read", error);
        UntrustedAccess found = Untrusted(sd.get(), AccessScope::Entry, trust_);
        // The package locks the installation directory with a list of its own.
        if (_wcsicmp(WithBackslash(path).c_str(), installDir_.c_str()) == 0) found.protectedList = false;
        if (found.Found()) {
            error = ResetAccess(path, held.get(), directory ? kEntryDirAccess : kEntryFileAccess,
                                UNPROTECTED_DACL_SECURITY_INFORMATION);
            if (error != ERROR_SUCCESS) return Refuse(path, L"was " + Describe(found) + L" and cannot be reset", error);
            LogMessage(0, label_, L"Installation directory %s: %s was %s: its owner is now Administrators and its "
                                  L"access list SYSTEM and Administrators full control, Users read and execute, and "
                                  L"what it inherits",
                       top_.c_str(), path.c_str(), Describe(found).c_str());
        }
        return !directory || Below(path, held.get());
    }

    const wchar_t* label_;
    std::wstring top_, installDir_;
    const Trust trust_;  // asked once for the whole walk, not at every entry
    bool refused_ = false;
};

// The highest directory of `path` that the prologue recorded as made by this
// run, when it lies above `path` and below a drive's root; else `path`.
// Every directory on the way down must hold only the next one: otherwise
// the run did not make it, or another account has put something there, and
// the directory is refused (false, logged).
bool ChooseTop(const wchar_t* label, const std::wstring& given, std::wstring created, std::wstring* top) {
    *top = given;  // as it was given, for the log
    const std::wstring path = WithBackslash(given);
    created = WithBackslash(created);
    if (created.size() >= path.size() || _wcsnicmp(created.c_str(), path.c_str(), created.size()) != 0 ||
        Parents(created).empty())
        return true;
    for (std::wstring dir = created; dir.size() < path.size();) {
        const size_t end = path.find(L'\\', dir.size());
        const std::wstring next = path.substr(dir.size(), end - dir.size());
        WIN32_FIND_DATAW entry;
        FindHandle find((dir + L"*").c_str(), &entry);
        for (bool more = find.ok(); more; more = find.Next(&entry)) {
            const wchar_t* name = entry.cFileName;
            if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0 || _wcsicmp(name, next.c_str()) == 0) continue;
            LogMessage(0, label, L"Installation directory %s is not used: %s, made by this run on the way to it, also "
                                 L"holds %s",
                       path.c_str(), dir.c_str(), name);
            return false;
        }
        dir = path.substr(0, end + 1);
    }
    *top = created;
    return true;
}

}  // namespace

UntrustedAccess FindUntrustedAccess(PSECURITY_DESCRIPTOR sd, AccessScope scope) {
    return Untrusted(sd, scope, Trust());
}

namespace {

UntrustedAccess Untrusted(PSECURITY_DESCRIPTOR sd, AccessScope scope, const Trust& trust) {
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
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    found.protectedList = scope == AccessScope::Entry && GetSecurityDescriptorControl(sd, &control, &revision) &&
                          (control & SE_DACL_PROTECTED);
    const ACCESS_MASK rights = scope == AccessScope::Parent ? kReplaceRights : kWriteRights;
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

}  // namespace

bool CheckInstallDirParents(const wchar_t* label, const XString& dir, XString* created) {
    const std::wstring path = WithBackslash(Widened(dir).wvalue());
    *created = XString(L"");
    if (path.empty()) return true;
    std::wstring highest;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES && Missing(GetLastError())) highest = path;
    // Whoever may delete or rename a directory on the way, or give themselves
    // that right, or delete what it holds, can put a directory of their own
    // in the installation's place after the lock; every later use, the
    // client's services' too, goes by name. Checking each existing directory
    // for these rights on itself also covers its parent's FILE_DELETE_CHILD.
    for (const std::wstring& parent : Parents(path)) {
        SecurityDescriptor sd;
        const DWORD error = ReadSecurity(parent, &sd);
        if (Missing(error)) {
            highest = parent;  // this run makes it
            continue;
        }
        if (error != ERROR_SUCCESS) {
            LogMessage(error, label, L"Installation directory %s is refused: the owner and access list of its parent "
                                     L"%s cannot be read",
                       path.c_str(), parent.c_str());
            return false;
        }
        const UntrustedAccess found = FindUntrustedAccess(sd.get(), AccessScope::Parent);
        if (!found.Found()) continue;
        LogMessage(0, label, L"Installation directory %s is refused: its parent %s is %s, so the directory could be "
                             L"replaced",
                   path.c_str(), parent.c_str(), Describe(found).c_str());
        return false;
    }
    *created = XString(highest.c_str());
    return true;
}

bool LockInstallDir(const wchar_t* label, const XString& dir, const XString& created) {
    const std::wstring path = Widened(dir).wvalue();
    if (path.empty()) {
        LogMessage(0, label, L"The installation directory is not known: nothing in it is used");
        return false;
    }
    std::wstring top;
    if (!ChooseTop(label, path, Widened(created).wvalue(), &top)) return false;

    // A parent is only read: it is not the package's to change. The prologue
    // has refused a parent that existed and that others may change; one that
    // others could change since is reported.
    for (const std::wstring& parent : Parents(top)) {
        SecurityDescriptor sd;
        const DWORD error = ReadSecurity(parent, &sd);
        if (Missing(error)) continue;
        if (error != ERROR_SUCCESS) {
            LogMessage(error, label, L"Installation directory %s: the owner and access list of its parent %s cannot be "
                                     L"read; the directory is used all the same",
                       top.c_str(), parent.c_str());
            continue;
        }
        const UntrustedAccess found = FindUntrustedAccess(sd.get(), AccessScope::Parent);
        if (!found.Found()) continue;
        LogMessage(0, label,
                   L"Installation directory %s: its parent %s is %s, so the directory could be replaced; the parent is "
                   L"left as it is and the directory is used all the same",
                   top.c_str(), parent.c_str(), Describe(found).c_str());
    }

    // The top itself, never what a link there leads to, held without delete
    // sharing from the read to the reset and through the walk below: a
    // junction put in its place could otherwise hand SYSTEM's ownership to a
    // directory elsewhere.
    LinkFinding finding;
    KernelHandle held = OpenWithoutLinks(top, READ_CONTROL | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                         L"", &finding);
    DWORD error = held ? ERROR_SUCCESS : GetLastError();
    if (Missing(error)) {
        // Nothing to lock: whoever could make it later would fill it.
        LogMessage(error, label, L"Installation directory %s is not used: it does not exist", top.c_str());
        return false;
    }
    if (finding) {
        LogMessage(0, label, L"Installation directory %s is not used: it %s", top.c_str(), finding.text.c_str());
        return false;
    }
    SecurityDescriptor sd;
    if (error == ERROR_SUCCESS)
        error = GetSecurityInfo(held.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, nullptr, nullptr, sd.out());
    if (error != ERROR_SUCCESS) {
        LogMessage(error, label, L"Installation directory %s is not used: its owner and access list cannot be read",
                   top.c_str());
        return false;
    }
    const UntrustedAccess found = FindUntrustedAccess(sd.get(), AccessScope::Directory);
    if (found.Found()) {
        error = ResetToPackageAccess(top, held.get());
        if (error != ERROR_SUCCESS) {
            LogMessage(error, label, L"Installation directory %s was %s and cannot be locked: it is not used",
                       top.c_str(), Describe(found).c_str());
            return false;
        }
        LogMessage(0, label, L"Installation directory %s was %s: %s", top.c_str(), Describe(found).c_str(),
                   kPackageAccessText);
    }
    std::wstring listed = top;
    while (listed.size() > 3 && listed.back() == L'\\') listed.pop_back();
    return TreeLock(label, top, WithBackslash(path)).Below(listed, held.get());
}
