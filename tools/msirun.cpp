// Test driver: runs a package through the installer engine and prints the
// engine's full result, which a process exit code would cut to 8 bits.
//   msirun [/log FILE] PACKAGE [PROPERTY=VALUE ...]
// Prints "msirun: result N" and exits with N (as far as it fits).
#include <windows.h>
#include <msi.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    int i = 1;
    const wchar_t* log = nullptr;
    if (i + 1 < argc && wcscmp(argv[i], L"/log") == 0) {
        log = argv[i + 1];
        i += 2;
    }
    if (i >= argc) {
        fwprintf(stderr, L"usage: msirun [/log FILE] PACKAGE [PROPERTY=VALUE ...]\n");
        return 2;
    }
    const wchar_t* package = argv[i++];
    std::wstring properties;
    for (; i < argc; ++i) properties += (properties.empty() ? L"" : L" ") + std::wstring(argv[i]);

    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    if (log) MsiEnableLogW(INSTALLLOGMODE_VERBOSE | INSTALLLOGMODE_INFO | INSTALLLOGMODE_ERROR |
                               INSTALLLOGMODE_WARNING | INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_ACTIONDATA |
                               INSTALLLOGMODE_PROPERTYDUMP,
                           log, 0);
    UINT result = MsiInstallProductW(package, properties.c_str());
    printf("msirun: result %u\n", result);
    return static_cast<int>(result);
}
