// Install state and requirements: the checks that refuse a run and the path
// helpers they use.
#pragma once

#include <windows.h>

#include "util/xstring.h"

constexpr LONGLONG kRequiredFreeBytes = 41943040;  // 40 MiB

bool CheckRequirements();
bool GetBDVersion(XString* version, const wchar_t* key);
void EnsureTrailingBackslash(XString& path);
XString GetDiskFromPath(const XString& path);
bool CheckDriveIsValid(const XString& path);
bool CheckDiskSpace(const XString& path);
void AppendVarnetFolder(XString& path);
bool CheckDependentPkgs();
void DeleteVarnetKeyFromAllUsers();

// --- Installed client and the kind of run ---

void ReadRegistrySettings();
void StoreVGInitialState();
bool IsVarguardChosen();
bool IsVarnetChosen();
bool IsMaintUpgradeChosen();
bool IsMaintOverwriteChosen();
bool IsFirstInstallation();
bool IsUpgradeFrom4_1();
void WriteDTBaseDefaults();
void WriteProductVersionToRegistry();
bool IsSimplifiedInRegistry();
