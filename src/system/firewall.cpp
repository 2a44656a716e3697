#include <string>

#include "kernel/kernel.h"
#include "log/install_log.h"
#include "session/session.h"
#include "system/system.h"
#include "util/files.h"

namespace {

const wchar_t kLabel[] = L"OnBegin";
// After the program, which is named in full: a bare name would be looked for
// in the current directory and the Path first.
const wchar_t kDeletePrefix[] = L"advfirewall firewall delete rule name = ";
const wchar_t kAddPrefix[] = L"advfirewall firewall add rule name = ";

struct Rule {
    const wchar_t* name;     // quoted, with a trailing blank
    const wchar_t* program;  // format for the installation directory; null: delete only
};
// Deleted in this order; the SDS agent rule of older versions is not added again.
const Rule kRules[] = {
    {L"\"Tessel-1 Varnet/Varguard service\" ", L"\"%sbin\\VN_SERVICE.EXE\" "},
    {L"\"Tessel-1 Varnet/Varguard application\" ", L"\"%sbin\\VN_GUI.EXE\" "},
    {L"\"Tessel-1 Varnet/Varguard command line\" ", L"\"%sbin\\VGC.EXE\" "},
    {L"\"Tessel-1 Varnet/Varguard SDS agent\" ", nullptr},
    {L"\"Tessel-1 Varnet/Varguard diagnostics\" ", L"\"%sbin\\VN_DIAGNOSTICS.EXE\" "},
};

std::wstring Formatted(const wchar_t* format, const wchar_t* a, const wchar_t* b = L"", const wchar_t* c = L"") {
    wchar_t text[1024];
    _snwprintf(text, sizeof text / sizeof text[0], format, a, b, c);
    text[sizeof text / sizeof text[0] - 1] = 0;
    return text;
}

}  // namespace

void DeleteFirewallRule(const wchar_t* prefix, const wchar_t* rule) {
    if (Tamber_RunProcess(Formatted(L"%s%s", prefix, rule).c_str(), true) != 0)
        LogMessage(0, kLabel, L"Failed to delete Firewall inbound rule for %s", rule);
}

void AddFirewallRule(const wchar_t* prefix, const wchar_t* rule, const wchar_t* program) {
    // The runner cuts a line longer than 255 characters.
    std::wstring command = Formatted(L"%s%s program = %s action=allow dir=in", prefix, rule, program);
    if (Tamber_RunProcess(command.c_str(), true) != 0)
        LogMessage(0, kLabel, L"Failed to add App %s to Firewall exceptions list", rule);
}

void ConfigureFirewallRules() {
    if (!isVista()) return;
    XString dir;
    GetTargetPath(L"INSTALLDIR", &dir);
    if (dir.length() == 0) return;
    const XString system = GetSystemDir();
    if (system.length() == 0) {
        LogMessage(0, kLabel, L"The system directory is unknown; the firewall rules are left as they are");
        return;
    }
    const std::wstring netsh = L"\"" + std::wstring(system.wvalue()) + L"netsh.exe\" ";
    const std::wstring remove = netsh + kDeletePrefix, add = netsh + kAddPrefix;
    for (const Rule& r : kRules) DeleteFirewallRule(remove.c_str(), r.name);
    for (const Rule& r : kRules)
        if (r.program) AddFirewallRule(add.c_str(), r.name, Formatted(r.program, dir.wvalue()).c_str());
}
