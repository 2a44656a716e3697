#include "harness.h"

#include <wtypes.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <stdexcept>

namespace {

void Check(UINT result, const char* what) {
    if (result != ERROR_SUCCESS) throw std::runtime_error(std::string(what) + " failed: " + std::to_string(result));
}

}  // namespace

std::string Narrow(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1) MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], n);
    return out;
}

TestPackage::TestPackage() {
    wchar_t temp[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    GetTempFileNameW(temp, L"pkg", 0, file);
    path_ = file;
    Check(MsiOpenDatabaseW(path_.c_str(), MSIDBOPEN_CREATE, &database_), "MsiOpenDatabase");
    MSIHANDLE summary = 0;
    Check(MsiGetSummaryInformationW(database_, nullptr, 8, &summary), "MsiGetSummaryInformation");
    MsiSummaryInfoSetPropertyW(summary, 2, VT_LPSTR, 0, nullptr, L"Installation Database");
    MsiSummaryInfoSetPropertyW(summary, 7, VT_LPSTR, 0, nullptr, L"Intel;1033");
    MsiSummaryInfoSetPropertyW(summary, 9, VT_LPSTR, 0, nullptr, L"{3A6B5F3E-0C7B-4B58-9B0A-2A7C3C1D0E11}");
    MsiSummaryInfoSetPropertyW(summary, 14, VT_I4, 200, nullptr, nullptr);
    MsiSummaryInfoSetPropertyW(summary, 15, VT_I4, 0, nullptr, nullptr);
    MsiSummaryInfoPersist(summary);
    MsiCloseHandle(summary);
    Run(L"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL PRIMARY KEY `Property`)");
    Run(L"CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
        L"`DefaultDir` CHAR(255) NOT NULL PRIMARY KEY `Directory`)");
}

TestPackage::~TestPackage() {
    if (session_) MsiCloseHandle(session_);
    if (database_) MsiCloseHandle(database_);
    DeleteFileW(path_.c_str());
}

void TestPackage::Run(const wchar_t* query, MSIHANDLE params) {
    MSIHANDLE view = 0;
    Check(MsiDatabaseOpenViewW(database_, query, &view), "MsiDatabaseOpenView");
    UINT r = MsiViewExecute(view, params);
    MsiCloseHandle(view);
    Check(r, "MsiViewExecute");
}

TestPackage& TestPackage::Property(const std::wstring& name, const std::wstring& value) {
    MSIHANDLE rec = MsiCreateRecord(2);
    MsiRecordSetStringW(rec, 1, name.c_str());
    MsiRecordSetStringW(rec, 2, value.c_str());
    Run(L"INSERT INTO `Property` (`Property`, `Value`) VALUES (?, ?)", rec);
    MsiCloseHandle(rec);
    return *this;
}

TestPackage& TestPackage::Directory(const std::wstring& id, const std::wstring& parent,
                                    const std::wstring& defaultDir) {
    MSIHANDLE rec = MsiCreateRecord(3);
    MsiRecordSetStringW(rec, 1, id.c_str());
    MsiRecordSetStringW(rec, 2, parent.c_str());
    MsiRecordSetStringW(rec, 3, defaultDir.c_str());
    Run(L"INSERT INTO `Directory` (`Directory`, `Directory_Parent`, `DefaultDir`) VALUES (?, ?, ?)", rec);
    MsiCloseHandle(rec);
    return *this;
}

TestPackage& TestPackage::Client(const std::wstring& target, const std::string& settings) {
    return Property(L"TARGETDIR", target)
        .Directory(L"TARGETDIR", L"", L"SourceDir")
        .Directory(L"INSTALLDIR", L"TARGETDIR", L"Varnet")
        .Binary(L"HVINSTADDINT_product_ini", "[version]\r\nMajorVersion=5\r\nMinorVersion=2\r\n" + settings);
}

TestPackage& TestPackage::Binary(const std::wstring& name, const std::string& bytes) {
    if (!hasBinary_) {
        Run(L"CREATE TABLE `Binary` (`Name` CHAR(72) NOT NULL, `Data` OBJECT NOT NULL PRIMARY KEY `Name`)");
        hasBinary_ = true;
    }
    // Streams enter a record from a file.
    std::wstring file = path_ + L"." + std::to_wstring(++streams_);
    FILE* f = _wfopen(file.c_str(), L"wb");
    if (!f) throw std::runtime_error("cannot write " + Narrow(file));
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    MSIHANDLE rec = MsiCreateRecord(2);
    MsiRecordSetStringW(rec, 1, name.c_str());
    UINT r = MsiRecordSetStreamW(rec, 2, file.c_str());
    if (r == ERROR_SUCCESS) Run(L"INSERT INTO `Binary` (`Name`, `Data`) VALUES (?, ?)", rec);
    MsiCloseHandle(rec);
    DeleteFileW(file.c_str());
    Check(r, "MsiRecordSetStream");
    return *this;
}

MSIHANDLE TestPackage::Session(bool withCosting) {
    if (session_) return session_;
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    Check(MsiDatabaseCommit(database_), "MsiDatabaseCommit");
    std::wstring byHandle = L"#" + std::to_wstring(database_);
    Check(MsiOpenPackageW(byHandle.c_str(), &session_), "MsiOpenPackage");
    if (withCosting) {
        Check(MsiDoActionW(session_, L"CostInitialize"), "CostInitialize");
        Check(MsiDoActionW(session_, L"CostFinalize"), "CostFinalize");
    }
    return session_;
}

std::wstring TestPackage::Get(const std::wstring& name) {
    DWORD chars = 0;
    wchar_t empty[1] = L"";
    MsiGetPropertyW(Session(), name.c_str(), empty, &chars);
    std::wstring value(chars + 1, L'\0');
    chars += 1;
    Check(MsiGetPropertyW(Session(), name.c_str(), &value[0], &chars), "MsiGetProperty");
    value.resize(chars);
    return value;
}

std::wstring TestPackage::Save() {
    Check(MsiDatabaseCommit(database_), "MsiDatabaseCommit");
    MsiCloseHandle(database_);
    database_ = 0;
    return path_;
}

TamberDll::TamberDll() {
    std::wstring path = ExeDir() + L"tamber.dll";
    module_ = LoadLibraryW(path.c_str());
    if (!module_) throw std::runtime_error("cannot load " + Narrow(path));
}

TamberDll::~TamberDll() {
    // The handler stays installed after a call; it must not outlive the code.
    MsiSetExternalUIW(nullptr, 0, nullptr);
    FreeLibrary(module_);
}

FARPROC TamberDll::Find(const char* name) const { return GetProcAddress(module_, name); }

UINT TamberDll::Call(const char* handler, MSIHANDLE session) {
    auto entry = reinterpret_cast<UINT(WINAPI*)(MSIHANDLE)>(reinterpret_cast<void*>(Find(handler)));
    if (!entry) throw std::runtime_error(std::string("no export ") + handler);
    return entry(session);
}

UINT CallHandler(const char* handler, MSIHANDLE session) {
    TamberDll dll;
    return dll.Call(handler, session);
}

std::wstring LogCapture::Path() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"HVInstLog\\install_varnet_R33.elg";
}

