#include "log/install_log.h"

#include <direct.h>
#include <msi.h>
#include <msiquery.h>
#include <sys/timeb.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

#include "session/session.h"
#include "util/handles.h"

namespace {

constexpr int kLineChars = 512;
constexpr DWORD kTempPathChars = 1000;
const wchar_t kDirName[] = L"HVInstLog";
const wchar_t kFileName[] = L"install_varnet_R33.elg";
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
        _wmkdir(dir);  // usually there already
        path_ = XString(temp) + kDirName + L"\\" + kFileName;
    }
    ~InstallLog() { CloseChildOutputHandle(); }

    int Write(DWORD errorCode, const wchar_t* label, const wchar_t* format, va_list args);
    const XString& Path() const { return path_; }
    bool OpenChildHandle(STARTUPINFOW* si);
    void CloseChildHandle() { childHandle_.reset(); }
    bool Mirroring() const { return mirroring_; }

private:
    void Mirror(const wchar_t* line);

    KernelHandle childHandle_;
    XString path_;
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
    wchar_t* text = nullptr;
    // IGNORE_INSERTS: a system text with %1 inserts must not read arguments we never pass.
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, errorCode, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (n && text) line.Append(text);
    if (text) LocalFree(text);
}

void InstallLog::Mirror(const wchar_t* line) {
    MsiHandle record(MsiCreateRecord(1));
    if (!record) return;
    MsiRecordSetStringW(record.get(), 0, line);
    mirroring_ = true;
    MsiProcessMessage(g_hMsi, INSTALLMESSAGE_INFO, record.get());
    mirroring_ = false;
}

int InstallLog::Write(DWORD errorCode, const wchar_t* label, const wchar_t* format, va_list args) {
    // Opened per line, and per call: a line logged while this one is being
    // passed to the installer gets its own stream.
    FileStream stream(_wfopen(path_.wvalue(), L"a+"));
    if (!stream) {
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

    OutputDebugStringW(line.Text());
    Mirror(line.Text());

    // The file holds ANSI text; text mode turns the line feed into CR LF.
    int bytes = WideCharToMultiByte(CP_ACP, 0, line.Text(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
    if (bytes > 0) WideCharToMultiByte(CP_ACP, 0, line.Text(), -1, &ansi[0], bytes, nullptr, nullptr);
    fputs(ansi.c_str(), stream.get());
    fputs("\n", stream.get());
    return 1;
}

bool InstallLog::OpenChildHandle(STARTUPINFOW* si) {
    SECURITY_DESCRIPTOR sd;
    if (!si || !InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION)) return false;
    SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, TRUE};
    // Shared for reading too: a grandchild may keep the inherited handle after
    // the child ends, and the log must stay readable and appendable meanwhile.
    HANDLE h = CreateFileW(path_.wvalue(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    SetFilePointer(h, 0, nullptr, FILE_END);
    childHandle_.reset(h);
    si->hStdOutput = h;
    si->hStdError = h;
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
