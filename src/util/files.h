// Logged helpers over files, folders, the environment and the Windows
// version. Directories returned here end with a backslash.
#pragma once

#include <windows.h>

#include "util/xstring.h"

// Expands %VAR% references in place: 1 expanded, 0 failed (text unchanged).
int Tamber_ExpandEnvironmentStrings(XString& text);
BOOL HV_DeleteFile(XString path);
BOOL HV_DeleteDir(XString path);  // an empty directory only
BOOL HV_CopyFile(XString source, XString destination);

XString GetWinDir();
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
