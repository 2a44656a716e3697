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
    SUBCASE("a default string is empty UNICODE and takes the encoding of what is appended") {
        XString s;
        CHECK(s.getEncoding() == XString::Unicode);
        CHECK(s.length() == 0);
        s.concat(XString("ab"));
        CHECK(s.getEncoding() == XString::Ascii);
        CHECK(A(s) == "ab");
        CHECK(A(s + "cd") == "abcd");
        CHECK(W(XString(L"C:\\dir") + XString(L'\\')) == L"C:\\dir\\");
    }
    SUBCASE("substring and mid") {
        XString s(L"abcdef");
        CHECK(W(s.substring(0, 0)).empty());
        CHECK(W(s.substring(2, 4)) == L"cd");
        CHECK(W(s.substring(4, 2)).empty());
        CHECK(W(s.substring(3)) == L"def");
        CHECK(W(s.mid(1, 2)) == L"bc");
        CHECK(A(XString("abcdef").substring(5, 6)) == "f");
    }
    SUBCASE("replace overwrites in place and grows past the end") {
        XString s(L"abcd");
        CHECK(W(s.replace(L"XY", 1)) == L"aXYd");
        CHECK(W(s.replace(L"123", 3)) == L"aXY123");
        CHECK(W(s.replace(L"!", 6)) == L"aXY123!");
        CHECK(W(s.replace(L"", 2)) == L"aXY123!");
        CHECK(W(s.replace(L"zz", 8)) == L"aXY123!");
        XString empty;
        CHECK(A(empty.replace("ab", 0)) == "ab");
    }
    SUBCASE("erase removes both ends of the range and ignores bad ranges") {
        CHECK(W(XString(L"abcd").erase(1, 2)) == L"ad");
        CHECK(W(XString(L"abcd").erase(0, 4)) == L"abcd");
        CHECK(W(XString(L"abcd").erase(2, 1)) == L"abcd");
        CHECK(W(XString(L"abcd").erase(-1, 1)) == L"abcd");
        CHECK(A(XString("abcd").erase(0, 3)).empty());
    }
    SUBCASE("toLowerCase") {
        CHECK(W(XString(L"MiXeD Case").toLowerCase()) == L"mixed case");
        CHECK(A(XString("ABC").toLowerCase()) == "abc");
    }
}

TEST_CASE("searching and comparing") {
    const XString s(L"abcabc");
    SUBCASE("indexOf") {
        CHECK(s.indexOf(L"") == -1);
        CHECK(s.indexOf(L"abcabc") == 0);
        CHECK(s.indexOf(L"bc") == 1);
        CHECK(s.indexOf(L"bc", 2) == 4);
        CHECK(s.indexOf(L"bc", 5) == -1);
        CHECK(s.indexOf(L"bc", 6) == -1);
        CHECK(s.indexOf(L"bc", -1) == -1);
        CHECK(s.indexOf(L"abcabcx") == -1);
        CHECK(XString(L"").indexOf("a") == -1);
    }
    SUBCASE("lastIndexOf looks no lower than from") {
        CHECK(s.lastIndexOf(L"abc") == 3);
        CHECK(s.lastIndexOf(L"abc", 4) == -1);
        CHECK(XString(L"abcx").lastIndexOf(L"abc", 0) == 0);
        CHECK(s.lastIndexOf(L"") == -1);
    }
    SUBCASE("equality") {
        CHECK(s.equals(L"abcabc"));
        CHECK_FALSE(s.equals(L"abcab"));
        CHECK_FALSE(s.equals(L"ABCABC"));
        CHECK(s.equalsIgnoreCase(L"ABCABC"));
        CHECK(XString(L"") == XString(""));
        CHECK_FALSE(XString(L"").equals("x"));
        CHECK(s != XString(L"abc"));
    }
    SUBCASE("compare") {
        CHECK(XString(L"").compare("x") == 1);
        CHECK(XString(L"").compare("") == 0);
        CHECK(XString(L"abc").compare(L"abd") < 0);
        CHECK(XString(L"abc").compare(L"ABC", true) == 0);
        CHECK(XString("b").compare("a") > 0);
    }
    SUBCASE("startsWith and endsWith") {
        CHECK(s.startsWith(L"abc"));
        CHECK(s.startsWith(L""));
        CHECK_FALSE(s.startsWith(L"abcabcabc"));
        CHECK(s.startsWith(L"ABC", true));
        CHECK_FALSE(s.startsWith(L"ABC"));
        CHECK(s.endsWith(L"cabc"));
        CHECK(s.endsWith(L"BC", true));
        CHECK_FALSE(s.endsWith(L"ab"));
        CHECK_FALSE(XString(L"").startsWith("a"));
        CHECK_FALSE(XString(L"").endsWith("a"));
    }
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
