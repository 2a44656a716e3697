// Reading the registry script reg.ini: the section index and the records of
// one section.
#include <cstring>
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

bool AnsiLineReader::Open(const char* path) {
    file_.reset(fopen(path, "rb"));
    bufferStart_ = 0;
    next_ = filled_ = 0;
    atEnd_ = false;
    size_ = 0;
    if (!file_) return false;
    if (fseek(file_.get(), 0, SEEK_END) == 0) size_ = ftell(file_.get());
    fseek(file_.get(), 0, SEEK_SET);
    return true;
}

void AnsiLineReader::Seek(long offset) {
    next_ = filled_ = 0;
    atEnd_ = false;
    bufferStart_ = offset;
    if (file_) fseek(file_.get(), offset, SEEK_SET);
}

int AnsiLineReader::Peek() {
    if (next_ == filled_) {
        bufferStart_ += static_cast<long>(filled_);
        next_ = 0;
        filled_ = file_ ? fread(buffer_, 1, sizeof buffer_, file_.get()) : 0;
        if (filled_ == 0) {
            atEnd_ = true;
            return EOF;
        }
    }
    return static_cast<unsigned char>(buffer_[next_]);
}

int AnsiLineReader::Get() {
    const int c = Peek();
    if (c != EOF) ++next_;
    return c;
}

void AnsiLineReader::GetLine(wchar_t* buffer, int length, wchar_t delimiter) {
    const int delim = static_cast<unsigned char>(static_cast<char>(delimiter));
    const size_t room = static_cast<size_t>(length) - 1;
    std::string narrow;
    lineCut_ = false;
    for (int c = Peek();; c = Peek()) {
        if (c == EOF) break;
        if (c == delim) {
            Get();
            break;
        }
        if (narrow.size() == room) {
            // Longer than the line buffer: keep its start, skip the rest. A
            // CR just before the delimiter is no lost text.
            const bool cr = c == '\r';
            if (cr) Get();
            const int next = Peek();
            lineCut_ = !(cr && (next == delim || next == EOF));
            while ((c = Get()) != EOF && c != delim) {
            }
            break;
        }
        narrow.push_back(static_cast<char>(Get()));
    }
    lineHeldNul_ = memchr(narrow.data(), 0, narrow.size()) != nullptr;
    narrow.resize(strlen(narrow.c_str()));
    if (!narrow.empty() && narrow.back() == '\r') narrow.pop_back();
    XString wide(narrow.c_str());
    wide.setEncoding(XString::Unicode);
    wcsncpy(buffer, wide.wvalue(), room);
    buffer[room] = 0;
}

AnsiTextWriter& AnsiTextWriter::operator<<(const wchar_t* text) {
    XString narrow(text);
    narrow.setEncoding(XString::Ascii);
    if (file_) fputs(narrow.value(), file_.get());
    return *this;
}

iniFileSection::iniFileSection() {
    LogMessage(0, kLabel, L"Allocate %d iniFileRecord", kMaxRecords);
    records.reset(new (std::nothrow) iniFileRecord[kMaxRecords]);
    if (!records) LogMessage(0, kLabel, L"Can't allocate %d iniFileRecord", kMaxRecords);
    else memset(records.get(), 0, sizeof(iniFileRecord) * kMaxRecords);
}

int iniFileSection::loadSection(const char* scriptPath, long start, long end) {
    AnsiLineReader in;
    in.Open(scriptPath);
    if (start >= end || start < 0) {
        LogMessage(0, kLabel, L"%s: Ilegal positions(%d,%d)", L"loadSection", static_cast<int>(start),
                   static_cast<int>(end));
        return -1;
    }
    if (!records) {
        LogMessage(0, kLabel, L"records==0");
        return -1;
    }
    in.Seek(start);
    int stored = 0;
    bool refused = false;
    bool full = false;
    std::wstring lastName;
    wchar_t line[kLineChars];
    while (in.IsOpen() && !in.AtEnd() && in.Tell() < end) {
        in.GetLine(line, kLineChars, L'\n');
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
