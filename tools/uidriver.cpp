// Test driver: plays the person in front of the installer's dialogs. Run with
// wine in the prefix (and on the display) of a `wine msiexec /i` with a full
// user interface.
//   uidriver [--timeout SECONDS] [--dialog TITLE] COMMAND [ARGS]
//     wait TITLE          until a dialog titled TITLE is shown
//     gone TITLE          until no dialog titled TITLE is left
//     title               print the current dialog's title
//     texts               print the current dialog's visible controls, one a
//                         line: CLASS <tab> STATE <tab> TEXT, STATE "-" or
//                         "disabled" and/or "checked" joined by ","
//     click TEXT          press the button TEXT
//     check TEXT          select the radio button (or tick the check box) TEXT
//     uncheck TEXT        clear the check box TEXT
//     type N|LABEL TEXT   put TEXT into the Nth edit field (from 1), or the
//                         one nearest below or right of the label LABEL
// A dialog is a visible top-level window of the installer's dialog class or a
// message box (#32770); the current one is the topmost that owns no other
// (a spawned dialog is owned by the one it came from); --dialog names it
// instead. Texts compare without the '&' of keyboard shortcuts. Every command
// waits for its condition (30 s unless --timeout) and exits 1 with the reason
// and what was shown when it did not come.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "text.h"

namespace {

const wchar_t kInstallerDialogClass[] = L"MsiDialogCloseClass";
const wchar_t kMessageBoxClass[] = L"#32770";
const DWORD kPollMs = 100;
// A dialog whose thread is busy (an action running) answers later; the
// reply's wait is bounded so that a hung one fails the command instead.
const UINT kReplyMs = 5000;

struct Options {
    DWORD timeoutMs = 30000;
    const wchar_t* dialog = nullptr;
};
Options g_options;

void Print(const std::wstring& line) {
    std::string bytes = Utf8(line + L"\n");
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = L"";
    GetClassNameW(hwnd, name, 256);
    return name;
}

// A title is read where the system keeps it, without waiting for the
// window's thread, which may be busy running an action.
std::wstring TitleOf(HWND hwnd) {
    wchar_t title[512] = L"";
    GetWindowTextW(hwnd, title, 512);
    return title;
}

bool KeepsOwnText(const std::wstring& cls) {
    return _wcsicmp(cls.c_str(), L"Edit") == 0 || _wcsnicmp(cls.c_str(), L"RichEdit", 8) == 0 ||
           _wcsicmp(cls.c_str(), L"ComboBox") == 0;
}

// An edit field of another process keeps its text in that process; only its
// thread can tell.
std::wstring TextOf(HWND hwnd) {
    if (!KeepsOwnText(ClassOf(hwnd))) return TitleOf(hwnd);
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kReplyMs, &length)) return L"";
    std::vector<wchar_t> buffer(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, kReplyMs, &copied))
        return L"";
    return std::wstring(buffer.data(), copied);
}

// "&Next" reads "Next" on the screen; "&&" is a literal ampersand.
std::wstring Shown(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size()) ++i;
        else if (text[i] == L'&') continue;
        out += text[i];
    }
    return out;
}

// One line per control: line breaks inside a text are written as \n.
std::wstring OneLine(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r') continue;
        if (text[i] == L'\n') out += L"\\n";
        else out += text[i];
    }
    return out;
}

