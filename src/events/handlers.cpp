// The exported installer handlers. Each is its frame plus its own steps.
#include "deferred/deferred.h"
#include "events/first_install.h"
#include "events/frame.h"
#include "events/maintenance.h"
#include "events/shared_steps.h"
#include "kernel/kernel.h"
#include "log/install_log.h"

namespace {

constexpr bool kImmediate = false;
constexpr bool kDeferred = true;
const wchar_t kLabelStub[] = L"OnExecuteStub";

// The routines it feeds run as the system: a user who could not pass OnBegin
// gets nothing handed over, also in a sequence that skipped OnBegin.
UINT HandOverToAdministratorsOnly() {
    if (!IsUserAdmin()) {
        LogMessage(0, kLabelStub, L"The user is not an administrator; no deferred routine gets data");
        return ERROR_INSTALL_FAILURE;
    }
    return HandOverDeferredData();
}

}  // namespace

extern "C" {

UINT WINAPI OnBegin(MSIHANDLE h) { return RunHandler({L"OnBegin", kImmediate, false}, h, OnBeginSteps); }
// The only prologue that reaches its end banner when it refuses the run.
UINT WINAPI OnFirstBefore(MSIHANDLE h) {
    return RunHandler({L"OnFirstBefore", kImmediate, false, true}, h, OnFirstBeforeSteps);
}
UINT WINAPI OnFirstAfter(MSIHANDLE h) { return RunHandler({L"OnFirstAfter", kDeferred, false}, h, OnFirstAfterSteps); }
UINT WINAPI OnMainPrologue(MSIHANDLE h) {
    return RunHandler({L"OnMaintPrologue", kImmediate, false}, h, OnMainPrologueSteps);
}
UINT WINAPI OnMaintBefore(MSIHANDLE h) { return RunHandler({L"OnMaintBefore", kDeferred, false}, h, OnMaintBeforeSteps); }
UINT WINAPI OnMaintAfter(MSIHANDLE h) { return RunHandler({L"OnMaintAfter", kDeferred, false}, h, OnMaintAfterSteps); }
UINT WINAPI OnRemovePrologue(MSIHANDLE h) {
    return RunHandler({L"OnRemovePrologue", kImmediate, false}, h, OnRemovePrologueSteps);
}
UINT WINAPI OnRemoveBefore(MSIHANDLE h) { return RunHandler({L"OnRemoveBefore", kDeferred, false}, h, OnRemoveBeforeSteps); }
// Binds first: its container-loading lines precede its banner.
UINT WINAPI OnRemoveAfter(MSIHANDLE h) { return RunHandler({L"OnRemoveAfter", kDeferred, true}, h, OnRemoveAfterSteps); }
UINT WINAPI OnExecuteStub(MSIHANDLE h) {
    return RunHandler({kLabelStub, kImmediate, false}, h, HandOverToAdministratorsOnly);
}
UINT WINAPI OnInstallFinish(MSIHANDLE h) {
    return RunHandler({L"OnInstallFinish", kImmediate, false}, h, [] {
        HandleRebootAtFinish();
        return static_cast<UINT>(ERROR_SUCCESS);
    });
}

// rundll32 entry, from the split-install batch file: no banner, no session.
void CALLBACK SetServicesStartTypeAuto2(HWND, HINSTANCE, LPSTR, int) { SetServicesStatupType(SERVICE_AUTO_START); }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

}  // extern "C"
