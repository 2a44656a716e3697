// The installer-message handler an exported handler leaves installed.
#include <doctest.h>

#include <string>
#include <utility>

#include "harness.h"

TEST_CASE("installer messages pass through the handler and back to the installer") {
    TestPackage pkg;
    MSIHANDLE session = pkg.Session();
    TamberDll dll;  // stays loaded: its handler remains installed after the call
    CHECK(dll.Call("OnInstallFinish", session) == ERROR_SUCCESS);
    const std::pair<INSTALLMESSAGE, const char*> messages[] = {
        {INSTALLMESSAGE_WARNING, "disk nearly full"}, {INSTALLMESSAGE_INFO, "plain information"},
        {INSTALLMESSAGE_ACTIONSTART, "CostFinalize"}};
    for (const auto& m : messages) {
        CAPTURE(m.second);
        LogCapture log;
        MSIHANDLE record = MsiCreateRecord(3);
        // Action start takes its name from field 1.
        MsiRecordSetStringW(record, m.first == INSTALLMESSAGE_ACTIONSTART ? 1 : 0, Widen(m.second).c_str());
        MsiProcessMessage(session, m.first, record);
        MsiCloseHandle(record);
        int at = log.Find("<TamberMessageHandler> Message type:" + std::to_string(static_cast<int>(m.first)) +
                          " szMessage:");
        REQUIRE(at >= 0);
        CHECK(log.Messages()[at].find(m.second) != std::string::npos);
    }
}
