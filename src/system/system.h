// System integration: the search paths the client's programs need.
#pragma once

#include <windows.h>

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
