// The library's string: 8-bit (ASCII) or 16-bit (UNICODE) text, converted
// through the system ANSI code page. Misuse throws XStringException.
#pragma once

namespace openutils {

class XString {
public:
    // Encoding codes. (UNICODE itself is a Windows macro, hence the names.)
    static constexpr int Ascii = 1;
    static constexpr int Unicode = 2;

    XString();
    XString(const char* text);
    XString(const wchar_t* text);
    explicit XString(wchar_t ch);
    XString(const XString& other);
    XString& operator=(const XString& other);
    ~XString();

    int getEncoding() const { return encoding; }
    const char* value() const;
    const wchar_t* wvalue() const;
    const void* rawValue() const;
    int length() const;
    char charAt(int index) const;
    wchar_t wcharAt(int index) const;

    XString& setEncoding(int code);

    void concat(const XString& other);
    XString operator+(const XString& other) const;
    XString operator+(const wchar_t* other) const;
    XString operator+(const char* other) const;
    XString substring(int from, int to) const;
    XString substring(int from) const;
    XString mid(int from, int count) const;
    XString& replace(XString repl, int offset);
    XString& erase(int from, int to);
    XString& toLowerCase();

    int indexOf(XString needle, int from = 0) const;
    int lastIndexOf(XString needle, int from = 0) const;
    bool equals(XString other) const;
    bool equalsIgnoreCase(XString other) const;
    bool operator==(const XString& other) const { return equals(other); }
    bool operator!=(const XString& other) const { return !equals(other); }
    int compare(XString other, bool ignoreCase = false) const;
    bool startsWith(XString prefix, bool ignoreCase = false) const;
    bool endsWith(XString suffix, bool ignoreCase = false) const;

private:
    template <typename C> C* buffer() const;
    template <typename C> void adopt(C* fresh);
    bool sameEncoding(const XString& other) const { return encoding == other.encoding; }
    bool isEmpty() const { return length() == 0; }
    bool equalsImpl(const XString& other, bool ignoreCase) const;
    template <typename C> XString substringImpl(int from, int to, const char* offsetMsg) const;
    template <typename C> int indexOfImpl(const XString& needle, int from, bool backwards) const;

    char* asciiValue;
    wchar_t* unicodeValue;
    int encoding;
};

class XStringException {
public:
    explicit XStringException(const XString& message);
    const XString& getMessage() const { return message; }

private:
    XString message;
};

// 8-bit text to UNICODE; logs and returns an empty string on failure.
XString Ansi2Unicode(const char* text);

// The same text held as UNICODE, whichever encoding `text` has.
inline XString Widened(XString text) { return text.setEncoding(XString::Unicode); }

}  // namespace openutils

using openutils::XString;
using openutils::Widened;
using openutils::XStringException;
