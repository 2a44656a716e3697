#include <cstdlib>

#include "deferred/deferred.h"
#include "log/install_log.h"
#include "session/session.h"

namespace {

const wchar_t kLabelOne[] = L"SetDeferredCustomActionFN";
const wchar_t kLabelTwo[] = L"SetDeferredCustomActionFNs";
const wchar_t kLabelStub[] = L"OnExecuteStub";
const wchar_t kCount[] = L"DCAFNNUM";
const wchar_t kAllProps[] = L"ALLCADPROPS";
const wchar_t kSecond[] = L"DCAFN2";

XString RoutineProperty(int index) {
    wchar_t digits[16];
    _itow(index, digits, 10);
    wchar_t name[32];
    _snwprintf(name, sizeof name / sizeof name[0], L"%s%s", L"DCAFN", digits);
    name[sizeof name / sizeof name[0] - 1] = 0;
    return XString(name);
}

void ScheduleRoutine(const wchar_t* label, int index, const wchar_t* routine) {
    XString property = RoutineProperty(index);
    SetProperty(property, routine, true);
    LogMessage(0, label, L"Set the deferred CA to %s=%s", property.wvalue(), routine);
}

UINT Fail(const wchar_t* message) {
    LogMessage(0, kLabelStub, L"%s", message);
    return ERROR_INSTALL_FAILURE;
}

}  // namespace

void SetDeferredCustomActionFN(const wchar_t* name) {
    if (!name) return;
    SetProperty(kCount, L"1", true);
    ScheduleRoutine(kLabelOne, 1, name);
    // A second name this run did not schedule (a command line can carry one)
    // would start its routine as well.
    XString second = GetCADValue(kSecond);
    if (second.length() > 0) {
        LogMessage(0, kLabelOne, L"%s=%s was not scheduled by this run; it is cleared", kSecond, second.wvalue());
        SetProperty(kSecond, L"", true);
    }
}

void SetDeferredCustomActionFNs(const wchar_t* first, const wchar_t* second) {
    if (!first || !second) return;
    SetProperty(kCount, L"2", true);
    ScheduleRoutine(kLabelTwo, 1, first);
    ScheduleRoutine(kLabelTwo, 2, second);
}

void RepublishInstallMode() {
    XString mode = GetCADValue(L"tamber_install_mode");
    if (mode.length() > 0) SetProperty(L"tamber_install_mode", mode, true);
}

UINT HandOverDeferredData() {
    RepublishInstallMode();

    XString countText;
    if (GetProperty(kCount, &countText) != ERROR_SUCCESS || countText.length() == 0)
        return Fail(L"Error : Failed to get the number string of the deferred CA routines.");
    int count = _wtoi(countText.wvalue());
    if (count <= 0) return Fail(L"Error : Failed to get the number of the deferred CA routines.");

    for (int i = 1; i <= count; ++i) {
        XString routine;
        if (GetProperty(RoutineProperty(i), &routine) != ERROR_SUCCESS || routine.length() == 0)
            return Fail(L"Critical Error : Failed to get the name of the deferred CA");
        XString packed;
        if (GetProperty(kAllProps, &packed) != ERROR_SUCCESS || packed.length() == 0)
            return Fail(L"Critical Error : Failed to get the properties for the deferred CA");
        // Not into the container: the packed text must never describe itself.
        SetProperty(routine, packed, false);
    }
    LogMessage(0, kLabelStub, L"Function ended successfully");
    return ERROR_SUCCESS;
}
