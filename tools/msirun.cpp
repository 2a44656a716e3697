// Test driver: runs a package through the installer engine and prints the
// engine's full result, which a process exit code would cut to 8 bits.
//   msirun [/log FILE] [/props FILE] [/ui reduced] PACKAGE [PROPERTY=VALUE ...]
// /props adds a command line kept in a UTF-8 file (quotes as the engine wants
// them, which a shell would mangle). /ui reduced runs with a reduced user
// interface instead of none (UILevel 4). Prints "msirun: result N" and exits with N (as far as it fits).
#include <windows.h>
#include <msi.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "text.h"

namespace {

std::wstring ReadUtf8(const wchar_t* path) {
    std::string bytes;
    if (FILE* f = _wfopen(path, L"rb")) {
        char chunk[4096];
        for (size_t n; (n = fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.append(chunk, n);
        fclose(f);
    }
    return FromUtf8(bytes);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int i = 1;
    const wchar_t* log = nullptr;
    std::wstring properties;
    INSTALLUILEVEL level = INSTALLUILEVEL_NONE;
    for (; i + 1 < argc && argv[i][0] == L'/'; i += 2) {
        if (wcscmp(argv[i], L"/log") == 0) log = argv[i + 1];
        else if (wcscmp(argv[i], L"/props") == 0) properties = ReadUtf8(argv[i + 1]);
        else if (wcscmp(argv[i], L"/ui") == 0 && wcscmp(argv[i + 1], L"reduced") == 0) level = INSTALLUILEVEL_REDUCED;
        else break;
    }
    if (i >= argc) {
        fwprintf(stderr, L"usage: msirun [/log FILE] [/props FILE] [/ui reduced] PACKAGE [PROPERTY=VALUE ...]\n");
        return 2;
    }
    const wchar_t* package = argv[i++];
    for (; i < argc; ++i) properties += (properties.empty() ? L"" : L" ") + std::wstring(argv[i]);

    MsiSetInternalUI(level, nullptr);
    if (log) MsiEnableLogW(INSTALLLOGMODE_VERBOSE | INSTALLLOGMODE_INFO | INSTALLLOGMODE_ERROR |
                               INSTALLLOGMODE_WARNING | INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_ACTIONDATA |
                               INSTALLLOGMODE_PROPERTYDUMP,
                           log, 0);
    UINT result = MsiInstallProductW(package, properties.c_str());
    printf("msirun: result %u\n", result);
    return static_cast<int>(result);
}
