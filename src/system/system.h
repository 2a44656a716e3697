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
// parent, those that let an account put another directory in its place.
enum class AccessScope { Directory, Parent };

// Who besides SYSTEM, Administrators, TrustedInstaller and this process's
// own account could change the object, as SID texts ("" when nobody).
struct UntrustedAccess {
    std::wstring owner;
    std::wstring writers;  // comma-separated
    bool Found() const { return !owner.empty() || !writers.empty(); }
};
UntrustedAccess FindUntrustedAccess(PSECURITY_DESCRIPTOR sd, AccessScope scope);

// Called by every deferred handler before it uses anything from `dir`.
// Resets the directory's owner and access list to the package's when
// another account owns or can write it; false when it must not be used (its
// security cannot be read, or the reset failed). A parent that another
// account can change is only reported. Logs a line for each finding and
// nothing when all is well.
bool LockInstallDir(const wchar_t* label, const XString& dir);
