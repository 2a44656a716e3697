// Command lines of the client's kernel tools and the split-install batch file.
#include <cstdarg>
#include <string>
#include <vector>

#include "kernel/command_line.h"
#include "kernel/kernel.h"
#include "log/install_log.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "upgrade/upgrade.h"
#include "util/files.h"

namespace {

const wchar_t kLabel[] = L"Drivers Controller";
const wchar_t kAdapterId[] = L"hv_vgvna";
// Beside bin\bdinst.bat, which names it by its own folder ("%~dps0bdtemp").
const wchar_t kBatchTemp[] = L"bin\\bdtemp";

// The 8.3 form of an existing file; empty when it cannot be had.
std::wstring ShortPath(const std::wstring& path) {
    wchar_t out[kCommandChars] = L"";
    DWORD n = GetShortPathNameW(path.c_str(), out, kCommandChars);
    return (n == 0 || n >= static_cast<DWORD>(kCommandChars)) ? std::wstring() : std::wstring(out);
}

std::wstring Verbosity() { return Widened(GetGuiSwitch()).wvalue(); }

// Formats, logs (with `logFormat`) and runs one tool line.
UINT Run(const wchar_t* logFormat, bool wait, const wchar_t* format, ...) {
    wchar_t command[kCommandChars];
    va_list args;
    va_start(args, format);
    const bool fits = FormatCommandLineV(command, kLabel, format, args);
    va_end(args);
    if (!fits) return kRunNotStarted;
    LogMessage(0, kLabel, logFormat, command);
    return Tamber_RunProcess(command, wait);
}

// Vista and later keep a copy of the adapter's driver package to clean too.
UINT WithCacheCleaning(UINT result, const std::wstring& dir, const wchar_t* failure) {
    if (result == 0 && isVista() && RemoveVNAFromDriversCache(dir.c_str()) != 0) LogMessage(0, kLabel, L"%s", failure);
    return result;
}

bool RefusedForTemp(DWORD error) {
    if (error == ERROR_SUCCESS) return false;
    LogMessage(error, kLabel,
               L"No temporary directory that only SYSTEM and the Administrators can write could be made; "
               L"VN_SMS.exe and the batch file are not run");
    return true;
}

// The split batch's own TMP: its list there, which in SYSTEM's TMP any user
// could rewrite between the lines that write and read it. The batch may run
// long after this call (its last line after a restart), so the directory
// lies beside it in the installation directory, which only SYSTEM and the
// Administrators can write and the removal deletes. It is made afresh, what
// was there going first (a link itself, never what it leads to).
DWORD MakeBatchTemp(const std::wstring& dir) {
    const std::wstring path = dir + kBatchTemp;
    DeleteDirTree(path.c_str());
    return CreatePrivateDirectory(path);
}

enum class BatchTemp { kInherited, kOwn };

// Writes bin\bdinst.bat and runs VN_SMS.exe on it with a TMP of its own,
// removed when it returns; with BatchTemp::kOwn the batch's own is made first.
UINT RunBatch(const wchar_t* logFormat, const std::wstring& dir, const std::vector<std::wstring>& lines,
              BatchTemp temp) {
    std::string batch;
    if (!NarrowPath(kLabel, dir + L"bin\\bdinst.bat", kCommandChars, &batch)) return kRunNotStarted;
    {
        AnsiTextWriter out(batch.c_str());
        for (const std::wstring& line : lines) out << line.c_str();
    }
    char shortBatch[kCommandChars] = "";
    DWORD n = GetShortPathNameA(batch.c_str(), shortBatch, kCommandChars);
    if (n == 0 || n >= static_cast<DWORD>(kCommandChars)) shortBatch[0] = 0;
    wchar_t command[kCommandChars];
    if (!FormatCommandLine(command, kLabel, L"\"%s\\bin\\VN_SMS.exe\"  -b -n -l -f \"%s\" -p %S", dir.c_str(),
                           Widened(GetInstallLogPath()).wvalue(), shortBatch))
        return kRunNotStarted;
    LogMessage(0, kLabel, logFormat, command);
    if (temp == BatchTemp::kOwn && RefusedForTemp(MakeBatchTemp(dir))) return kRunNotStarted;
    PrivateTempDir own;
    if (RefusedForTemp(own.Error())) return kRunNotStarted;
    return Tamber_RunProcess(command, true, own.Environment().c_str());
}

// Formats each batch line; false when one would not fit.
bool BatchLines(std::vector<std::wstring>* lines, std::initializer_list<std::pair<const wchar_t*, std::vector<std::wstring>>> formats) {
    for (const auto& f : formats) {
        wchar_t line[kCommandChars];
        const std::vector<std::wstring>& a = f.second;
        auto arg = [&](size_t i) { return i < a.size() ? a[i].c_str() : L""; };
        if (!FormatCommandLine(line, kLabel, f.first, arg(0), arg(1), arg(2))) return false;
        lines->push_back(line);
    }
    return true;
}

const wchar_t kStartXpdrv[] = L"start \"xpdrv\" \"%sbin\\xpdrv.exe\"\n";
const wchar_t kDeleteList[] = L"del /q /f \"%%TMP%%\\bdkern.tmp\"\n";
const wchar_t kDeleteListedInf[] = L"for /f \"tokens=1 delims=. \" %%%%i in (%%TMP%%\\bdkern.tmp) do del /q /f %%%%i.inf\n";
const wchar_t kDeleteListedPnf[] = L"for /f \"tokens=1 delims=. \" %%%%i in (%%TMP%%\\bdkern.tmp) do del /q /f %%%%i.pnf\n";

}  // namespace

