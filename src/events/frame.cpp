#include "events/frame.h"

#include "deferred/deferred.h"
#include "log/install_log.h"
#include "session/session.h"

namespace {

const wchar_t kLabelMessages[] = L"TamberMessageHandler";
// Every message type from fatal exit up to show-dialog, except files-in-use.
constexpr DWORD kMessageFilter = 0x7FDF;
constexpr UINT kClassMask = 0xFF000000;
constexpr UINT kStyleMask = 0x00FFFFFF;

}  // namespace

void BindSession(MSIHANDLE session) {
    g_hMsi = session;
    MsiSetExternalUIW(TamberMessageHandler, kMessageFilter, nullptr);
    DeMarshal_CAD();
}

void UnbindSession() {
    Marshal_CAD();
    g_hMsi = 0;
}

UINT RunHandler(const HandlerTraits& handler, MSIHANDLE session, HandlerSteps steps) {
    if (!handler.bindBeforeBanner) LogFunctionBanner(handler.name, 1);
    if (handler.deferred) SetUseCAD(1);
    BindSession(session);
    if (handler.bindBeforeBanner) LogFunctionBanner(handler.name, 1);

    const UINT result = steps ? steps() : ERROR_SUCCESS;
    if (result != ERROR_SUCCESS && !handler.endsOnFailure) return ERROR_INSTALL_FAILURE;

    UnbindSession();
    LogFunctionBanner(handler.name, 0);
    return result == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

int WINAPI TamberMessageHandler(LPVOID, UINT messageType, LPCWSTR message) {
    // Our own log lines come back through the installer; logging them again
    // would recurse.
    if (IsMirroringLogLine()) return 0;
    const wchar_t* text = message ? message : L"";
    LogMessage(0, kLabelMessages, L"Message type:%d szMessage:%s", static_cast<int>(messageType), text);

    switch (messageType & kClassMask) {
        case INSTALLMESSAGE_FATALEXIT: return MessageBoxW(nullptr, text, L"FATALEXIT", messageType & kStyleMask);
        case INSTALLMESSAGE_ERROR: return MessageBoxW(nullptr, text, L"ERROR", messageType & kStyleMask);
        default: return 0;
    }
}
