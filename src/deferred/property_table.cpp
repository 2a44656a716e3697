#include "deferred/deferred.h"
#include "log/install_log.h"
#include "session/session.h"

namespace {

const wchar_t kLabel[] = L"Property_table_to_CAD";
const wchar_t kAllProps[] = L"ALLCADPROPS";

// What the deferred handlers need, in the order it is recorded.
struct DeferredValue {
    const wchar_t* name;
    bool isTargetPath;
};
const DeferredValue kDeferredValues[] = {
    {L"UILevel", false},
    {L"INSTALLDIR", true},
    {L"tamber_VG_type", false},
    {L"tamber_upgrade_mode", false},
};

}  // namespace

UINT Property_table_to_CAD() {
    if (g_hMsi == 0) return ERROR_INVALID_HANDLE;
    MsiHandle database(MsiGetActiveDatabase(g_hMsi));
    if (!database) return ERROR_SUCCESS;

    MsiHandle view;
    UINT result = OpenTwoColumnView(database.get(), L"SELECT * FROM Property", kLabel, view);
    if (result != ERROR_SUCCESS || !view) return result;

    MsiHandle record;
    while (MsiViewFetch(view.get(), record.out()) == ERROR_SUCCESS) {
        XString name = RecordString(record.get(), 1);
        // The carrier itself is never an entry: its "]]|" marks would bring
        // back, at the next load, every entry of a container that OnBegin
        // has just let go (OnBegin logs that).
        if (name.equals(kAllProps)) continue;
        XString value = RecordString(record.get(), 2);
        LogMessage(0, kLabel, L"Extracted property form Property table: Property=%s, Value=%s", name.wvalue(),
                   value.wvalue());
        TheCADContainer().Set(name, value);
    }
    return ERROR_SUCCESS;
}

void StoreDeferredProperties() {
    for (const DeferredValue& wanted : kDeferredValues) {
        XString value;
        if (wanted.isTargetPath) GetTargetPath(wanted.name, &value);
        else GetProperty(wanted.name, &value);
        if (value.length() > 0) TheCADContainer().Set(wanted.name, value);
    }
}
