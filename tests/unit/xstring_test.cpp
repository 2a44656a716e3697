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
    struct Misuse {
        const char* message;
        std::function<void()> call;
    };
    const Misuse cases[] = {
        {"value() encoding is not ASCII", [&] { wide.value(); }},
        {"wvalue() encoding is not UNICODE", [&] { ascii.wvalue(); }},
        {"setEncoding() Either ASCII(1) or UNICODE(2)", [&] { XString(L"x").setEncoding(3); }},
        {"charAt() Encoding is not ASCII", [&] { wide.charAt(0); }},
        {"charAt() Invalid index", [&] { ascii.charAt(3); }},
        {"wcharAt() Encoding is not UNICODE", [&] { ascii.wcharAt(0); }},
        {"wcharAt() Invalid index", [&] { wide.wcharAt(-1); }},
        {"concat() different encodings found.", [&] { XString(L"x").concat(ascii); }},
        {"indexOd() Excpected encoding is wrong", [&] { wide.indexOf(ascii); }},
        {"lastIndexOf() Excpected encoding is wrong", [&] { wide.lastIndexOf(ascii); }},
        {"substring()\tInvalid offset", [&] { ascii.substring(0, 4); }},
        {"substring() Invalid from index", [&] { ascii.substring(3, 3); }},
        {"substring() Invalid offset", [&] { wide.substring(1, 9); }},
        {"substring() Invalid from index", [&] { XString(L"").substring(0, 0); }},
        {"replace() Different encodings found.", [&] { XString(L"x").replace(ascii, 0); }},
        {"equals() Encoding mismatch", [&] { wide.equals(ascii); }},
        {"equals() Encoding mismatch", [&] { wide.equalsIgnoreCase(ascii); }},
        {"compare() Encoding mismatch", [&] { wide.compare(ascii); }},
        {"startsWith() Encoding mismatch", [&] { wide.startsWith(ascii); }},
        {"endsWith() Encoding mismatch", [&] { wide.endsWith(ascii); }},
    };
    for (const Misuse& m : cases) {
        CAPTURE(m.message);
        LogCapture log;
        std::string thrown;
        try {
            m.call();
        } catch (const XStringException& e) {
            thrown = A(e.getMessage());
        }
        CHECK(thrown == m.message);
        CHECK(log.Messages() == std::vector<std::string>{std::string("<XStringException> ") + m.message});
    }
}

TEST_CASE("building strings") {
    XString s;  // empty UNICODE, takes the encoding of what is appended
    CHECK(s.getEncoding() == XString::Unicode);
    s.concat(XString("ab"));
    CHECK(A(s + "cd") == "abcd");
    CHECK(W(XString(L"C:\\dir") + XString(L'\\')) == L"C:\\dir\\");

    XString t(L"abcdef");
    CHECK(W(t.substring(0, 0)).empty());
    CHECK(W(t.substring(4, 2)).empty());
    CHECK(W(t.substring(2, 4)) == L"cd");
    CHECK(W(t.mid(1, 2)) == L"bc");

    XString r(L"abcd");
    CHECK(W(r.replace(L"XY", 3)) == L"abcXY");  // runs past the end: grows
    CHECK(W(r.replace(L"!", 5)) == L"abcXY!");  // at the length: appends
    CHECK(W(r.replace(L"", 2)) == L"abcXY!");
    CHECK(W(r.replace(L"zz", 9)) == L"abcXY!");

    CHECK(W(XString(L"abcd").erase(1, 2)) == L"ad");
    CHECK(W(XString(L"abcd").erase(0, 4)) == L"abcd");
    CHECK(W(XString(L"MiXeD").toLowerCase()) == L"mixed");
}

TEST_CASE("searching and comparing") {
    const XString s(L"abcabc");
    CHECK(s.indexOf(L"") == -1);
    CHECK(s.indexOf(L"abcabc") == 0);
    CHECK(s.indexOf(L"bc", 2) == 4);
    CHECK(s.indexOf(L"bc", 6) == -1);
    CHECK(s.lastIndexOf(L"abc") == 3);
    CHECK(s.lastIndexOf(L"abc", 4) == -1);  // from is the lowest position looked at
    CHECK(XString(L"abcx").lastIndexOf(L"abc", 0) == 0);

    CHECK(s.equalsIgnoreCase(L"ABCABC"));
    CHECK_FALSE(s.equals(L"ABCABC"));
    CHECK(XString(L"") == XString(""));
    CHECK(XString(L"").compare("x") == 1);
    CHECK(XString(L"abc").compare(L"ABD", true) < 0);

    CHECK(s.startsWith(L"ABC", true));
    CHECK_FALSE(s.startsWith(L"ABC"));
    CHECK_FALSE(s.startsWith(L"abcabcabc"));
    CHECK(s.endsWith(L""));
    CHECK_FALSE(XString(L"").endsWith("a"));
}

TEST_CASE("encoding conversion through the ANSI code page") {
    const char* ansi = "caf\xE9 \x80";  // bytes outside 7-bit ASCII
    XString s(ansi);
    s.setEncoding(XString::Unicode);
    CHECK(s.getEncoding() == XString::Unicode);
    CHECK(W(s) == Widen(ansi));
    s.setEncoding(XString::Unicode);
    s.setEncoding(XString::Ascii);
    CHECK(A(s) == ansi);
    CHECK(W(openutils::Ansi2Unicode(ansi)) == Widen(ansi));
    CHECK(W(openutils::Ansi2Unicode(nullptr)).empty());
    // The inactive buffer is empty: an empty string answers either accessor.
    CHECK(XString(L"").charAt(0) == '\0');
    CHECK(XString("").wcharAt(0) == L'\0');
}