bool IsDialog(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId()) return false;
    std::wstring cls = ClassOf(hwnd);
    return cls == kInstallerDialogClass || cls == kMessageBoxClass;
}

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM param) {
    if (IsWindowVisible(hwnd) && IsDialog(hwnd)) reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

// Visible dialogs, topmost first.
std::vector<HWND> Dialogs() {
    std::vector<HWND> found;
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

bool Owns(HWND owner, HWND hwnd) {
    for (HWND up = GetWindow(hwnd, GW_OWNER); up; up = GetWindow(up, GW_OWNER))
        if (up == owner) return true;
    return false;
}

HWND CurrentDialog() {
    std::vector<HWND> dialogs = Dialogs();
    if (g_options.dialog) {
        for (HWND d : dialogs)
            if (TitleOf(d) == g_options.dialog) return d;
        return nullptr;
    }
    for (HWND candidate : dialogs) {
        bool ownsAnother = false;
        for (HWND other : dialogs) ownsAnother = ownsAnother || (other != candidate && Owns(candidate, other));
        if (!ownsAnother) return candidate;
    }
    return nullptr;
}

struct Control {
    HWND hwnd;
    std::wstring cls;
    std::wstring text;
    bool enabled;
};

BOOL CALLBACK CollectControl(HWND hwnd, LPARAM param) {
    // Radio buttons sit inside their group's window: visible on screen only
    // when every window up to the dialog is.
    if (!IsWindowVisible(hwnd)) return TRUE;
    reinterpret_cast<std::vector<Control>*>(param)->push_back({hwnd, ClassOf(hwnd), TextOf(hwnd), IsWindowEnabled(hwnd) != 0});
    return TRUE;
}

std::vector<Control> Controls(HWND dialog) {
    std::vector<Control> found;
    EnumChildWindows(dialog, CollectControl, reinterpret_cast<LPARAM>(&found));
    return found;
}

LONG ButtonKind(HWND hwnd) { return GetWindowLongW(hwnd, GWL_STYLE) & BS_TYPEMASK; }
bool IsRadio(HWND hwnd) { return ButtonKind(hwnd) == BS_RADIOBUTTON || ButtonKind(hwnd) == BS_AUTORADIOBUTTON; }
bool IsCheckBox(HWND hwnd) {
    LONG kind = ButtonKind(hwnd);
    return kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX || kind == BS_3STATE || kind == BS_AUTO3STATE;
}
bool IsChoice(HWND hwnd) { return IsRadio(hwnd) || IsCheckBox(hwnd); }
bool IsPushButton(HWND hwnd) { return ButtonKind(hwnd) == BS_PUSHBUTTON || ButtonKind(hwnd) == BS_DEFPUSHBUTTON; }
bool IsButton(const Control& c) { return _wcsicmp(c.cls.c_str(), L"Button") == 0; }
bool IsEdit(const Control& c) { return _wcsicmp(c.cls.c_str(), L"Edit") == 0; }

bool Checked(HWND hwnd) {
    DWORD_PTR state = 0;
    SendMessageTimeoutW(hwnd, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kReplyMs, &state);
    return state == BST_CHECKED;
}

// Buttons and labels underline the letter after '&'; fields show it as typed.
bool ShowsShortcut(const Control& c) {
    if (IsButton(c)) return true;
    bool label = _wcsicmp(c.cls.c_str(), L"Static") == 0;
    return label && !(GetWindowLongW(c.hwnd, GWL_STYLE) & SS_NOPREFIX);
}

std::wstring StateOf(const Control& c) {
    std::wstring state;
    if (!c.enabled) state = L"disabled";
    if (IsButton(c) && (IsRadio(c.hwnd) || IsCheckBox(c.hwnd)) && Checked(c.hwnd))
        state += state.empty() ? L"checked" : L",checked";
    return state.empty() ? L"-" : state;
}

std::vector<std::wstring> DescribeControls(HWND dialog) {
    std::vector<std::wstring> lines;
    for (const Control& c : Controls(dialog)) {
        // Lines, pictures and the frames of radio groups have no text to read.
        if (c.text.empty() && (_wcsicmp(c.cls.c_str(), L"Static") == 0 || IsButton(c))) continue;
        lines.push_back(c.cls + L"\t" + StateOf(c) + L"\t" + OneLine(ShowsShortcut(c) ? Shown(c.text) : c.text));
    }
    return lines;
}

// What the screen showed, for the message of a command that failed.
void Explain(const std::wstring& what) {
    fwprintf(stderr, L"uidriver: %ls after %lu s\n", what.c_str(), g_options.timeoutMs / 1000);
    std::vector<HWND> dialogs = Dialogs();
    if (dialogs.empty()) fwprintf(stderr, L"uidriver: no dialog is shown\n");
    HWND current = CurrentDialog();
    for (HWND d : dialogs) {
        fwprintf(stderr, L"uidriver: %ls dialog \"%ls\" (%ls)\n", d == current ? L"current" : L"other",
                 TitleOf(d).c_str(), ClassOf(d).c_str());
        if (d != current) continue;
        for (const std::wstring& line : DescribeControls(d)) fwprintf(stderr, L"uidriver:   %ls\n", line.c_str());
    }
}

// Polls until `ready` holds; false when the time is up.
template <typename Condition>
bool WaitFor(Condition ready) {
    DWORD start = GetTickCount();
    for (;;) {
        if (ready()) return true;
        if (GetTickCount() - start >= g_options.timeoutMs) return false;
        Sleep(kPollMs);
    }
}

bool DialogTitled(const wchar_t* title) {
    for (HWND d : Dialogs())
        if (TitleOf(d) == title) return true;
    return false;
}

BOOL CALLBACK FindAnyTitled(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<std::pair<const wchar_t*, bool>*>(param);
    if (IsDialog(hwnd) && TitleOf(hwnd) == search->first) search->second = true;
    return !search->second;
}

// Hidden ones count too: the engine hides a dialog before destroying it.
bool AnyWindowTitled(const wchar_t* title) {
    std::pair<const wchar_t*, bool> search(title, false);
    EnumWindows(FindAnyTitled, reinterpret_cast<LPARAM>(&search));
    return search.second;
}

int Failed(const std::wstring& what) {
    Explain(what);
    return 1;
}

int Wait(const wchar_t* title) {
    if (WaitFor([&] { return DialogTitled(title); })) return 0;
    return Failed(L"no dialog \"" + std::wstring(title) + L"\"");
}

int Gone(const wchar_t* title) {
    if (WaitFor([&] { return !AnyWindowTitled(title); })) return 0;
    return Failed(L"dialog \"" + std::wstring(title) + L"\" is still there");
}

std::wstring NoDialog() {
    return g_options.dialog ? L"no dialog \"" + std::wstring(g_options.dialog) + L"\"" : std::wstring(L"no dialog");
}

int Title() {
    HWND dialog = nullptr;
    if (!WaitFor([&] { return (dialog = CurrentDialog()) != nullptr; })) return Failed(NoDialog());
    Print(TitleOf(dialog));
    return 0;
}

int Texts() {
    HWND dialog = nullptr;
    if (!WaitFor([&] { return (dialog = CurrentDialog()) != nullptr; })) return Failed(NoDialog());
    for (const std::wstring& line : DescribeControls(dialog)) Print(line);
    return 0;
}

// The enabled button of the current dialog that reads `text` and passes
// `kind`; a person cannot press a hidden or greyed one.
template <typename Kind>
HWND FindButton(const wchar_t* text, Kind kind) {
    HWND dialog = CurrentDialog();
    if (!dialog) return nullptr;
    for (const Control& c : Controls(dialog))
        if (IsButton(c) && c.enabled && kind(c.hwnd) && Shown(c.text) == Shown(text)) return c.hwnd;
    return nullptr;
}

// Posted, not sent: a click that opens a dialog runs that dialog's message
// loop before it returns.
int Click(const wchar_t* text) {
    HWND button = nullptr;
    if (!WaitFor([&] { return (button = FindButton(text, IsPushButton)) != nullptr; }))
        return Failed(L"no enabled button \"" + std::wstring(text) + L"\" on the current dialog");
    PostMessageW(button, BM_CLICK, 0, 0);
    return 0;
}

int Check(const wchar_t* text, bool on) {
    bool (*choice)(HWND) = on ? IsChoice : IsCheckBox;
    HWND button = nullptr;
    if (!WaitFor([&] { return (button = FindButton(text, choice)) != nullptr; }))
        return Failed(L"no enabled " + std::wstring(on ? L"radio button or check box" : L"check box") + L" \"" +
                      text + L"\" on the current dialog");
    if (Checked(button) == on) return 0;
    PostMessageW(button, BM_CLICK, 0, 0);
    // The installer sets a check box's mark itself once it took the click.
    if (WaitFor([&] { return Checked(button) == on; })) return 0;
    return Failed(L"\"" + std::wstring(text) + L"\" did not become " + (on ? L"checked" : L"unchecked"));
}

bool AllDigits(const wchar_t* text) {
    if (!*text) return false;
    for (; *text; ++text)
        if (!iswdigit(*text)) return false;
    return true;
}

// The edit nearest the label, looking right and down from its top left corner.
HWND EditByLabel(const std::vector<Control>& controls, const wchar_t* label) {
    const Control* found = nullptr;
    for (const Control& c : controls)
        if (_wcsicmp(c.cls.c_str(), L"Static") == 0 && Shown(c.text) == Shown(label)) found = &c;
    if (!found) return nullptr;
    RECT at;
    GetWindowRect(found->hwnd, &at);
    HWND best = nullptr;
    long bestDistance = 0;
    for (const Control& c : controls) {
        if (!IsEdit(c)) continue;
        RECT r;
        GetWindowRect(c.hwnd, &r);
        if (r.left < at.left - 2 || r.top < at.top - 2) continue;
        long distance = (r.left - at.left) + (r.top - at.top);
        if (!best || distance < bestDistance) best = c.hwnd, bestDistance = distance;
    }
    return best;
}

HWND FindEdit(const wchar_t* which) {
    HWND dialog = CurrentDialog();
    if (!dialog) return nullptr;
    std::vector<Control> controls = Controls(dialog);
    if (!AllDigits(which)) return EditByLabel(controls, which);
    long n = wcstol(which, nullptr, 10);
    for (const Control& c : controls)
        if (IsEdit(c) && --n == 0) return c.enabled ? c.hwnd : nullptr;
    return nullptr;
}

// The installer takes an edit's text into its property when the field tells
// its parent it changed (EN_CHANGE) or, for a path field, when it loses the
// focus; the driver sends both after setting the text, as typing and then
// moving on would.
int Type(const wchar_t* which, const wchar_t* text) {
    HWND edit = nullptr;
    if (!WaitFor([&] { return (edit = FindEdit(which)) != nullptr; }))
        return Failed(L"no enabled edit field " + std::wstring(AllDigits(which) ? L"number " : L"labelled ") + which +
                      L" on the current dialog");
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, kReplyMs, &ignored))
        return Failed(L"the edit field did not take the text");
    HWND parent = GetParent(edit);
    WPARAM changed = MAKEWPARAM(GetDlgCtrlID(edit), EN_CHANGE);
    SendMessageTimeoutW(parent, WM_COMMAND, changed, reinterpret_cast<LPARAM>(edit), SMTO_ABORTIFHUNG, kReplyMs, &ignored);
    SendMessageTimeoutW(edit, WM_KILLFOCUS, 0, 0, SMTO_ABORTIFHUNG, kReplyMs, &ignored);
    if (TextOf(edit) == text) return 0;
    return Failed(L"the edit field shows \"" + TextOf(edit) + L"\" instead of \"" + text + L"\"");
}

