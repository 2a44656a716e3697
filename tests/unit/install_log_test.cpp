#include <doctest.h>

#include <regex>
#include <string>

#include "harness.h"
#include "log/install_log.h"

namespace {

std::string SystemText(DWORD code) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out = text ? Narrow(text) : std::string();
    if (text) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

}  // namespace

TEST_CASE("a log line carries the time stamp and the label and the message") {
    LogCapture log;
    LogMessage(0, L"GetTargetPath", L"value %d of %s", 7, L"seven");
    LogMessage(0, L"", L"");

    auto lines = log.Lines();
    REQUIRE(lines.size() == 2);
    const std::regex stamp(R"(^<([1-9]|[12][0-9]|3[01]) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) )"
                           R"(( [0-9]|1[0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\.[0-9]{3}> )");
    std::smatch m;
    REQUIRE(std::regex_search(lines[0], m, stamp));
    CHECK(lines[0].substr(m.length()) == "<GetTargetPath> value 7 of seven");

    // The clock in the stamp is the local time of the write.
    SYSTEMTIME now;
    GetLocalTime(&now);
    CHECK(std::stoi(m[1].str()) == now.wDay);
    CHECK(std::stoi(m[3].str()) == now.wHour);

    REQUIRE(std::regex_search(lines[1], m, stamp));
    CHECK(lines[1].substr(m.length()) == "<> ");
    CHECK(log.Path() == GetInstallLogPath().wvalue());
}

TEST_CASE("a non-zero error code appends the code and the system text") {
    LogCapture log;
    LogMessage(ERROR_ACCESS_DENIED, L"HV_CopyFile", L"copy %s", L"a.txt");
    LogMessage(0x2000FFFF, L"HV_CopyFile", L"unknown");

    auto messages = log.Messages();
    REQUIRE(messages.size() == 2);
    std::string text = SystemText(ERROR_ACCESS_DENIED);
    REQUIRE_FALSE(text.empty());
    CHECK(messages[0] == "<HV_CopyFile> copy a.txt (Error code:5)" + text);
    CHECK(messages[1] == "<HV_CopyFile> unknown (Error code:536936447)");
}

TEST_CASE("a long line is cut at the buffer and still ends the line") {
    LogCapture log;
    std::wstring huge(3000, L'x');
    LogMessage(ERROR_ACCESS_DENIED, L"Label", L"%s", huge.c_str());
    LogMessage(0, L"After", L"next");

    std::string file = LogCapture::Raw();
    auto lines = log.Lines();
    REQUIRE(lines.size() == 2);
    CHECK(lines[0].size() == 511);  // 512 characters with the terminator
    CHECK(lines[0].find("(Error code") == std::string::npos);
    CHECK(lines[0].back() == 'x');
    CHECK(file.find(lines[0] + "\r\n") != std::string::npos);
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

TEST_CASE("a child process writes its output into the log") {
    LogMessage(0, L"Runner", L"before the child");
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    REQUIRE(RedirectChildOutputToLog(&si));
    CHECK(si.hStdOutput == si.hStdError);
    wchar_t command[] = L"cmd.exe /c echo child-output-marker";
    PROCESS_INFORMATION pi = {};
    REQUIRE(CreateProcessW(nullptr, command, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi));
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseChildOutputHandle();
    LogMessage(0, L"Runner", L"after the child");

    std::string file = LogCapture::Raw();
    size_t before = file.find("before the child");
    size_t child = file.find("child-output-marker\r\n");
    size_t after = file.find("after the child");
    REQUIRE(child != std::string::npos);
    CHECK(before < child);
    CHECK(child < after);
}