UINT InstallBD(const XString& dir) {
    const std::wstring d = Widened(dir).wvalue();
    return Run(L"InstallBD: path = %s", true, L"\"%sboot\\modules\\bdkern.exe\"  -v %s -l %s -c s -i hv_bd1", d.c_str(),
               Verbosity().c_str(), ShortPath(d + L"boot\\modules\\netbdvn.inf").c_str());
}

UINT RunBDKern(const XString& dir, const wchar_t* arguments) {
    return Run(L"RunBDKern: cmdline = %s", true, L"\"%sboot\\modules\\bdkern.exe\"  %s", Widened(dir).wvalue(),
               arguments ? arguments : L"");
}

UINT RunConn_config(const XString& dir, const wchar_t* arguments) {
    return Run(L"RunConn_config: cmdline = %s", true, L"\"%sbin\\conn_config.exe\"  %s", Widened(dir).wvalue(),
               arguments ? arguments : L"");
}

UINT updateSignBD(const XString& dir) {
    const std::wstring d = Widened(dir).wvalue();
    const std::wstring inf = ShortPath(d + L"boot\\modules\\netbdvnm.inf");
    SetCurrentDirectoryW((d + L"boot\\modules\\").c_str());  // stays there afterwards
    return Run(L"updateSignBD: path = %s", true, L"\"%sboot\\modules\\bdkern.exe\"  -v -p %s -c s -i HV_BD1MP",
               d.c_str(), inf.c_str());
}

UINT UninstallBD(const XString& dir) {
    return Run(L"UninstallBD: path = %s", true, L"\"%sboot\\modules\\bdkern.exe\"  -v %s -u hv_bd1",
               Widened(dir).wvalue(), Verbosity().c_str());
}

UINT InstallVNA(const XString& dir) {
    const std::wstring d = Widened(dir).wvalue();
    return Run(L"InstallVNA: path = %s", true,
               L"\"%sbin\\vna_utils.exe\" -d product install Varnet  \"%sboot\\modules\\netvna.inf\" "
               L"System32\\drivers\\omdrv.sys",
               d.c_str(), d.c_str());
}

UINT UnInstallVNA(const XString& dir) {
    const std::wstring d = Widened(dir).wvalue();
    UINT result = Run(L"UnInstallVNA: path = %s", true, L"\"%sbin\\vna_utils.exe\" -d product uninstall Varnet", d.c_str());
    return WithCacheCleaning(result, d, L"UnInstallVNA: ERROR removing vna from drivers cache!");
}

UINT UnhookVNA(const XString& dir) {
    return Run(L"UnhookVNA: path = %s", true, L"\"%sbin\\vna_utils.exe\" -d om drv unhook", Widened(dir).wvalue());
}

UINT RemoveVNADevice(const XString& dir) {
    const std::wstring d = Widened(dir).wvalue();
    UINT result = Run(L"RemoveVNADevice: path = %s", true, L"\"%sbin\\vna_utils.exe\" -d vna dev remove %s", d.c_str(),
                      kAdapterId);
    return WithCacheCleaning(result, d, L"RemoveVNADevice: ERROR removing vna from drivers cache!");
}

