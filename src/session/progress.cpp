#include "config/config.h"
#include "log/install_log.h"
#include "session/session.h"

namespace {

const wchar_t kLabelInfo[] = L"SendInfoMsgToProgressDialog";
const wchar_t kLabelCancel[] = L"OnFirstBefore";  // where the cancel button is hidden
const wchar_t kLabelSilent[] = L"IsSilentMode";
const wchar_t kLabelSetupInfo[] = L"IsShowSetupInfoDialogs";

constexpr int kTicksPerStep = 10000;
constexpr int kTotalTicks = 70000;

// Decided once per loaded library.
bool g_firstProgressStep = true;
int g_silent = -1;  // -1: not asked yet
bool g_setupInfoRead = false;
int g_showSetupInfo = 1;

void SendProgress(MSIHANDLE session, MSIHANDLE record, int f1, int f2, int f3, int f4) {
    MsiRecordSetInteger(record, 1, f1);
    MsiRecordSetInteger(record, 2, f2);
    MsiRecordSetInteger(record, 3, f3);
    MsiRecordSetInteger(record, 4, f4);
    MsiProcessMessage(session, INSTALLMESSAGE_PROGRESS, record);
}

const wchar_t* CancelAnswer(int answer) {
    switch (answer) {
        case 0: return L"HideCancelButton: No action was taken";
        case 1: return L"HideCancelButton: The function succeeded";
        case 2: return L"HideCancelButton: The process was canceled";
        case 3: return L"HideCancelButton: The process was stopped";
        case 4: return L"HideCancelButton: Retry";
        case 5: return L"HideCancelButton: The process was ignored";
        case 6: return L"HideCancelButton: Yes";
        case 7: return L"HideCancelButton: No";
        case -1: return L"HideCancelButton: An invalid parameter or handle was supplied";
        default: return L"HideCancelButton: Unknown return code";
    }
}

}  // namespace

UINT SendInfoMsgToProgressDialog(XString text) {
    text.setEncoding(XString::Unicode);
    MsiHandle record(MsiCreateRecord(1));
    if (!record) {
        LogMessage(0, kLabelInfo, L"Failed to create Record");
        return ERROR_INSTALL_FAILURE;
    }
    UINT result = MsiRecordSetStringW(record.get(), 1, text.wvalue());
    if (result == ERROR_INVALID_HANDLE || result == ERROR_INVALID_PARAMETER) {
        LogMessage(0, kLabelInfo, result == ERROR_INVALID_HANDLE ? L"An invalid or inactive handle was supplied. "
                                                                 : L"An invalid parameter was passed to the function.");
        return ERROR_INSTALL_FAILURE;
    }
    MsiProcessMessage(g_hMsi, INSTALLMESSAGE_ACTIONDATA, record.get());
    return ERROR_SUCCESS;
}

UINT StepProgressBar(MSIHANDLE session) {
    MsiHandle record(MsiCreateRecord(4));
    if (g_firstProgressStep) {
        SendProgress(session, record.get(), 2, kTicksPerStep, 0, 0);  // advance
        SendProgress(session, record.get(), 0, kTotalTicks, 0, 0);     // reset: total, forward, executing
        g_firstProgressStep = false;
    }
    SendProgress(session, record.get(), 2, kTicksPerStep, 0, 0);
    return ERROR_SUCCESS;
}

UINT HideCancelButton(MSIHANDLE session) {
    MsiHandle record(MsiCreateRecord(2));
    if (!record) {
        LogMessage(0, kLabelCancel, L"HideCancelButton: ERROR_INSTALL_FAILURE - 1");
        return ERROR_INSTALL_FAILURE;
    }
    if (MsiRecordSetInteger(record.get(), 1, 2) != ERROR_SUCCESS) {  // the cancel button...
        LogMessage(0, kLabelCancel, L"HideCancelButton: ERROR_INSTALL_FAILURE - 2");
        return ERROR_INSTALL_FAILURE;
    }
    if (MsiRecordSetInteger(record.get(), 2, 0) != ERROR_SUCCESS) {  // ...hidden
        LogMessage(0, kLabelCancel, L"HideCancelButton: ERROR_INSTALL_FAILURE - 3");
        return ERROR_INSTALL_FAILURE;
    }
    int answer = MsiProcessMessage(session, INSTALLMESSAGE_COMMONDATA, record.get());
    LogMessage(static_cast<DWORD>(answer), kLabelCancel, L"%s", CancelAnswer(answer));
    return answer == 1 ? 1 : 0;
}

void ShowSetupInfo(XString text, bool show) {
    SendInfoMsgToProgressDialog(show && text.length() > 0 ? text : XString(L""));
}

void ShowSetupInfoById(int number, bool show) { ShowSetupInfo(GetMessageText(number), show); }

bool IsSilentMode() {
    if (g_silent < 0) {
        XString level;
        g_silent = GetProperty(L"UILevel", &level) == ERROR_SUCCESS && level.equals(L"2") ? 1 : 0;
        if (g_silent) LogMessage(0, kLabelSilent, L"Quiet mode installation detected");
    }
    return g_silent == 1;
}

XString GetGuiSwitch() { return IsSilentMode() ? XString(L"") : XString(L"-g"); }

int IsShowSetupInfoDialogs() {
    if (!g_setupInfoRead) {
        GetProductINI_intValue(L"ShowSetupInfoDialogs", g_showSetupInfo);
        LogMessage(0, kLabelSetupInfo, L"value of ShowSetupInfoDialogs from product.ini = %d", g_showSetupInfo);
        g_setupInfoRead = true;
    }
    return g_showSetupInfo;
}
