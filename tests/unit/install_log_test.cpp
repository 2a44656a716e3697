// The install log at its edges: the line buffer's limit and a log file
// deleted between lines.
#include <doctest.h>

#include <string>

#include "harness.h"
#include "log/install_log.h"

TEST_CASE("a long line is cut at the buffer and still ends the line") {
    LogCapture log;
    LogMessage(ERROR_ACCESS_DENIED, L"Label", L"%s", std::wstring(3000, L'x').c_str());
    LogMessage(0, L"After", L"next");
    auto lines = log.Lines();
    REQUIRE(lines.size() == 2);
    CHECK(lines[0].size() == 511);  // 512 characters with the terminator
    CHECK(lines[0].find("(Error code") == std::string::npos);
    CHECK(lines[0].back() == 'x');
    CHECK(LogCapture::Raw().find(lines[0] + "\r\n") != std::string::npos);
    CHECK(log.Messages()[1] == "<After> next");
}

TEST_CASE("the log file is recreated when it was deleted between lines") {
    LogMessage(0, L"Before", L"first");
    REQUIRE(DeleteFileW(LogCapture::Path().c_str()));
    LogMessage(0, L"After", L"second");
    std::string file = LogCapture::Raw();
    CHECK(file.find("first") == std::string::npos);
    CHECK(file.find("<After> second\r\n") != std::string::npos);
}
