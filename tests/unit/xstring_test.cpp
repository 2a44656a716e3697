// XString at its boundaries: index and encoding misuse, and empty or
// out-of-range arguments.
#include <doctest.h>

#include <functional>
#include <string>

#include "harness.h"
#include "util/xstring.h"

namespace {

std::wstring W(const XString& s) { return s.wvalue(); }
std::string A(const XString& s) { return s.value(); }

}  // namespace

TEST_CASE("misuse of a string throws its exact message and logs it first") {
    const XString ascii("abc");
    const XString wide(L"abc");
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"charAt() Invalid index", [&] { ascii.charAt(3); }},
        {"wcharAt() Invalid index", [&] { wide.wcharAt(-1); }},
        {"substring()\tInvalid offset", [&] { ascii.substring(0, 4); }},
        {"substring() Invalid from index", [&] { ascii.substring(3, 3); }},
        {"substring() Invalid offset", [&] { wide.substring(1, 9); }},
        {"substring() Invalid from index", [&] { XString(L"").substring(0, 0); }},
    };
    for (const auto& [message, call] : cases) {
        CAPTURE(message);
        LogCapture log;
        std::string thrown;
        try {
            call();
        } catch (const XStringException& e) {
            thrown = A(e.getMessage());
        }
        CHECK(thrown == message);
        CHECK(log.Messages() == std::vector<std::string>{std::string("<XStringException> ") + message});
    }
}

TEST_CASE("editing and searching at and beyond the ends") {
    XString s;  // empty UNICODE, takes the encoding of what is appended
    s.concat(XString("ab"));
    CHECK(A(s + "cd") == "abcd");
    XString t(L"abcdef");
    CHECK(W(t.substring(0, 0)).empty());
    CHECK(W(t.substring(4, 2)).empty());
    XString r(L"abcd");
    CHECK(W(r.replace(L"XY", 3)) == L"abcXY");  // runs past the end: grows
    CHECK(W(r.replace(L"!", 5)) == L"abcXY!");  // at the length: appends
    CHECK(W(r.replace(L"zz", 9)) == L"abcXY!");
    CHECK(W(XString(L"abcd").erase(0, 4)) == L"abcd");

    const XString u(L"abcabc");
    CHECK(u.indexOf(L"") == -1);
    CHECK(u.indexOf(L"bc", 6) == -1);
    CHECK(u.lastIndexOf(L"abc", 4) == -1);  // from is the lowest position looked at
    CHECK(XString(L"abcx").lastIndexOf(L"abc", 0) == 0);
    CHECK(XString(L"").compare("x") == 1);
    CHECK(u.endsWith(L""));
    CHECK_FALSE(XString(L"").endsWith("a"));
}
