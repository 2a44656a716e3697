#include <string>

#include "log/install_log.h"
#include "session/session.h"
#include "util/decimal.h"

namespace {

const wchar_t kLabelBox[] = L"ShowMsgBox";
const wchar_t kLabelSend[] = L"SendMSIWarningMessageBox";

struct Message {
    WORD number;
    const wchar_t* text;
};

const Message kMessages[] = {
    {1000, L"Varnet/Varguard installation"},
    {1100, L"Varguard does not support this Operating System."},
    {1101, L"You cannot run the installation because you have no administrative privileges."},
    {1102, L"You cannot run the installation because you have not rebooted since last uninstalling this product.\n"},
    {1103, L"Checking requirements for"},
    {1104, L"This version of Halvora Tessel-1 Varnet/Varguard is not compatible with Tessel-1 & Bastide-1 QV.\n"
           L"Please remove Tessel-1 & Bastide-1 QV and then reinstall Halvora Tessel-1 Varnet/Varguard .\n"
           L"The installation will now terminate."},
    {1105, L"This version of Halvora Tessel-1 Varnet/Varguard is not compatible with Ebbtide-1 QV.\n"
           L"Please remove Ebbtide-1 QV and then reinstall Halvora Tessel-1 Varnet/Varguard .\n"
           L"The installation will now terminate."},
    {1106, L"Product.ini file Error , check if MajorVersion and MinorVersion are defined."},
    {1107, L"Installation has detected that a newer version of this product is already installed.\n"
           L"Please uninstall it and reboot before attempting to install this version\n"},
    {1108, L"There is insufficient space available on the selected disk. Please free some space on this drive and "
           L"run the installation again.\nThis installation will now terminate."},
    {1109, L"Illegal destination drive. Installation should be on a fixed drive only.\n"
           L"This installation will now terminate."},
    {1110, L"Installing additional components..."},
    {1111, L"Uninstalling additional components..."},
    {1112, L"Stopping Tessel-1 Varnet/Varguard Services..."},
    {1113, L"Removing Tessel-1 Varnet/Varguard kernel..."},
    {1114, L"This product can not be uninstalled.\nThe following products are dependent on the current product: \n"},
    {1115, L"\n\nPlease uninstall these products first."},
    {1116, L"After the upgrade, Varguard will not enforce a security policy. To enforce a security policy, you will "
           L"need to update your site(s) after completing the upgrade.\nClick OK to continue, or Cancel to exit setup."},
    {1117, L"Misconfiguration of package type. Installation aborted."},
    {1118, L"Can not overwrite settings, Installation aborted."},
    {1119, L"Installation will overwrite your current settings.\nOnce installation is complete, it is recommended\n"
           L"to connect to your Tessel-1 server.\n\nClick YES to continue with installation and overwrite.\n"
           L"Click NO to abort installation."},
    {1120, L"Do you want to view the README file now?"},
    {1121, L"Installation aborted by user."},
    {1122, L"The destination folder lies in a folder that users without administrative privileges can rename or "
           L"delete.\nPlease choose a folder under Program Files or a new folder on a fixed drive.\n"
           L"This installation will now terminate."},
    {0, nullptr},
};

const wchar_t* ButtonName(int button) {
    switch (button) {
        case IDOK: return L"IDOK";
        case IDCANCEL: return L"IDCANCEL";
        case IDABORT: return L"IDABORT";
        case IDRETRY: return L"IDRETRY";
        case IDIGNORE: return L"IDIGNORE";
        case IDYES: return L"IDYES";
        case IDNO: return L"IDNO";
        case 10: return L"IDTRYAGAIN";
        case 11: return L"IDCONTINUE";
        default: return nullptr;
    }
}

}  // namespace

XString GetMessageText(int number) {
    for (const Message* m = kMessages; m->number != 0; ++m)
        if (m->number == number) return XString(m->text);
    return XString((L"Failed to find message " + DecimalText(number)).c_str());
}

int ShowMsgBox(XString text, UINT type) {
    text.setEncoding(XString::Unicode);
    // The text is data, not a format: a "%" in it must not be expanded.
    LogMessage(0, kLabelBox, L"%s", text.wvalue());
    if (IsSilentMode()) {
        LogMessage(0, kLabelBox, L"method is disabled because we are in silent mode. uType is: 0x%x", type);
        return 0;
    }
    int button = SendMSIWarningMessageBox(text, type);
    if (const wchar_t* name = ButtonName(button)) LogMessage(0, kLabelBox, L"User selected %s", name);
    else LogMessage(0, kLabelBox, L"User selected %d", button);
    return button;
}

int ShowMsgBoxById(int number, UINT type) { return ShowMsgBox(GetMessageText(number), type); }

int SendMSIWarningMessageBox(XString text, UINT type) {
    text.setEncoding(XString::Unicode);
    MsiHandle record(MsiCreateRecord(1));
    MsiRecordSetStringW(record.get(), 0, text.wvalue());
    LogMessage(0, kLabelSend, L"Send: %s", text.wvalue());
    return MsiProcessMessage(g_hMsi, static_cast<INSTALLMESSAGE>(INSTALLMESSAGE_WARNING | type), record.get());
}

UINT SetFinishErrorString(int number) {
    return SetProperty(L"ID_FINISH_ERROR_STRING", GetMessageText(number), true);
}

bool StopWithMessage(int number) {
    ShowMsgBoxById(number, MB_ICONERROR);
    SetFinishErrorString(number);
    return false;
}
