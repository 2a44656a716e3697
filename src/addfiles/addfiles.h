// Additional files: customised files carried in the package's Binary table
// and copied into the installation directory.
#pragma once

#include <windows.h>

#include "util/xstring.h"

UINT StoreAdditionalFileFromBinaryTable();
int InstallAdditionalFileFromBinaryTable(const XString& installDir);
// The installed name of a Binary row, or empty when the row is no file.
XString InstalledFileName(const XString& binaryName);
