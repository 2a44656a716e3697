// The module's exported build-information record (__tamber_version_info).
#pragma once

#include <windows.h>

extern "C" {

struct TamberVersionInfo {
    DWORD size;  // sizeof(TamberVersionInfo): lets readers detect later layouts
    WORD major;
    WORD minor;
    WORD patch;
    WORD reserved;
    char version[16];          // "major.minor.patch"
    char buildDate[24];        // compiler's "Mmm dd yyyy hh:mm:ss"
    char sourceRevision[48];   // git describe of the tree it was built from
};

extern const TamberVersionInfo __tamber_version_info;
}
