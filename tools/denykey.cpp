// Test tool: denykey KEY creates HKEY_LOCAL_MACHINE\KEY (64-bit view) and
// gives it an empty DACL, so that nobody can open it for anything. Wine keeps
// key security only in the running wineserver, so the denial ends with it.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: denykey KEY\n");
        return 2;
    }
    HKEY key = nullptr;
    LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, argv[1], 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) {
        fprintf(stderr, "denykey: cannot create the key (%ld)\n", result);
        return 1;
    }
    SECURITY_DESCRIPTOR descriptor;
    ACL empty;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    InitializeAcl(&empty, sizeof empty, ACL_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, &empty, FALSE);
    result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        fprintf(stderr, "denykey: cannot set the key's security (%ld)\n", result);
        return 1;
    }
    return 0;
}
