#include "log/install_log.h"

#include <msi.h>
#include <msiquery.h>
#include <sddl.h>
#include <sys/timeb.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>
#include <utility>

#include "session/session.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

constexpr int kLineChars = 512;
constexpr DWORD kTempPathChars = 1000;
const wchar_t kDirName[] = L"HVInstLog";
const wchar_t kFileName[] = L"install_varnet_R33.elg";
const wchar_t kLabel[] = L"LogMessage";
const wchar_t kHashes[] = L"######################################################################";
const wchar_t* const kMonths[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                  L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};

// Fills a fixed line buffer; whatever does not fit is cut and the line stays
// terminated.
class LineBuilder {
public:
    LineBuilder() = default;
    void Append(const wchar_t* text) {
        while (text && *text && used_ < kLineChars - 1) line_[used_++] = *text++;
        line_[used_] = 0;
    }
    void AppendV(const wchar_t* format, va_list args) {
        int room = kLineChars - 1 - used_;
        if (room <= 0 || !format) return;
        int n = _vsnwprintf(line_ + used_, static_cast<size_t>(room), format, args);
        used_ = (n < 0 || n > room) ? kLineChars - 1 : used_ + n;
        line_[used_] = 0;
    }
    void AppendF(const wchar_t* format, ...) {
        va_list args;
        va_start(args, format);
        AppendV(format, args);
        va_end(args);
    }
    const wchar_t* Text() const { return line_; }

private:
    wchar_t line_[kLineChars] = {};  // zeroed: a failed format leaves no stray text
    int used_ = 0;
};

class InstallLog {
public:
    InstallLog() {
        wchar_t temp[kTempPathChars] = L"";
        GetTempPathW(kTempPathChars, temp);
        wchar_t dir[kTempPathChars + 16];
        _snwprintf(dir, sizeof dir / sizeof dir[0], L"%s%s", temp, kDirName);
        dir[sizeof dir / sizeof dir[0] - 1] = 0;
        temp_ = temp;
        dir_ = dir;
        path_ = XString(temp) + kDirName + L"\\" + kFileName;
    }
    ~InstallLog() { CloseChildOutputHandle(); }

    int Write(DWORD errorCode, const wchar_t* label, const wchar_t* format, va_list args);
    const XString& Path() const { return path_; }
    bool OpenChildHandle(STARTUPINFOW* si);
    void CloseChildHandle() { childHandle_.reset(); }
    bool Mirroring() const { return mirroring_; }

private:
    KernelHandle Open(DWORD access, bool inheritable, std::wstring* refusal);
    const XString& Account();
    std::wstring ForeignOwner(HANDLE object);
    LocalMemory<void> OwnDescriptor(bool directory);
    void ReportRefusal(const std::wstring& refusal);
    void Mirror(const wchar_t* line);

    KernelHandle childHandle_;
    KernelHandle dirHandle_;  // HVInstLog, once checked
    XString path_;
    std::wstring temp_, dir_;
    std::wstring expectedFile_;  // the file's final path; empty where the system cannot tell
    std::wstring reported_;     // the refusal last reported, until a line is written again
    XString account_;           // the running account's SID, once asked
    bool accountKnown_ = false;
    bool dirTried_ = false;     // HVInstLog made at the first line, as at load before
    bool mirroring_ = false;
};

// Built when the library loads, so the path is fixed before any handler runs.
InstallLog g_installLog;

InstallLog& TheLog() { return g_installLog; }

void AppendTimeStamp(LineBuilder& line) {
    time_t now = time(nullptr);
    struct tm* local = localtime(&now);
    struct _timeb fine;
    _ftime(&fine);
    if (!local) {
        line.Append(L" ");
        return;
    }
    line.AppendF(L"<%d %s %2d:%02d:%02d.%03u> ", local->tm_mday, kMonths[local->tm_mon % 12], local->tm_hour,
                 local->tm_min, local->tm_sec, static_cast<unsigned>(fine.millitm));
}

