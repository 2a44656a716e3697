#include "util/xstring.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <cctype>
#include <cwctype>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "log/install_log.h"

namespace openutils {
namespace {

const wchar_t kLabelException[] = L"XStringException";
const wchar_t kLabelAnsi2Unicode[] = L"Ansi2Unicode";

[[noreturn]] void Throw(const char* message) {
    XStringException e{XString(message)};
    throw e;
}

[[noreturn]] void ThrowWithCode(const char* message, DWORD code) {
    std::string text = std::string(message) + std::to_string(code);
    XStringException e{XString(text.c_str())};
    throw e;
}

template <typename C> size_t Len(const C* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

template <typename C> C* Copy(const C* s, size_t n) {
    C* out = new C[n + 1];
    for (size_t i = 0; i < n; ++i) out[i] = s[i];
    out[n] = 0;
    return out;
}

template <typename C> C* Empty() { return Copy<C>(nullptr, 0); }

inline char Lower(char c) { return static_cast<char>(tolower(static_cast<unsigned char>(c))); }
inline wchar_t Lower(wchar_t c) { return static_cast<wchar_t>(towlower(c)); }

template <typename C> struct Traits;
template <> struct Traits<char> { static constexpr int encoding = XString::Ascii; };
template <> struct Traits<wchar_t> { static constexpr int encoding = XString::Unicode; };

}  // namespace

template <> char* XString::buffer<char>() const { return asciiValue; }
template <> wchar_t* XString::buffer<wchar_t>() const { return unicodeValue; }

template <> void XString::adopt<char>(char* fresh) {
    delete[] asciiValue;
    asciiValue = fresh;
}
template <> void XString::adopt<wchar_t>(wchar_t* fresh) {
    delete[] unicodeValue;
    unicodeValue = fresh;
}

XString::XString() : asciiValue(Empty<char>()), unicodeValue(Empty<wchar_t>()), encoding(Unicode) {}

XString::XString(const char* text)
    : asciiValue(text ? Copy(text, Len(text)) : Empty<char>()), unicodeValue(Empty<wchar_t>()), encoding(Ascii) {}

XString::XString(const wchar_t* text)
    : asciiValue(Empty<char>()), unicodeValue(text ? Copy(text, Len(text)) : Empty<wchar_t>()), encoding(Unicode) {}

XString::XString(wchar_t ch) : asciiValue(Empty<char>()), unicodeValue(Copy(&ch, 1)), encoding(Unicode) {}

XString::XString(const XString& other) : asciiValue(nullptr), unicodeValue(nullptr), encoding(other.encoding) {
    if (encoding == Ascii) {
        asciiValue = Copy(other.asciiValue, Len(other.asciiValue));
        unicodeValue = Empty<wchar_t>();
    } else {
        asciiValue = Empty<char>();
        unicodeValue = Copy(other.unicodeValue, Len(other.unicodeValue));
    }
}

XString& XString::operator=(const XString& other) {
    if (this != &other) {
        XString copy(other);
        std::swap(asciiValue, copy.asciiValue);
        std::swap(unicodeValue, copy.unicodeValue);
        std::swap(encoding, copy.encoding);
    }
    return *this;
}

XString::~XString() {
    delete[] asciiValue;
    delete[] unicodeValue;
}

const char* XString::value() const {
    if (encoding != Ascii) Throw("value() encoding is not ASCII");
    return asciiValue;
}

const wchar_t* XString::wvalue() const {
    if (encoding != Unicode) Throw("wvalue() encoding is not UNICODE");
    return unicodeValue;
}

const void* XString::rawValue() const {
    if (encoding == Ascii) return asciiValue;
    return unicodeValue;
}

int XString::length() const {
    if (encoding == Ascii) return static_cast<int>(Len(asciiValue));
    if (encoding == Unicode) return static_cast<int>(Len(unicodeValue));
    Throw("lenght() unknown encoding!");
}

char XString::charAt(int index) const {
    if (encoding != Ascii) {
        if (length() == 0) return asciiValue[0];
        Throw("charAt() Encoding is not ASCII");
    }
    if (index < 0 || index >= length()) Throw("charAt() Invalid index");
    return asciiValue[index];
}

wchar_t XString::wcharAt(int index) const {
    if (encoding != Unicode) {
        if (length() == 0) return unicodeValue[0];
        Throw("wcharAt() Encoding is not UNICODE");
    }
    if (index < 0 || index >= length()) Throw("wcharAt() Invalid index");
    return unicodeValue[index];
}

XString& XString::setEncoding(int code) {
    if (code != Ascii && code != Unicode) Throw("setEncoding() Either ASCII(1) or UNICODE(2)");
    if (code == encoding) return *this;
    if (code == Unicode) {
        int needed = MultiByteToWideChar(CP_ACP, 0, asciiValue, -1, nullptr, 0);
        if (needed == 0) ThrowWithCode("setEncoding UNICODE(2) failed. err=", GetLastError());
        wchar_t* fresh = new wchar_t[needed];
        int done = MultiByteToWideChar(CP_ACP, 0, asciiValue, -1, fresh, needed);
        if (done != needed) {
            DWORD err = GetLastError();
            delete[] fresh;
            ThrowWithCode("setEncoding UNICODE(2) failed. err=", err);
        }
        adopt(fresh);
        adopt(Empty<char>());
    } else {
        int needed = WideCharToMultiByte(CP_ACP, 0, unicodeValue, -1, nullptr, 0, nullptr, nullptr);
        if (needed == 0) ThrowWithCode("setEncoding UNICODE(2) ASCII. err=", GetLastError());
        char* fresh = new char[needed];
        int done = WideCharToMultiByte(CP_ACP, 0, unicodeValue, -1, fresh, needed, nullptr, nullptr);
        if (done != needed) {
            DWORD err = GetLastError();
            delete[] fresh;
            ThrowWithCode("setEncoding UNICODE(2) ASCII. err=", err);
        }
        adopt(fresh);
        adopt(Empty<wchar_t>());
    }
    encoding = code;
    return *this;
}

XString Ansi2Unicode(const char* text) {
    if (!text) text = "";
    int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::unique_ptr<wchar_t[]> out(needed > 0 ? new (std::nothrow) wchar_t[needed] : nullptr);
    if (needed > 0 && !out) {
        LogMessage(ERROR_NOT_ENOUGH_MEMORY, kLabelAnsi2Unicode, L"Can't allocate %d WCHARs", needed);
        return XString();
    }
    int done = needed > 0 ? MultiByteToWideChar(CP_ACP, 0, text, -1, out.get(), needed) : 0;
    if (needed == 0 || done != needed) {
        LogMessage(GetLastError(), kLabelAnsi2Unicode,
                   L"Can't convert MultiByteToWideChar: RetSize=%d, AllocatedSize=%d", done, needed);
        return XString();
    }
    return XString(out.get());
}

void XString::concat(const XString& other) {
    if (!sameEncoding(other)) {
        if (!isEmpty()) Throw("concat() different encodings found.");
        encoding = other.encoding;
    }
    if (encoding == Ascii) {
        std::string joined = std::string(asciiValue) + other.asciiValue;
        adopt(Copy(joined.c_str(), joined.size()));
    } else {
        std::wstring joined = std::wstring(unicodeValue) + other.unicodeValue;
        adopt(Copy(joined.c_str(), joined.size()));
    }
}

XString XString::operator+(const XString& other) const {
    XString out(*this);
    out.concat(other);
    return out;
}

XString XString::operator+(const wchar_t* other) const { return *this + XString(other); }
XString XString::operator+(const char* other) const { return *this + XString(other); }

template <typename C> XString XString::substringImpl(int from, int to, const char* offsetMsg) const {
    int len = length();
    if (to > len) Throw(offsetMsg);
    if (from < 0 || from >= len) Throw("substring() Invalid from index");
    XString out;
    out.encoding = encoding;
    const C* src = buffer<C>();
    out.adopt(from >= to ? Empty<C>() : Copy(src + from, static_cast<size_t>(to - from)));
    return out;
}

XString XString::substring(int from, int to) const {
    if (encoding == Ascii) return substringImpl<char>(from, to, "substring()\tInvalid offset");
    return substringImpl<wchar_t>(from, to, "substring() Invalid offset");
}

XString XString::substring(int from) const { return substring(from, length()); }

XString XString::mid(int from, int count) const { return substring(from, from + count); }

XString& XString::replace(XString repl, int offset) {
    if (!sameEncoding(repl)) {
        if (!isEmpty()) Throw("replace() Different encodings found.");
        encoding = repl.encoding;
    }
    int len = length();
    int rlen = repl.length();
    if (offset < 0 || offset > len || rlen == 0) return *this;
    int newLen = offset + rlen > len ? offset + rlen : len;
    auto splice = [&](auto* mine, auto* theirs) {
        using C = std::remove_pointer_t<decltype(mine)>;
        C* fresh = Copy(mine, static_cast<size_t>(len));
        C* grown = new C[newLen + 1];
        for (int i = 0; i < len; ++i) grown[i] = fresh[i];
        for (int i = 0; i < rlen; ++i) grown[offset + i] = theirs[i];
        grown[newLen] = 0;
        delete[] fresh;
        adopt(grown);
    };
    if (encoding == Ascii) splice(asciiValue, repl.asciiValue);
    else splice(unicodeValue, repl.unicodeValue);
    return *this;
}

XString& XString::erase(int from, int to) {
    int len = length();
    if (from < 0 || to >= len || from > to) return *this;
    auto cut = [&](auto* mine) {
        using C = std::remove_pointer_t<decltype(mine)>;
        std::basic_string<C> kept(mine, static_cast<size_t>(from));
        kept.append(mine + to + 1);
        adopt(Copy(kept.c_str(), kept.size()));
    };
    if (encoding == Ascii) cut(asciiValue);
    else cut(unicodeValue);
    return *this;
}

XString& XString::toLowerCase() {
    if (encoding == Ascii) {
        for (char* p = asciiValue; *p; ++p) *p = Lower(*p);
    } else {
        for (wchar_t* p = unicodeValue; *p; ++p) *p = Lower(*p);
    }
    return *this;
}

template <typename C> int XString::indexOfImpl(const XString& needle, int from, bool backwards) const {
    int len = length();
    int nlen = needle.length();
    if (from < 0 || from >= len || nlen == 0 || nlen > len) return -1;
    const C* hay = buffer<C>();
    const C* pin = needle.buffer<C>();
    auto matchesAt = [&](int i) {
        for (int k = 0; k < nlen; ++k)
            if (hay[i + k] != pin[k]) return false;
        return true;
    };
    if (backwards) {
        for (int i = len - nlen; i >= from; --i)
            if (matchesAt(i)) return i;
    } else {
        for (int i = from; i <= len - nlen; ++i)
            if (matchesAt(i)) return i;
    }
    return -1;
}

int XString::indexOf(XString needle, int from) const {
    if (!sameEncoding(needle)) {
        if (isEmpty()) return -1;
        Throw("indexOd() Excpected encoding is wrong");
    }
    return encoding == Ascii ? indexOfImpl<char>(needle, from, false) : indexOfImpl<wchar_t>(needle, from, false);
}

int XString::lastIndexOf(XString needle, int from) const {
    if (!sameEncoding(needle)) {
        if (isEmpty()) return -1;
        Throw("lastIndexOf() Excpected encoding is wrong");
    }
    return encoding == Ascii ? indexOfImpl<char>(needle, from, true) : indexOfImpl<wchar_t>(needle, from, true);
}

bool XString::equalsImpl(const XString& other, bool ignoreCase) const {
    if (!sameEncoding(other)) {
        if (isEmpty()) return other.isEmpty();
        Throw("equals() Encoding mismatch");
    }
    int len = length();
    if (len != other.length()) return false;
    auto same = [&](const auto* a, const auto* b) {
        for (int i = 0; i < len; ++i) {
            if (ignoreCase ? Lower(a[i]) != Lower(b[i]) : a[i] != b[i]) return false;
        }
        return true;
    };
    return encoding == Ascii ? same(asciiValue, other.asciiValue) : same(unicodeValue, other.unicodeValue);
}

bool XString::equals(XString other) const { return equalsImpl(other, false); }
bool XString::equalsIgnoreCase(XString other) const { return equalsImpl(other, true); }

int XString::compare(XString other, bool ignoreCase) const {
    if (!sameEncoding(other)) {
        if (isEmpty()) return other.isEmpty() ? 0 : 1;
        Throw("compare() Encoding mismatch");
    }
    if (encoding == Ascii)
        return ignoreCase ? _stricmp(asciiValue, other.asciiValue) : strcmp(asciiValue, other.asciiValue);
    return ignoreCase ? _wcsicmp(unicodeValue, other.unicodeValue) : wcscmp(unicodeValue, other.unicodeValue);
}

bool XString::startsWith(XString prefix, bool ignoreCase) const {
    if (!sameEncoding(prefix)) {
        if (isEmpty()) return false;
        Throw("startsWith() Encoding mismatch");
    }
    int plen = prefix.length();
    if (plen > length()) return false;
    if (plen == 0) return true;
    return substring(0, plen).equalsImpl(prefix, ignoreCase);
}

bool XString::endsWith(XString suffix, bool ignoreCase) const {
    if (!sameEncoding(suffix)) {
        if (isEmpty()) return false;
        Throw("endsWith() Encoding mismatch");
    }
    int len = length();
    int slen = suffix.length();
    if (slen > len) return false;
    if (slen == 0) return true;
    return substring(len - slen).equalsImpl(suffix, ignoreCase);
}

XStringException::XStringException(const XString& msg) : message(msg) {
    LogMessage(0, kLabelException, message.getEncoding() == XString::Ascii ? L"%S" : L"%s", message.rawValue());
}

}  // namespace openutils