int Usage() {
    fwprintf(stderr,
             L"usage: uidriver [--timeout SECONDS] [--dialog TITLE] wait TITLE | gone TITLE | title | texts |\n"
             L"       click TEXT | check TEXT | uncheck TEXT | type N|LABEL TEXT\n");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    int i = 1;
    for (; i + 1 < argc && wcsncmp(argv[i], L"--", 2) == 0; i += 2) {
        if (wcscmp(argv[i], L"--timeout") == 0) g_options.timeoutMs = wcstoul(argv[i + 1], nullptr, 10) * 1000;
        else if (wcscmp(argv[i], L"--dialog") == 0) g_options.dialog = argv[i + 1];
        else return Usage();
    }
    if (i >= argc) return Usage();
    std::wstring command = argv[i];
    int args = argc - i - 1;
    wchar_t** arg = argv + i + 1;
    if (command == L"wait" && args == 1) return Wait(arg[0]);
    if (command == L"gone" && args == 1) return Gone(arg[0]);
    if (command == L"title" && args == 0) return Title();
    if (command == L"texts" && args == 0) return Texts();
    if (command == L"click" && args == 1) return Click(arg[0]);
    if (command == L"check" && args == 1) return Check(arg[0], true);
    if (command == L"uncheck" && args == 1) return Check(arg[0], false);
    if (command == L"type" && args == 2) return Type(arg[0], arg[1]);
    return Usage();
}
