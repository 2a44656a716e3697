// What every exported handler does around its own steps.
#include <doctest.h>

#include <string>

#include "harness.h"

namespace {

const std::string kHashes(70, '#');

// Index of the "<name> Function started|ended" line, checked to sit inside
// its four-line banner.
int BannerAt(const LogCapture& log, const std::string& name, const char* which) {
    auto messages = log.Messages();
    int at = log.Find("<" + name + "> Function " + which);
    if (at < 2 || at + 1 >= static_cast<int>(messages.size())) return -1;
    bool framed = messages[at - 2] == "<> " && messages[at - 1] == "<> " + kHashes && messages[at + 1] == "<> " + kHashes;
    return framed ? at : -1;
}

}  // namespace

TEST_CASE("each handler writes its banners and loads and stores its own carrier") {
    struct Handler {
        const char* exportName;
        const char* bannerName;
        const wchar_t* carrier;  // immediate: ALLCADPROPS, deferred: CustomActionData
        const wchar_t* other;
    };
    const wchar_t* const kAll = L"ALLCADPROPS";
    const wchar_t* const kCad = L"CustomActionData";
    const Handler handlers[] = {
        {"OnMainPrologue", "OnMaintPrologue", kAll, kCad},
        {"OnRemovePrologue", "OnRemovePrologue", kAll, kCad},
        {"OnInstallFinish", "OnInstallFinish", kAll, kCad},
        {"OnMaintBefore", "OnMaintBefore", kCad, kAll},
        {"OnMaintAfter", "OnMaintAfter", kCad, kAll},
        {"OnRemoveBefore", "OnRemoveBefore", kCad, kAll},
    };
    // Text before the first mark is dropped only when a container is stored.
    const std::wstring packed = L"junk[[tamber_VG_type=1]]|";
    for (const Handler& h : handlers) {
        CAPTURE(h.exportName);
        TestPackage pkg;
        pkg.Property(kAll, packed).Property(kCad, packed);
        LogCapture log;
        CHECK(CallHandler(h.exportName, pkg.Session()) == ERROR_SUCCESS);
        CHECK(BannerAt(log, h.bannerName, "started") == 2);
        CHECK(BannerAt(log, h.bannerName, "ended") == static_cast<int>(log.Messages().size()) - 2);
        CHECK(log.Find("<DeMarshal_CAD> Entering") == 4);
        // The prologues add their schedule after what they loaded.
        CHECK(pkg.Get(h.carrier).rfind(L"[[tamber_VG_type=1]]|", 0) == 0);
        CHECK(pkg.Get(h.other) == packed);
    }
}

TEST_CASE("OnRemoveAfter loads the container before its banner") {
    TestPackage pkg;
    pkg.Property(L"CustomActionData", L"[[INSTALLDIR=C:\\Apps\\Client\\]]|");
    LogCapture log;
    CHECK(CallHandler("OnRemoveAfter", pkg.Session()) == ERROR_SUCCESS);
    CHECK(log.Find("<DeMarshal_CAD> Entering") == 0);
    int started = BannerAt(log, "OnRemoveAfter", "started");
    CHECK(started > log.Find("<GetProperty> Entering with property CustomActionData"));
    CHECK(BannerAt(log, "OnRemoveAfter", "ended") == static_cast<int>(log.Messages().size()) - 2);
}

TEST_CASE("installer messages pass through the handler and back to the installer") {
    TestPackage pkg;
    MSIHANDLE session = pkg.Session();
    TamberDll dll;  // stays loaded: its handler remains installed after the call
    CHECK(dll.Call("OnInstallFinish", session) == ERROR_SUCCESS);

    struct Message {
        INSTALLMESSAGE type;
        UINT field;  // action start takes its name from field 1
        const char* text;
    };
    const Message messages[] = {
        {INSTALLMESSAGE_WARNING, 0, "disk nearly full"},
        {INSTALLMESSAGE_INFO, 0, "plain information"},
        {INSTALLMESSAGE_ACTIONSTART, 1, "CostFinalize"},
    };
    for (const Message& m : messages) {
        CAPTURE(m.text);
        LogCapture log;
        MSIHANDLE record = MsiCreateRecord(3);
        MsiRecordSetStringW(record, m.field, Widen(m.text).c_str());
        MsiProcessMessage(session, m.type, record);
        MsiCloseHandle(record);
        std::string expected =
            "<TamberMessageHandler> Message type:" + std::to_string(static_cast<int>(m.type)) + " szMessage:";
        int at = log.Find(expected);
        REQUIRE(at >= 0);
        CHECK(log.Messages()[at].find(m.text) != std::string::npos);
    }
}
