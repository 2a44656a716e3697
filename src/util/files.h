// Logged helpers over files, folders, the environment and the Windows
// version. Directories returned here end with a backslash.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "util/handles.h"
#include "util/xstring.h"

// Expands %VAR% references in place: 1 expanded, 0 failed (text unchanged).
int Tamber_ExpandEnvironmentStrings(XString& text);
BOOL HV_DeleteFile(XString path);
BOOL HV_DeleteDir(XString path);  // an empty directory only
BOOL HV_CopyFile(XString source, XString destination);
// The same, but only where no file or link of that name exists.
BOOL HV_CopyFileToNew(XString source, XString destination);
// The line HV_CopyFile writes when a copy fails with `error`.
void LogFailedCopy(DWORD error, XString source, XString destination);

XString GetWinDir();
// The system directory, ending with a backslash; empty when it cannot be had.
XString GetSystemDir();
// The Windows directory as 8-bit text ending with a backslash: the short form
// of %windir%, else GetWinDir's answer (said under `label`); empty when no
// Windows directory can be had.
XString GetShortWinDirA(const wchar_t* label);
XString GetProgramFilesDir();
XString GetCommonProgramsDir();
XString GetDefaultClientDir();
XString GetProductDisplayName();

// True on the Windows NT platform; the numbers stay 0 where not read.
bool GetOSVersion(DWORD* major, DWORD* minor, DWORD* servicePack);
bool isVista();
bool isXP();
bool is2KorXP();

constexpr int kShortPathChars = 256;
// Expands `path` and writes its short form into `out` (kShortPathChars):
// 0, or -1 when either step fails or does not fit.
int GetExpandedShortPath(const wchar_t* path, wchar_t* out);

// --- Accounts ---

// The account the calling thread runs as, as SID text; empty when unknown.
XString CurrentAccountSid();
// An account's SID as text ("S-1-5-18"); empty when there is none.
XString SidText(PSID sid);
// Empty when the owner of `object` (opened with READ_CONTROL) is SYSTEM,
// Administrators or `account` (SID text), whom no other local user can make
// an owner; else what a refusal says: "is owned by S-1-5-7, not by SYSTEM,
// Administrators or " and `whom`.
std::wstring ForeignOwner(HANDLE object, const XString& account, const wchar_t* whom);

// `path` in the 8-bit code page, for the runtime's 8-bit file routines: only
// when those bytes name exactly this path (no best-fit letter, no default
// character) and fit in `bytes` with the terminator. Otherwise one line
// under `label` says why the path is not used, and the result is false.
bool NarrowPath(const wchar_t* label, const std::wstring& path, size_t bytes, std::string* out);

// --- Directories that only SYSTEM and the Administrators can write ---

// Creates the directory `path` with an access list, set as it is made and
// taking nothing from its parent, that gives full control to SYSTEM, the
// Administrators and, when it is not SYSTEM, the calling account: an
// administrator's UAC-filtered token holds Administrators only for denying,
// and it must still write what it puts there. An existing directory is never
// taken (ERROR_ALREADY_EXISTS). 0, or the error.
DWORD CreatePrivateDirectory(const std::wstring& path);
// The same at a name nobody can guess: `parent` (ending with a backslash),
// `prefix` and 16 random hexadecimal digits. 0 with `*made` the directory, or
// the error with `*made` the last name tried (empty when none was drawn).
DWORD CreateFreshPrivateDirectory(const std::wstring& parent, const wchar_t* prefix, std::wstring* made);

// --- Copies saved into the temporary directory ---

// A copy that a run saves into the temporary directory and takes back later.
// Any local user can plant files there, and the deferred handlers that take
// copies back run as SYSTEM: a restore uses only a copy that the same run
// recorded as saved, that is a plain file with one link, and that SYSTEM,
// Administrators or the account that saved it owns.
struct SavedCopy {
    XString path;   // empty: nothing was saved
    XString saver;  // the saving account's SID, as text
};
enum class SavedCopyState { kMissing, kRefused, kTrusted };
// Opens the file at `path` for its restore and holds it so that nobody can
// write or delete it meanwhile (release it before deleting the copy).
// kMissing: nothing is there (GetLastError says why); kRefused: what is
// there is not what `record` vouches for, and one line under `label` says
// what was found and that it is not restored; kTrusted: restore it.
SavedCopyState OpenSavedCopy(const wchar_t* label, const SavedCopy& record, XString path, KernelHandle* held);

// --- Links: what a handler running as SYSTEM must not follow into a place a
// user chose. These never log: the install log itself depends on them. ---

// The full path of an open file or directory ("\\?\C:\..."), followed by a
// backslash and `child` when one is given; empty where the system cannot tell
// (before Vista).
std::wstring FinalPath(HANDLE handle, const wchar_t* child = nullptr);

// `path` without its trailing backslashes ("C:\" keeps its own): a name
// that ends in one leads through a link there.
std::wstring WithoutTrailingBackslash(std::wstring path);

// What a checked handle turned out to be; `text` says it for a log line.
struct LinkFinding {
    enum Kind { kNone, kReparsePoint, kHardLinked, kElsewhere, kUnexamined } kind = kNone;
    std::wstring text;
    explicit operator bool() const { return kind != kNone; }
};

// Opens `path` itself, never what a link there leads to, with or without a
// trailing backslash (FILE_FLAG_OPEN_REPARSE_POINT is added to `flags`; a directory needs
// FILE_FLAG_BACKUP_SEMANTICS there), and checks through the handle that it is
// no link or junction, no file with a second name, and, where the system can
// tell, lies at `expected` (a final path; empty: not checked). Wine follows a
// Unix symlink even so, and only the final path shows it.
KernelHandle OpenWithoutLinks(const std::wstring& path, DWORD access, DWORD share, DWORD creation, DWORD flags,
                              const std::wstring& expected, LinkFinding* finding, SECURITY_ATTRIBUTES* security = nullptr);

// Lists the directory at `path`, which the caller holds open as `held`, and
// calls `visit` with each entry's full name, its listing and the final path it
// must have (empty where the system cannot tell). False when a name does not
// fit MAX_PATH or `visit` returned false; the listing stops there.
using EntryVisitor = std::function<bool(const std::wstring& child, const WIN32_FIND_DATAW& entry,
                                        const std::wstring& expected)>;
bool ForEachEntry(const std::wstring& path, HANDLE held, const EntryVisitor& visit);
