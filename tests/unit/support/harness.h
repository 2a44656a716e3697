// Test harness: real installer sessions on databases built in code, the
// library loaded afresh per handler call, and the install-log lines a test
// wrote.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "util/handles.h"

// An installer database made in memory, with the tables a test asks for,
// and a real session opened on it.
class TestPackage {
public:
    TestPackage();
    ~TestPackage();
    TestPackage(const TestPackage&) = delete;
    TestPackage& operator=(const TestPackage&) = delete;

    TestPackage& Property(const std::wstring& name, const std::wstring& value);
    TestPackage& Directory(const std::wstring& id, const std::wstring& parent, const std::wstring& defaultDir);
    // A Binary table row whose stream holds `bytes`.
    TestPackage& Binary(const std::wstring& name, const std::string& bytes);
    // The client package's skeleton: INSTALLDIR is `target`\Varnet, and the
    // settings file of version 5.2 ends with `settings` ("Key=Value\r\n"...).
    TestPackage& Client(const std::wstring& target, const std::string& settings = "");

    // Opens the session (once) and returns its handle; with costing, target
    // paths can be read.
    MSIHANDLE Session(bool withCosting = false);

    // Reads a property straight from the installer, bypassing the library.
    std::wstring Get(const std::wstring& name);
    // Commits and closes the database for another process; its file name.
    std::wstring Save();

private:
    void Run(const wchar_t* query, MSIHANDLE params = 0);

    std::wstring path_;
    MSIHANDLE database_ = 0;
    MSIHANDLE session_ = 0;
    bool hasBinary_ = false;
    int streams_ = 0;
};

// tamber.dll loaded for one scope, as the engine loads it per custom action.
class TamberDll {
public:
    TamberDll();
    ~TamberDll();
    TamberDll(const TamberDll&) = delete;
    TamberDll& operator=(const TamberDll&) = delete;

    UINT Call(const char* handler, MSIHANDLE session);
    FARPROC Find(const char* name) const;

private:
    HMODULE module_ = nullptr;
};

// Loads the library, runs one handler and unloads it again.
UINT CallHandler(const char* handler, MSIHANDLE session);

// A primary token of this process's account with the Administrators group
// present for deny only, as UAC filters an administrator's token.
KernelHandle FilteredAdministratorToken();
// Runs one handler in a child process started with `token`, on a session
// that the child opens on the saved package; the handler's result, or
// ERROR_CREATE_FAILED when the child could not start.
UINT CallHandlerWithToken(HANDLE token, const char* handler, TestPackage& pkg);
// The child's side: opens the package and calls the handler.
int RunHandlerOnPackage(const char* handler, const std::wstring& package);

// The install-log lines written since this object was made.
class LogCapture {
public:
    LogCapture();
    // Whole lines without line ends; blank lines (from messages that end in a
    // line break) are dropped.
    std::vector<std::string> Lines() const;
    // The same without the time stamp: "<Label> message".
    std::vector<std::string> Messages() const;
    bool Contains(const std::string& labelAndMessage) const;
    // Position in Messages() of the first line that starts with `prefix`, or -1.
    int Find(const std::string& prefix) const;
    static std::wstring Path();
    // The whole file as written, line ends included.
    static std::string Raw();

private:
    long long start_ = 0;
};

// A record-based external UI handler installed ahead of the library's own:
// it sees every message sent through the engine, with its fields, and
// answers with the button a test chooses, as a user would.
struct SeenMessage {
    UINT type;
    std::vector<std::wstring> fields;  // field 0 onwards
};
class UiRecorder {
public:
    explicit UiRecorder(DWORD filter);
    ~UiRecorder();
    std::vector<SeenMessage> OfClass(INSTALLMESSAGE type) const;
    static std::vector<SeenMessage> seen;
    static int answer;
};

// Values under HKEY_LOCAL_MACHINE, read straight from the registry.
bool HklmKeyExists(const std::wstring& key);
// The value's type, or REG_NONE when it is absent; text or number in the outs.
DWORD HklmValue(const std::wstring& key, const std::wstring& name, std::wstring* text = nullptr,
                DWORD* number = nullptr);
void HklmCreateKey(const std::wstring& key);
void HklmSetValue(const std::wstring& key, const std::wstring& name, const std::wstring& text);
void HklmSetValue(const std::wstring& key, const std::wstring& name, DWORD number);

// Files, in binary.
std::wstring TempDir();  // ends with a backslash
std::wstring ExeDir();   // where the test executables and tamber.dll are
std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
// The accounts (SID texts) that the access list of `path` grants any right,
// "no access list" for one that lets everyone in. Wine keeps no access lists:
// it shows the mode bits, the owner's as the running account's (also for an
// entry of the Administrators) and "other" as Everyone.
std::vector<std::string> AccountsWithAccess(const std::wstring& path);

// Links that a user could plant. Wine makes a link on its drives from a Unix
// symlink; `command` runs in the Unix shell, with paths from UnixPath.
void UnixCommand(const std::string& command);
std::string UnixPath(const std::wstring& path);  // quoted for the shell
// A registry link at `key` to `target`, an NT path ("\\Registry\\Machine\\...").
void MakeRegistryLink(HKEY root, const std::wstring& key, const std::wstring& target);

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);
