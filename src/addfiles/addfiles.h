// Additional files: customised files carried in the package's Binary table
// and copied into the installation directory.
#pragma once

#include <windows.h>

#include "util/xstring.h"

// Extracts the files into a temporary directory that this call creates;
// 1 when no such directory could be made.
UINT StoreAdditionalFileFromBinaryTable();
// Copies the files that the extraction mapped, and no other, into `installDir`.
int InstallAdditionalFileFromBinaryTable(const XString& installDir);
// The installed name of a Binary row, or empty when the row is no file.
XString InstalledFileName(const XString& binaryName);
