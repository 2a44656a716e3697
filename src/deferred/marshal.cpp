#include "deferred/deferred.h"
#include "log/install_log.h"
#include "session/session.h"

namespace {

const wchar_t kLabelMarshal[] = L"Marshal_CAD";
const wchar_t kLabelDeMarshal[] = L"DeMarshal_CAD";

// Immediate handlers keep the packed text in ALLCADPROPS; deferred ones get
// it, and leave it, in CustomActionData.
const wchar_t* Carrier() { return IsUseCAD() ? L"CustomActionData" : L"ALLCADPROPS"; }

}  // namespace

void Marshal_CAD() {
    XString packed = TheCADContainer().Pack();
    UINT result = SetProperty(Carrier(), packed, true);
    if (result != ERROR_SUCCESS) LogMessage(0, kLabelMarshal, L"Error setting the customeActionData");
}

void DeMarshal_CAD() {
    LogMessage(0, kLabelDeMarshal, L"Entering");
    XString packed;
    UINT result = GetProperty(Carrier(), &packed);
    if (result != ERROR_SUCCESS) {
        LogMessage(0, kLabelDeMarshal, L"Failed to get the CustomActionData propery");
        return;
    }
    TheCADContainer().Unpack(packed);
}