void AppendErrorText(LineBuilder& line, DWORD errorCode) {
    line.AppendF(L" (Error code:%u)", static_cast<unsigned>(errorCode));
    LocalMemory<wchar_t> text;
    // IGNORE_INSERTS: a system text with %1 inserts must not read arguments we never pass.
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, errorCode, 0, reinterpret_cast<wchar_t*>(text.out()), 0, nullptr);
    if (n && text) line.Append(text.get());
}

void InstallLog::Mirror(const wchar_t* line) {
    MsiHandle record(MsiCreateRecord(1));
    if (!record) return;
    MsiRecordSetStringW(record.get(), 0, line);
    mirroring_ = true;
    MsiProcessMessage(g_hMsi, INSTALLMESSAGE_INFO, record.get());
    mirroring_ = false;
}

// Only SYSTEM, the Administrators and the running account may own what the
// log uses: a user who made HVInstLog or the file first stays its owner and
// can later empty it and put a junction there, which XP cannot see through.
const XString& InstallLog::Account() {
    if (!accountKnown_) {
        account_ = CurrentAccountSid();
        accountKnown_ = true;
    }
    return account_;
}

std::wstring InstallLog::ForeignOwner(HANDLE object) { return ::ForeignOwner(object, Account(), L"the running account"); }

// What this process makes is for SYSTEM, the Administrators and the running
// account alone (an administrator's UI sequence writes to its own %TEMP%).
LocalMemory<void> InstallLog::OwnDescriptor(bool directory) {
    const XString& account = Account();
    const std::wstring ace = directory ? L"(A;OICI;FA;;;" : L"(A;;FA;;;";
    std::wstring sddl = L"D:P" + ace + L"SY)" + ace + L"BA)";
    if (account.length() > 0 && !account.equalsIgnoreCase(XString(L"S-1-5-18"))) sddl += ace + account.wvalue() + L")";
    LocalMemory<void> descriptor;
    ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor.out(), nullptr);
    return descriptor;
}

