// The install log at its edges: the line buffer's limit, a log file deleted
// between lines and links planted in its place.
#include <doctest.h>

#include <string>
#include <vector>

#include "bound_session.h"
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

// SYSTEM's temporary directory is writable by every user, who may plant
// HVInstLog or the file as a link or as a second name of another file.
TEST_CASE("the install log is never written through a link or a second name of a file") {
    const std::wstring dir = TempDir() + L"HVInstLog", log = LogCapture::Path(), victim = L"C:\\victim.txt";
    CreateDirectoryW(L"C:\\elsewhere", nullptr);
    UnixCommand("rm -rf " + UnixPath(dir) + " && ln -s " + UnixPath(L"C:\\elsewhere") + " " + UnixPath(dir));
    UiRecorder ui(INSTALLLOGMODE_INFO);
    BoundSession session;
    const std::string refusal = "<LogMessage> " + Narrow(log);
    const std::string onlyThere = "; its lines go only to the debugger and the installer's log";
    auto seen = [&ui](const std::string& text) {
        int n = 0;
        for (const SeenMessage& m : ui.OfClass(INSTALLMESSAGE_INFO)) n += Narrow(m.fields[0]).find(text) != std::string::npos;
        return n;
    };
    CHECK(LogMessage(0, L"Test", L"one") == 0);
    CHECK(LogMessage(0, L"Test", L"two") == 0);
    CHECK_FALSE(FileExists(L"C:\\elsewhere\\install_varnet_R33.elg"));
    CHECK(seen("<LogMessage> " + Narrow(dir) + " is a link or junction (reparse point)" + onlyThere) == 1);
    CHECK(seen("<Test> two") == 1);  // the line itself still reaches the installer

    UnixCommand("rm " + UnixPath(dir) + " && mkdir " + UnixPath(dir));
    WriteFileBytes(victim, "mine\r\n");
    REQUIRE(CreateHardLinkW(log.c_str(), victim.c_str(), nullptr));
    CHECK(LogMessage(0, L"Test", L"three") == 0);
    CHECK(seen(refusal + " has 2 names (hard links)" + onlyThere) == 1);

    REQUIRE(DeleteFileW(log.c_str()));
    UnixCommand("ln -s " + UnixPath(victim) + " " + UnixPath(log));
    CHECK(LogMessage(0, L"Test", L"four") == 0);
    STARTUPINFOW child = {};
    CHECK_FALSE(RedirectChildOutputToLog(&child));
    CHECK(seen(refusal + " leads to \\\\?\\C:\\victim.txt" + onlyThere) == 1);
    CHECK(ReadFileBytes(victim) == "mine\r\n");

    UnixCommand("rm " + UnixPath(log));
    LogCapture capture;
    CHECK(LogMessage(0, L"Test", L"back") == 1);
    CHECK(capture.Messages() == std::vector<std::string>{"<Test> back"});
}
