#include <shlobj.h>

#include "log/install_log.h"
#include "util/files.h"

namespace {

const wchar_t kDefaultProgramFiles[] = L"c:\\Program Files";
const wchar_t kDefaultCommonPrograms[] = L"C:\\Documents and Settings\\All Users\\Start Menu\\Programs";
const wchar_t kClientFolder[] = L"Halvora\\Varnet\\";
const wchar_t kDisplayName[] = L"Halvora Varnet/Varguard";

XString g_winDir;  // filled on the first successful GetWinDir

XString WithBackslash(const wchar_t* dir) {
    XString out(dir);
    if (!out.endsWith(L"\\")) out.concat(XString(L'\\'));
    return out;
}

XString ShellFolder(int csidl, const wchar_t* fallback) {
    wchar_t path[MAX_PATH + 1] = L"";
    bool found = SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path));
    return WithBackslash(found ? path : fallback);
}

}  // namespace

XString GetSystemDir() {
    wchar_t dir[MAX_PATH + 1] = L"";
    UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    return n == 0 || n >= MAX_PATH ? XString(L"") : WithBackslash(dir);
}

// When Windows cannot say where it lives, the SystemRoot variable is asked
// instead; if that is missing too the answer is empty and not cached, so no
// caller builds paths on a guess and the next call asks Windows again.
XString GetWinDir() {
    if (g_winDir.length() > 0) return g_winDir;
    wchar_t dir[MAX_PATH + 1] = L"";
    UINT chars = GetWindowsDirectoryW(dir, MAX_PATH);
    dir[MAX_PATH] = 0;
    if (chars == 0 || chars >= MAX_PATH) {
        LogMessage(GetLastError(), L"GetWinDir", L"Retrieved WinDir is: %s", dir);
        DWORD n = GetEnvironmentVariableW(L"SystemRoot", dir, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return XString(L"");
        LogMessage(0, L"GetWinDir", L"Using SystemRoot instead: %s", dir);
    }
    g_winDir = WithBackslash(dir);
    if (chars > 0 && chars < MAX_PATH) LogMessage(0, L"GetWinDir", L"Retrieved WinDir is: %s", g_winDir.wvalue());
    return g_winDir;
}

XString GetShortWinDirA(const wchar_t* label) {
    wchar_t shortDir[kShortPathChars] = L"";
    // Only an absolute answer will do: a relative one would point the
    // caller's deletions at the current directory.
    const bool absolute = GetExpandedShortPath(L"%windir%", shortDir) == 0 &&
                          ((shortDir[1] == L':' && shortDir[2] == L'\\') || wcsncmp(shortDir, L"\\\\", 2) == 0);
    XString dir = absolute ? WithBackslash(shortDir) : GetWinDir();
    if (!absolute && dir.length() > 0)
        LogMessage(0, label, L"No short form of %%windir%%; using the Windows directory <%s>", dir.wvalue());
    dir.setEncoding(XString::Ascii);
    return dir;
}

XString GetProgramFilesDir() { return ShellFolder(CSIDL_PROGRAM_FILES, kDefaultProgramFiles); }

XString GetCommonProgramsDir() {
    XString dir = ShellFolder(CSIDL_COMMON_PROGRAMS, kDefaultCommonPrograms);
    LogMessage(0, L"GetProgramFilesDir", L"Retrieved dir is: <%s>", dir.wvalue());
    return dir;
}

XString GetDefaultClientDir() {
    XString dir = GetProgramFilesDir() + kClientFolder;
    LogMessage(0, L"GetDefaultClientDir", L"Retrieved dir is: <%s>", dir.wvalue());
    return dir;
}

XString GetProductDisplayName() { return XString(kDisplayName); }
