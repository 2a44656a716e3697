// Reading the registry script reg.ini: the section index and the records of
// one section.
#include <cstring>
#include <limits>
#include <string>

#include "log/install_log.h"
#include "regdb/regdb.h"

namespace {

const wchar_t kLabel[] = L"Registry Controller";

struct FieldAlias {
    const wchar_t* written;
    const wchar_t* full;
};
// The first letter may be lost in old scripts; both spellings count.
const FieldAlias kFieldNames[] = {
    {L"key", L"key"},     {L"ey", L"key"},     {L"name", L"name"}, {L"ame", L"name"}, {L"type", L"type"},
    {L"ype", L"type"},    {L"value", L"value"}, {L"alue", L"value"}, {L"size", L"size"}, {L"ize", L"size"},
};

const wchar_t* FullFieldName(const std::wstring& name) {
    for (const FieldAlias& a : kFieldNames)
        if (name == a.written) return a.full;
    return nullptr;
}

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

std::wstring Trim(const std::wstring& s) {
    size_t first = s.find_first_not_of(L" \t");
    if (first == std::wstring::npos) return L"";
    size_t last = s.find_last_not_of(L" \t");
    return s.substr(first, last - first + 1);
}

void CopyField(wchar_t* out, size_t units, const std::wstring& text) {
    size_t n = text.size() < units - 1 ? text.size() : units - 1;
    wmemset(out, 0, units);
    wmemcpy(out, text.data(), n);
}

}  // namespace

wifstream& wifstream::getline(wchar_t* buffer, int length, wchar_t delimiter) {
    std::string narrow(static_cast<size_t>(length), '\0');
    std::ifstream::getline(&narrow[0], length, static_cast<char>(delimiter));
    // Characters stored: the count read, less the delimiter when it was found.
    const size_t stored = static_cast<size_t>(gcount()) - (good() ? 1 : 0);
    lineCut_ = false;
    if (fail() && !eof() && gcount() == length - 1) {
        // Longer than the line buffer: keep its start, skip the rest. A CR
        // just before the delimiter is no lost text.
        clear();
        const bool cr = peek() == '\r';
        if (cr) get();
        const int next = peek();
        lineCut_ = !(cr && (next == static_cast<unsigned char>(delimiter) || next == traits_type::eof()));
        ignore(std::numeric_limits<std::streamsize>::max(), static_cast<char>(delimiter));
    }
    lineHeldNul_ = memchr(narrow.data(), 0, stored) != nullptr;
    narrow.resize(strlen(narrow.c_str()));
    if (!narrow.empty() && narrow.back() == '\r') narrow.pop_back();
    XString wide(narrow.c_str());
    wide.setEncoding(XString::Unicode);
    wcsncpy(buffer, wide.wvalue(), static_cast<size_t>(length) - 1);
    buffer[length - 1] = 0;
    return *this;
}

wofstream& wofstream::operator<<(const wchar_t* text) {
    XString narrow(text);
    narrow.setEncoding(XString::Ascii);
    static_cast<std::ofstream&>(*this) << narrow.value();
    return *this;
}

iniFileSection::iniFileSection() {
    LogMessage(0, kLabel, L"Allocate %d iniFileRecord", kMaxRecords);
    records.reset(new (std::nothrow) iniFileRecord[kMaxRecords]);
    if (!records) LogMessage(0, kLabel, L"Can't allocate %d iniFileRecord", kMaxRecords);
    else memset(records.get(), 0, sizeof(iniFileRecord) * kMaxRecords);
}

int iniFileSection::loadSection(const char* scriptPath, std::streamoff start, std::streamoff end) {
    wifstream in(scriptPath, std::ios::in | std::ios::binary);
    if (start >= end || start < 0) {
        LogMessage(0, kLabel, L"%s: Ilegal positions(%d,%d)", L"loadSection", static_cast<int>(start),
                   static_cast<int>(end));
        return -1;
    }
    if (!records) {
        LogMessage(0, kLabel, L"records==0");
        return -1;
    }
    in.seekg(start);
    int stored = 0;
    bool refused = false;
    bool full = false;
    std::wstring lastName;
    wchar_t line[kLineChars];
    while (in && in.tellg() < end) {
        in.getline(line, kLineChars, L'\n');
        if (line[0] == 0 || line[0] == L';' || line[0] == L' ' || line[0] == L'[') continue;
        const wchar_t* text = line;
        while (*text == L'=') ++text;
        if (!IsAsciiLetter(*text)) continue;
        const wchar_t* eq = wcschr(text, L'=');
        std::wstring name = eq ? std::wstring(text, eq) : std::wstring(text);
        std::wstring value = eq ? Trim(eq + 1) : std::wstring();
        if (const wchar_t* known = FullFieldName(name)) {
            name = known;
            lastName = known;
        } else if (!lastName.empty()) {
            name = lastName;
        }  // an unknown first field keeps its own name, which execution then reports

        if (full) continue;
        if (recordCount == kMaxRecords) {
            LogMessage(0, kLabel, L"%s: more than %d records in the section; the rest is ignored", L"loadSection",
                       kMaxRecords);
            full = true;
            continue;
        }
        if (value.size() >= static_cast<size_t>(kFieldValueChars)) {
            LogMessage(0, kLabel, L"%s: the value of %s has %d characters, at most %d fit; its record is not written",
                       L"loadSection", name.c_str(), static_cast<int>(value.size()), kFieldValueChars - 1);
            refused = true;
        }
        iniFileRecord& record = records[recordCount];
        iniFileRecord::Field& field = record.fields[stored % kFieldCount];
        CopyField(field.name, kFieldNameChars, name);
        CopyField(field.value, kFieldValueChars, value);
        if (++stored % kFieldCount == 0) {
            record.status = refused ? kRecordNotExecuted : kRecordLoaded;
            refused = false;
            ++recordCount;
        }
    }
    return 1;
}