UINT RemoveVNAFromDriversCache(const XString& dir) {
    const std::wstring d = Widened(dir).wvalue();
    return Run(L"RemoveVNAFromDriversCache: path = %s", true,
               L"\"%sbin\\vna_utils.exe\" -d vna dev clean_cache \"%sboot\\modules\\netvna.inf\" %s ", d.c_str(),
               d.c_str(), kAdapterId);
}

UINT RunXPDRV(const XString& dir) {
    return Run(L"RunXPDRV: cmdline = %s", false, L"\"%sbin\\xpdrv.exe\"", Widened(dir).wvalue());
}

UINT InstallBD_with_VN_SMS_service(const XString& dir) {
    const std::wstring d = Widened(dir).wvalue(), system = Widened(GetSystemDir()).wvalue();
    const std::wstring inf = ShortPath(d + L"boot\\modules\\netbdvn.inf");
    // The batch names its own TMP by its own folder, in the short form: the
    // for-lines take the path unquoted. Its findstr and rundll32 are the
    // system's, not what a search of the current directory or PATH finds.
    std::vector<std::wstring> lines;
    if (!BatchLines(&lines, {
            {L"set \"TMP=%%~dps0bdtemp\"\n", {}},
            {kStartXpdrv, {d}},
            {kDeleteList, {}},
            {L"\"%sfindstr.exe\" /m /i \"hv_bd1\" \"%%WINDIR%%\\INF\\oem*.inf\" > \"%%TMP%%\\bdkern.tmp\"\n", {system}},
            {kDeleteListedInf, {}},
            {kDeleteListedPnf, {}},
            {kDeleteList, {}},
            {L"\"%sfindstr.exe\" /m /i \"hv_bd1\" \"%%WINDIR%%\\INF\\netbd*.inf\" > \"%%TMP%%\\bdkern.tmp\"\n", {system}},
            {kDeleteListedInf, {}},
            {kDeleteListedPnf, {}},
            {L"\"%sboot\\modules\\bdkern.exe\"  -v -u HV_BD1\n", {d}},
            {L"\"%sboot\\modules\\bdkern.exe\"  -v -u HV_BD1MP\n", {d}},
            {L"\"%sboot\\modules\\bdkern.exe\"  -v %s -l %s -c s -i hv_bd1\n", {d, Verbosity(), inf}},
            // The library's lines go to the install log, not into the list's directory.
            {L"set \"TMP=%%TEMP%%\"\n", {}},
            {L"\"%srundll32.exe\" \"%sbin\\tamber.dll\",SetServicesStartTypeAuto2\n", {system, d}},
        }))
        return kRunNotStarted;
    return RunBatch(L"InstallBD_with_VN_SMS_service: path = %s", d, lines, BatchTemp::kOwn);
}

UINT updateSignBD_with_VN_SMS_service(const XString& dir) {
    const std::wstring d = Widened(dir).wvalue();
    const std::wstring inf = ShortPath(d + L"boot\\modules\\netbdvnm.inf");
    std::vector<std::wstring> lines;
    if (!BatchLines(&lines, {
            {kStartXpdrv, {d}},
            {L"chdir \"%sboot\\modules\\\"\n", {d}},
            {L"\"%sboot\\modules\\bdkern.exe\"  -v -p %s -c s -i HV_BD1MP\n", {d, inf}},
            {L"\"%srundll32.exe\" \"%sbin\\tamber.dll\" SetServicesStartTypeAuto2\n", {Widened(GetSystemDir()).wvalue(), d}},
        }))
        return kRunNotStarted;
    return RunBatch(L"updateSignBD_with_VN_SMS_service: path = %s", d, lines, BatchTemp::kInherited);
}

BOOL CopyBDsys(const XString& dir) {
    const std::wstring source = std::wstring(Widened(dir).wvalue()) + L"boot\\modules\\bd.sys";
    wchar_t from[kShortPathChars] = L"", to[kShortPathChars] = L"";
    GetExpandedShortPath(source.c_str(), from);
    GetExpandedShortPath(L"%windir%\\system32\\drivers", to);
    const std::wstring destination = std::wstring(to) + L"\\bd.sys";
    BOOL copied = CopyFileW(from, destination.c_str(), FALSE);
    if (!copied)
        LogMessage(GetLastError(), kLabel, L"CopyBDsys: Failed to copy bd.sys from %s to %s", from, destination.c_str());
    return copied;
}
