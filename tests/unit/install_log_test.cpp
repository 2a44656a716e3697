// The install log at its edges: the line buffer's limit, a log file deleted
// between lines and links planted in its place.
#include <doctest.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "bound_session.h"
#include "harness.h"
#include "log/install_log.h"
#include "util/files.h"

namespace {

// How many lines the installer was given that contain `text`.
int Seen(const UiRecorder& ui, const std::string& text) {
    int n = 0;
    for (const SeenMessage& m : ui.OfClass(INSTALLMESSAGE_INFO)) n += Narrow(m.fields[0]).find(text) != std::string::npos;
    return n;
}

const std::string kOnlyThere = "; its lines go only to the debugger and the installer's log";

// An object's access list as SDDL text.
std::string AccessList(const std::wstring& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &sd) != ERROR_SUCCESS)
        return "";
    wchar_t* text = nullptr;
    std::string out;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                             nullptr))
        out = Narrow(text);
    LocalFree(text);
    LocalFree(sd);
    return out;
}

}  // namespace

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
    CHECK(LogMessage(0, L"Test", L"one") == 0);
    CHECK(LogMessage(0, L"Test", L"two") == 0);
    CHECK_FALSE(FileExists(L"C:\\elsewhere\\install_varnet_R33.elg"));
    CHECK(Seen(ui, "<LogMessage> " + Narrow(dir) + " is a link or junction (reparse point)" + kOnlyThere) == 1);
    CHECK(Seen(ui, "<Test> two") == 1);  // the line itself still reaches the installer

    UnixCommand("rm " + UnixPath(dir) + " && mkdir " + UnixPath(dir));
    WriteFileBytes(victim, "mine\r\n");
    REQUIRE(CreateHardLinkW(log.c_str(), victim.c_str(), nullptr));
    CHECK(LogMessage(0, L"Test", L"three") == 0);
    CHECK(Seen(ui, refusal + " has 2 names (hard links)" + kOnlyThere) == 1);

    REQUIRE(DeleteFileW(log.c_str()));
    UnixCommand("ln -s " + UnixPath(victim) + " " + UnixPath(log));
    CHECK(LogMessage(0, L"Test", L"four") == 0);
    STARTUPINFOW child = {};
    CHECK_FALSE(RedirectChildOutputToLog(&child));
    CHECK(Seen(ui, refusal + " leads to \\\\?\\C:\\victim.txt" + kOnlyThere) == 1);
    CHECK(ReadFileBytes(victim) == "mine\r\n");

    UnixCommand("rm " + UnixPath(log));
    LogCapture capture;
    CHECK(LogMessage(0, L"Test", L"back") == 1);
    CHECK(capture.Messages() == std::vector<std::string>{"<Test> back"});
}

// A user who makes HVInstLog or the file before SYSTEM does stays its owner
// and can later empty it and put a junction there. Wine shows a file of
// another Unix user as owned by ANONYMOUS LOGON (S-1-5-7).
TEST_CASE("the install log is written only where SYSTEM or the Administrators or the running account own it") {
    const std::wstring dir = TempDir() + L"HVInstLog", log = LogCapture::Path();
    UnixCommand("rm -rf " + UnixPath(dir) + " && mkdir " + UnixPath(dir) + " && chown nobody " + UnixPath(dir));
    UiRecorder ui(INSTALLLOGMODE_INFO);
    BoundSession session;
    const std::string foreign = " is owned by S-1-5-7, not by SYSTEM, Administrators or the running account" + kOnlyThere;
    CHECK(LogMessage(0, L"Test", L"one") == 0);
    CHECK(LogMessage(0, L"Test", L"two") == 0);
    CHECK_FALSE(FileExists(log));
    CHECK(Seen(ui, "<LogMessage> " + Narrow(dir) + foreign) == 1);
    CHECK(Seen(ui, "<Test> two") == 1);

    UnixCommand("chown $(id -u) " + UnixPath(dir) + " && echo mine >" + UnixPath(log) + " && chown nobody " +
                UnixPath(log));
    CHECK(LogMessage(0, L"Test", L"three") == 0);
    STARTUPINFOW child = {};
    CHECK_FALSE(RedirectChildOutputToLog(&child));
    CHECK(Seen(ui, "<LogMessage> " + Narrow(log) + foreign) == 1);
    CHECK(ReadFileBytes(log) == "mine\n");

    UnixCommand("rm " + UnixPath(log));
    LogCapture capture;
    CHECK(LogMessage(0, L"Test", L"back") == 1);
    CHECK(capture.Messages() == std::vector<std::string>{"<Test> back"});
}

// What the log makes, in a temporary directory that others may write, is
// for SYSTEM, the Administrators and the running account alone.
TEST_CASE("HVInstLog and the log file are made with an access list of their own") {
    const std::wstring dir = TempDir() + L"HVInstLog", log = LogCapture::Path();
    UnixCommand("rm -rf " + UnixPath(dir));
    CHECK(LogMessage(0, L"Test", L"first") == 1);
    // Wine keeps no list, only mode bits: it gives back SYSTEM and the owner,
    // and without the list Everyone (the Unix "other") as well.
    const std::string me = Narrow(CurrentAccountSid().wvalue());
    CHECK(AccessList(dir) == "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" + me + ")");
    CHECK(AccessList(log) == "D:(A;;FA;;;SY)(A;;FA;;;" + me + ")");
}
