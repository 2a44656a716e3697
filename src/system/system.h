// System integration: the search paths the client's programs need.
#pragma once

#include <windows.h>

#include <string>

#include "util/xstring.h"

// Puts <dir>\bin at the front of this process's PATH: 1 present, -1 failed.
int AddInstDirToPath(const wchar_t* installDir);
// Removes `entry` from the machine Path: 1 absent or written, 0 failed.
int DeleteFromEnvironmentPath(XString entry);

// Replaces the client's inbound firewall rules (Vista and later).
void ConfigureFirewallRules();
void DeleteFirewallRule(const wchar_t* prefix, const wchar_t* rule);
void AddFirewallRule(const wchar_t* prefix, const wchar_t* rule, const wchar_t* program);

// --- Product registration values ---

void WriteCommonValuesToRegistry();
void WriteCommonValuesToRegistryWithName(const char* productKey, const char* displayName);
void WriteBuildNumberToRegistry();
void WriteEstimatedSiteToRegistry();
LONG AllowUserFastSwitching();
void WriteDTBaseToRegistryWithCare();
void ReadDTBaseProfiles(XString* defaultProfile, XString* profile);
void WriteDTBaseProfiles(const XString& defaultProfile, const XString& profile);

// --- The installer's own log ---

int CopyMSILogFile();
bool IsMSILoggingEnabled();
void EnableMSILogging();
DWORD FindLastMSILogFile(XString* path);
bool ShortcutCreate(const wchar_t* target, const wchar_t* shortcut, const wchar_t* description);

// --- The installation directory's owner and access list ---

// Which rights count: any write to the directory or what it holds, or, on a
// parent, those that let an account put another directory in its place. An
// entry below the installation directory must also inherit its access list.
enum class AccessScope { Directory, Parent, Entry };

// Who besides SYSTEM, Administrators, TrustedInstaller and this process's
// own account could change the object, as SID texts ("" when nobody).
struct UntrustedAccess {
    std::wstring owner;
    std::wstring writers;  // comma-separated
    bool protectedList = false;  // Entry scope: it does not inherit
    bool Found() const { return !owner.empty() || !writers.empty() || protectedList; }
};
UntrustedAccess FindUntrustedAccess(PSECURITY_DESCRIPTOR sd, AccessScope scope);

// Called by the prologues before anything is copied. `created` gets the
// highest directory of `dir` that does not exist yet (empty when `dir`
// exists), for the deferred handlers to lock from. False, with one line
// under `label`, when a directory above `dir` that exists could be deleted
// or renamed by another account, or its security cannot be read.
bool CheckInstallDirParents(const wchar_t* label, const XString& dir, XString* created);
// The container entry that carries `created` to the deferred handlers.
constexpr wchar_t kCreatedDir[] = L"tamber_created_dir";

// Called by every deferred handler before it uses anything from `dir`.
// Locks from `created` (the prologue's record) when it lies above `dir`,
// else from `dir`: resets the top's owner and access list to the package's
// when another account owns or can write it, then walks the tree below it.
// There a plain directory or single-name file that another account owns or
// may write, or that does not inherit, is reset; a link, junction or file
// with a second name is refused. False when nothing in `dir` may be used:
// no path, a missing directory, a refusal, or a reset that failed. Logs a
// line for each finding and nothing when all is well.
bool LockInstallDir(const wchar_t* label, const XString& dir, const XString& created = XString());