// The temporary directory is SYSTEM's for the deferred handlers, and any
// user may write there: HVInstLog or the file may be a link, a junction, a
// second name of a file the user chose, or the user's own. Each level is
// opened itself and checked through its handle, and the line goes through
// the file's handle. HVInstLog is checked once and then held without delete
// sharing, so it cannot be renamed or replaced while the library is loaded.
KernelHandle InstallLog::Open(DWORD access, bool inheritable, std::wstring* refusal) {
    LinkFinding finding;
    if (!dirHandle_) {
        bool made = false;
        if (!dirTried_) {
            dirTried_ = true;
            LocalMemory<void> own = OwnDescriptor(true);
            SECURITY_ATTRIBUTES sa = {sizeof sa, own.get(), FALSE};
            made = CreateDirectoryW(dir_.c_str(), &sa) != 0;  // usually there already
        }
        KernelHandle temp(CreateFileW(temp_.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                      FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        KernelHandle dir = OpenWithoutLinks(dir_, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS, FinalPath(temp.get(), kDirName), &finding);
        if (finding) *refusal = dir_ + L" " + finding.text;
        if (!dir || finding) return {};
        const std::wstring owner = made ? std::wstring() : ForeignOwner(dir.get());
        if (!owner.empty()) {
            *refusal = dir_ + L" " + owner;
            return {};
        }
        expectedFile_ = FinalPath(dir.get(), kFileName);
        dirHandle_ = std::move(dir);
    }
    LocalMemory<void> own;
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, inheritable};
    // Created only where no name exists yet, so never through a link that
    // leads nowhere; the last try covers a file made in between.
    for (DWORD creation : {OPEN_EXISTING, CREATE_NEW, OPEN_EXISTING}) {
        if (creation == CREATE_NEW) {
            own = OwnDescriptor(false);
            sa.lpSecurityDescriptor = own.get();
        }
        KernelHandle file = OpenWithoutLinks(path_.wvalue(), access | FILE_READ_ATTRIBUTES | READ_CONTROL,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, creation, FILE_ATTRIBUTE_NORMAL,
                                             expectedFile_, &finding, &sa);
        if (finding) {
            *refusal = std::wstring(path_.wvalue()) + L" " + finding.text;
            return {};
        }
        if (!file) continue;
        const std::wstring owner = creation == CREATE_NEW ? std::wstring() : ForeignOwner(file.get());
        if (!owner.empty()) {
            *refusal = std::wstring(path_.wvalue()) + L" " + owner;
            return {};
        }
        return file;
    }
    return {};
}

// The log cannot log its own refusal: that goes to the debugger and the
// installer's log, once until a line reaches the file again. Set before it is
// mirrored, so a line logged meanwhile does not report it again.
void InstallLog::ReportRefusal(const std::wstring& refusal) {
    if (refusal == reported_) return;
    reported_ = refusal;
    LineBuilder line;
    AppendTimeStamp(line);
    line.AppendF(L"<%s> %s; its lines go only to the debugger and the installer's log", kLabel, refusal.c_str());
    OutputDebugStringW(line.Text());
    Mirror(line.Text());
}

int InstallLog::Write(DWORD errorCode, const wchar_t* label, const wchar_t* format, va_list args) {
    // Opened per line, and per call: a line logged while this one is being
    // passed to the installer gets its own handle.
    std::wstring refusal;
    KernelHandle file = Open(FILE_APPEND_DATA, false, &refusal);
    if (!file && refusal.empty()) {
        OutputDebugStringW(L"Tamber: Failed to open log file.\n");
        return 0;
    }
    LineBuilder line;
    AppendTimeStamp(line);
    line.Append(L"<");
    line.Append(label);
    line.Append(L"> ");
    line.AppendV(format, args);
    if (errorCode != 0) AppendErrorText(line, errorCode);

    if (!file) ReportRefusal(refusal);
    OutputDebugStringW(line.Text());
    Mirror(line.Text());
    if (!file) return 0;
    reported_.clear();

    // ANSI text with CR LF line ends, as a text-mode stream writes it.
    int bytes = WideCharToMultiByte(CP_ACP, 0, line.Text(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
    if (bytes > 0) WideCharToMultiByte(CP_ACP, 0, line.Text(), -1, &ansi[0], bytes, nullptr, nullptr);
    std::string text;
    for (const char* c = ansi.c_str(); *c; ++c) {
        if (*c == '\n') text += '\r';
        text += *c;
    }
    text += "\r\n";
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return 1;
}

bool InstallLog::OpenChildHandle(STARTUPINFOW* si) {
    if (!si) return false;
    // Shared for reading too: a grandchild may keep the inherited handle after
    // the child ends, and the log must stay readable and appendable meanwhile.
    std::wstring refusal;
    KernelHandle h = Open(GENERIC_WRITE, true, &refusal);
    if (!refusal.empty()) ReportRefusal(refusal);
    if (!h) return false;
    SetFilePointer(h.get(), 0, nullptr, FILE_END);
    si->hStdOutput = h.get();
    si->hStdError = h.get();
    childHandle_ = std::move(h);
    return true;
}

}  // namespace

int LogMessage(DWORD errorCode, const wchar_t* label, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int written = TheLog().Write(errorCode, label, format, args);
    va_end(args);
    return written;
}

void LogFunctionBanner(const wchar_t* name, int started) {
    LogMessage(0, L"", L"");
    LogMessage(0, L"", kHashes);
    LogMessage(0, name, L"Function %s", started ? L"started" : L"ended");
    LogMessage(0, L"", kHashes);
}

XString GetInstallLogPath() { return TheLog().Path(); }

bool RedirectChildOutputToLog(STARTUPINFOW* startupInfo) { return TheLog().OpenChildHandle(startupInfo); }

void CloseChildOutputHandle() { TheLog().CloseChildHandle(); }

bool IsMirroringLogLine() { return TheLog().Mirroring(); }