LogCapture::LogCapture() {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(Path().c_str(), GetFileExInfoStandard, &data))
        start_ = (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string LogCapture::Raw() { return ReadFileBytes(Path()); }

std::vector<std::string> LogCapture::Lines() const {
    std::vector<std::string> lines;
    std::string all = Raw();
    all.erase(0, static_cast<size_t>(start_) < all.size() ? static_cast<size_t>(start_) : all.size());
    size_t pos = 0;
    while (pos < all.size()) {
        size_t end = all.find('\n', pos);
        if (end == std::string::npos) end = all.size();
        std::string line = all.substr(pos, end - pos);
        while (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
        pos = end + 1;
    }
    return lines;
}

std::vector<std::string> LogCapture::Messages() const {
    std::vector<std::string> out;
    for (const std::string& line : Lines()) {
        // "<5 Dec 21:06:10.901> <Label> text", or " <Label> text" without a clock
        size_t stamp = line[0] == '<' ? line.find("> ") : 0;
        if (stamp == std::string::npos) out.push_back(line);
        else out.push_back(line.substr(line[0] == '<' ? stamp + 2 : 1));
    }
    return out;
}

bool LogCapture::Contains(const std::string& labelAndMessage) const {
    for (const std::string& m : Messages())
        if (m.find(labelAndMessage) != std::string::npos) return true;
    return false;
}

int LogCapture::Find(const std::string& prefix) const {
    std::vector<std::string> all = Messages();
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
    return -1;
}

std::vector<SeenMessage> UiRecorder::seen;
int UiRecorder::answer = 0;

namespace {

int WINAPI RecordMessage(LPVOID, UINT type, MSIHANDLE record) {
    SeenMessage message{type, {}};
    for (UINT i = 0; i <= MsiRecordGetFieldCount(record); ++i) {
        wchar_t buffer[1024] = L"";
        DWORD chars = 1024;
        MsiRecordGetStringW(record, i, buffer, &chars);
        message.fields.push_back(buffer);
    }
    UiRecorder::seen.push_back(message);
    return UiRecorder::answer;
}

}  // namespace

UiRecorder::UiRecorder(DWORD filter) {
    seen.clear();
    answer = 0;
    MsiSetExternalUIRecord(RecordMessage, filter, nullptr, nullptr);
}

UiRecorder::~UiRecorder() { MsiSetExternalUIRecord(nullptr, 0, nullptr, nullptr); }

std::vector<SeenMessage> UiRecorder::OfClass(INSTALLMESSAGE type) const {
    std::vector<SeenMessage> out;
    for (const SeenMessage& s : seen)
        if ((s.type & 0xFF000000) == static_cast<UINT>(type)) out.push_back(s);
    return out;
}

bool HklmKeyExists(const std::wstring& key) {
    HKEY h;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    RegCloseKey(h);
    return true;
}

DWORD HklmValue(const std::wstring& key, const std::wstring& name, std::wstring* text, DWORD* number) {
    HKEY h;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return REG_NONE;
    BYTE data[4096] = {};
    DWORD bytes = sizeof data - 2, type = REG_NONE;
    LONG r = RegQueryValueExW(h, name.c_str(), nullptr, &type, data, &bytes);
    RegCloseKey(h);
    if (r != ERROR_SUCCESS) return REG_NONE;
    if (text) *text = reinterpret_cast<const wchar_t*>(data);
    if (number) *number = *reinterpret_cast<const DWORD*>(data);
    return type;
}

void HklmCreateKey(const std::wstring& key) {
    HKEY h;
    if (RegCreateKeyW(HKEY_LOCAL_MACHINE, key.c_str(), &h) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create " + Narrow(key));
    RegCloseKey(h);
}

void HklmSetValue(const std::wstring& key, const std::wstring& name, const std::wstring& text) {
    HKEY h;
    if (RegCreateKeyW(HKEY_LOCAL_MACHINE, key.c_str(), &h) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create " + Narrow(key));
    RegSetValueExW(h, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(h);
}

void HklmSetValue(const std::wstring& key, const std::wstring& name, DWORD number) {
    HKEY h;
    if (RegCreateKeyW(HKEY_LOCAL_MACHINE, key.c_str(), &h) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create " + Narrow(key));
    RegSetValueExW(h, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    RegCloseKey(h);
}

std::wstring TempDir() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return temp;
}

std::wstring ExeDir() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

std::string ReadFileBytes(const std::wstring& path) {
    std::string all;
    if (FILE* f = _wfopen(path.c_str(), L"rb")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) all.append(buf, n);
        fclose(f);
    }
    return all;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) throw std::runtime_error("cannot write " + Narrow(path));
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::string> AccountsWithAccess(const std::wstring& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        throw std::runtime_error("the access list of " + Narrow(path) + " cannot be read");
    std::vector<std::string> accounts;
    if (!dacl) accounts.push_back("no access list");
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
            ace->Mask == 0)
            continue;
        wchar_t* text = nullptr;
        if (ConvertSidToStringSidW(&ace->SidStart, &text)) {
            accounts.push_back(Narrow(text));
            LocalFree(text);
        }
    }
    LocalFree(descriptor);
    return accounts;
}

// Wine does not wait for a Unix process: the command says it is done, and
// with what exit status, by making a file (whole, through a rename), which is
// waited for.
void UnixCommand(const std::string& command) {
    const std::wstring done = TempDir() + L"unix-command-done";
    const std::wstring doneUnix = Widen(UnixPath(done));
    std::wstring line = L"Z:\\bin\\sh -c \"(" + Widen(command) + L"); echo $? >" + doneUnix + L".tmp && mv " +
                        doneUnix + L".tmp " + doneUnix + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        throw std::runtime_error("cannot run " + command);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    // Wine can take seconds to start /bin/sh on a loaded machine; the loop ends as soon as it is done.
    for (int tries = 0; tries < 600 && !FileExists(done); ++tries) Sleep(50);
    const std::string status = FileExists(done) ? ReadFileBytes(done) : "";
    if (!DeleteFileW(done.c_str())) throw std::runtime_error("no end of " + command);
    if (status != "0\n") throw std::runtime_error(command + " exited " + status);
}

std::string UnixPath(const std::wstring& path) {
    using ToUnix = char*(CDECL*)(const wchar_t*);
    static const auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = toUnix ? toUnix(path.c_str()) : nullptr;
    if (!unix) throw std::runtime_error("no Unix path for " + Narrow(path));
    std::string quoted = "'" + std::string(unix) + "'";
    HeapFree(GetProcessHeap(), 0, unix);
    return quoted;
}

void MakeRegistryLink(HKEY root, const std::wstring& key, const std::wstring& target) {
    HKEY h;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                        nullptr, &h, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot make the link " + Narrow(key));
    const LONG set = RegSetValueExW(h, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.c_str()),
                                    static_cast<DWORD>(target.size() * sizeof(wchar_t)));
    RegCloseKey(h);
    if (set != ERROR_SUCCESS) throw std::runtime_error("cannot point the link " + Narrow(key));
}

KernelHandle FilteredAdministratorToken() {
    HANDLE opened = nullptr, made = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &opened)) throw std::runtime_error("OpenProcessToken");
    const KernelHandle process(opened);
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                             &administrators);
    SID_AND_ATTRIBUTES disable = {administrators, 0};
    CreateRestrictedToken(process.get(), 0, 1, &disable, 0, nullptr, 0, nullptr, &made);
    KernelHandle filtered(made);
    // The group must be there, for deny only, or the token shows nothing.
    DWORD size = 0;
    GetTokenInformation(filtered.get(), TokenGroups, nullptr, 0, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    bool denyOnly = false;
    if (filtered && GetTokenInformation(filtered.get(), TokenGroups, buffer.data(), size, &size)) {
        const TOKEN_GROUPS* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
        for (DWORD i = 0; i < groups->GroupCount; ++i)
            if (EqualSid(groups->Groups[i].Sid, administrators))
                denyOnly = (groups->Groups[i].Attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0;
    }
    FreeSid(administrators);
    if (!denyOnly) throw std::runtime_error("no token with Administrators for deny only");
    return filtered;
}

UINT CallHandlerWithToken(HANDLE token, const char* handler, TestPackage& pkg) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --call-handler " + Widen(handler) + L" \"" + pkg.Save() + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessAsUserW(token, nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &child))
        return ERROR_CREATE_FAILED;
    const KernelHandle process(child.hProcess), thread(child.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = ERROR_CREATE_FAILED;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

int RunHandlerOnPackage(const char* handler, const std::wstring& package) {
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MSIHANDLE session = 0;
    if (MsiOpenPackageW(package.c_str(), &session) != ERROR_SUCCESS) return ERROR_CREATE_FAILED;
    const UINT result = CallHandler(handler, session);
    MsiCloseHandle(session);
    return static_cast<int>(result);
}
