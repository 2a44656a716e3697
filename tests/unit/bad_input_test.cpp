// Bad input for every parser of the library: valid inputs, seeded random
// mutations of them and hand-made cases. Each must end without a crash or a
// hang, and leave a log line saying what was refused or cut.
#include <doctest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "addfiles/addfiles.h"
#include "bound_session.h"
#include "config/config.h"
#include "deferred/deferred.h"
#include "events/frame.h"
#include "harness.h"
#include "kernel/kernel.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "system/system.h"

namespace {

constexpr size_t npos = std::string::npos;

size_t Pick(std::mt19937& rng, size_t n) { return n ? rng() % n : 0; }

// The install log since construction, read from that offset: a long loop
// must not re-read the whole log for every input.
class LogTail {
public:
    LogTail() : start_(Size()) {}
    std::string Text() const {
        std::string text;
        FILE* f = _wfopen(LogCapture::Path().c_str(), L"rb");
        if (!f) return text;
        _fseeki64(f, start_, SEEK_SET);
        static char buffer[1 << 16];
        for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
        fclose(f);
        return text;
    }
    static int Occurrences(const std::string& text, const std::string& needle) {
        int n = 0;
        for (size_t at = text.find(needle); at != npos; at = text.find(needle, at + needle.size())) ++n;
        return n;
    }

private:
    static long long Size() {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(LogCapture::Path().c_str(), GetFileExInfoStandard, &data)) return 0;
        return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    long long start_;
};

// Seeded edits of a sample: tokens its parser reacts to, cuts, repeats, long
// runs of one character and splices with another sample. With `limitOf`,
// no edit and no splice reaches past the position it names in a text.
template <typename S>
S Mutate(std::mt19937& rng, S text, const std::vector<S>& tokens, const std::vector<S>& samples,
         typename S::value_type (*randomChar)(std::mt19937&), size_t (*limitOf)(const S&) = nullptr) {
    auto limit = [limitOf](const S& s) { return limitOf ? std::min(limitOf(s), s.size()) : s.size(); };
    for (size_t edits = 1 + Pick(rng, 3); edits > 0; --edits) {
        const size_t at = Pick(rng, limit(text) + 1);
        switch (Pick(rng, 8)) {
            case 0: text.insert(at, tokens[Pick(rng, tokens.size())]); break;
            case 1: text.erase(at, 1 + Pick(rng, 16)); break;
            case 2:
                if (at < text.size()) text[at] = randomChar(rng);
                break;
            case 3:  // rare: a cut text nearly always breaks, and each break is a log line
                if (Pick(rng, 16) == 0) text.resize(at);
                break;
            case 4: text.insert(at, text.substr(Pick(rng, text.size() + 1), 1 + Pick(rng, 64))); break;
            case 5: {
                const S& other = samples[Pick(rng, samples.size())];
                text = text.substr(0, at) + other.substr(Pick(rng, limit(other) + 1));
                break;
            }
            case 6: text.insert(at, 1 + Pick(rng, 1200), randomChar(rng)); break;
            default: text.insert(at, 1, randomChar(rng)); break;
        }
    }
    return text;
}

char AnyByte(std::mt19937& rng) { return static_cast<char>(Pick(rng, 256)); }

std::string RandomBytes(std::mt19937& rng, size_t size) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = AnyByte(rng);
    return bytes;
}

// --- The packed container ---

// No NUL: the text reaches the parser through a property, which cannot hold one.
wchar_t ContainerChar(std::mt19937& rng) {
    static const wchar_t kMarks[] = L"[]|=a\\ ";
    if (Pick(rng, 4)) return kMarks[Pick(rng, 7)];
    return static_cast<wchar_t>(1 + Pick(rng, 0xFFFE));
}

// Where the last entry of a packed text begins.
size_t LastEntry(const std::wstring& text) { return text.rfind(L"[["); }

struct Parsed {
    std::vector<std::pair<std::wstring, std::wstring>> entries;
    bool broken = false;
    int refused = 0;  // new names that found the table full
    std::wstring Packed() const {
        std::wstring text;
        if (broken) return text;
        for (const auto& e : entries) text += L"[[" + e.first + L"=" + e.second + L"]]|";
        return text;
    }
};

// First occurrence of a mark at or after a position that only grows; the
// answer is kept until the position passes it.
class Finder {
public:
    Finder(const std::wstring& text, const wchar_t* mark) : text_(text), mark_(mark) {}
    size_t From(size_t from) {
        if (!known_ || (at_ != npos && at_ < from)) at_ = text_.find(mark_, from);
        known_ = true;
        return at_;
    }

private:
    const std::wstring& text_;
    const wchar_t* mark_;
    size_t at_ = npos;
    bool known_ = false;
};

// The wire format read as the design describes it, into an empty table.
Parsed ParseModel(const std::wstring& text) {
    Parsed p;
    auto set = [&p](const std::wstring& name, const std::wstring& value) {
        for (auto& e : p.entries)
            if (e.first == name) {
                e.second = value;
                return;
            }
        if (p.entries.size() == static_cast<size_t>(CADContainer::kCapacity)) ++p.refused;
        else p.entries.emplace_back(name, value);
    };
    Finder open(text, L"[["), equals(text, L"="), close(text, L"]]|");
    enum class State { Open, Name, Value, Close } state = State::Open;
    std::wstring name;
    size_t at = 0;
    bool done = false;
    while (at < text.size() && !done && !p.broken) {
        switch (state) {
            case State::Open: {
                size_t m = open.From(at);
                if (m == npos) p.broken = true;
                else at = m + 2, state = State::Name;
                break;
            }
            case State::Name: {
                size_t m = equals.From(at);
                name = m == npos ? std::wstring() : text.substr(at, m - at);
                if (m != npos) at = m + 1;
                state = State::Value;
                break;
            }
            case State::Value: {
                size_t m = close.From(at), end = m == npos ? text.size() : m;
                set(name, text.substr(at, end - at));
                at = end;
                state = State::Close;
                break;
            }
            case State::Close: {
                size_t m = close.From(at);
                if (m == npos) p.broken = true;
                else if (m + 3 == text.size()) done = true;
                else at = m + 3, state = State::Open;
                break;
            }
        }
    }
    if (!done && state != State::Open) p.broken = true;
    if (p.broken) p.entries.clear();
    return p;
}

// A valid packed text of `count` entries whose names come from a pool of
// `pool` names: no "=" in a name, no "]]|" in a value.
std::wstring RandomContainer(std::mt19937& rng, size_t count, size_t pool, size_t maxValue) {
    auto word = [&rng](size_t length) {
        std::wstring w;
        while (w.size() < length) {
            wchar_t c = ContainerChar(rng);
            if (c != L'=') w += c;
        }
        return w;
    };
    std::vector<std::wstring> names;
    for (size_t i = 0; i < pool; ++i) names.push_back(word(Pick(rng, 6)) + std::to_wstring(i));
    std::wstring text;
    for (size_t i = 0; i < count; ++i) {
        std::wstring value = word(Pick(rng, maxValue + 1));
        for (size_t bad; (bad = value.find(L"]]|")) != npos;) value[bad + 2] = L'_';
        text += L"[[" + names[Pick(rng, pool)] + L"=" + value + L"]]|";
    }
    return text;
}

// --- reg.ini and reg_ini_DB ---

const std::wstring& ScriptDir() {
    static const std::wstring dir = TempDir() + L"bad_input\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir;
}
const std::wstring& ScriptPath() {
    static const std::wstring path = ScriptDir() + L"reg.ini";
    return path;
}
const std::wstring& JournalPath() {
    static const std::wstring path = ScriptDir() + L"reg_ini_DB";
    return path;
}

// INSTALLDIR, and the removal's old installation path, are ScriptDir().
struct ScriptSession : BoundSession {
    ScriptSession() : BoundSession({{L"tamber_old_installed_path", ScriptDir().c_str()}}, ScriptDir().c_str()) {}
};

std::string Record(const std::string& key, const std::string& name, const std::string& type, const std::string& value) {
    return "key=" + key + "\nname=" + name + "\ntype=" + type + "\nvalue=" + value + "\nsize=4\n";
}

std::string Repeat(int times, const std::function<std::string(int)>& piece) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece(i);
    return text;
}

// The journal's text framing undone: each CR LF pair is one LF.
std::string Decoded(const std::string& raw) {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
        out += raw[i];
    }
    return out;
}

int32_t Int32At(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int b = 3; b >= 0; --b) v = (v << 8) | static_cast<unsigned char>(bytes[at + b]);
    return static_cast<int32_t>(v);
}

// One record's 1404 bytes by the layout; `status` and the texts as given.
std::string RecordBytes(const std::vector<std::pair<std::wstring, std::wstring>>& fields, int32_t status,
                        const std::wstring& created) {
    std::string bytes(sizeof(iniFileRecord), '\0');
    auto put = [&bytes](size_t at, const std::wstring& text) {
        for (size_t i = 0; i < text.size(); ++i) {
            bytes[at + 2 * i] = static_cast<char>(text[i] & 0xFF);
            bytes[at + 2 * i + 1] = static_cast<char>(text[i] >> 8);
        }
    };
    for (size_t i = 0; i < fields.size(); ++i) {
        put(240 * i, fields[i].first);
        put(240 * i + 40, fields[i].second);
    }
    for (int b = 0; b < 4; ++b) bytes[1200 + b] = static_cast<char>((static_cast<uint32_t>(status) >> (8 * b)) & 0xFF);
    put(1204, created);
    return bytes;
}

std::string Int32Bytes(int32_t v) {
    std::string bytes(4, '\0');
    for (int b = 0; b < 4; ++b) bytes[b] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * b)) & 0xFF);
    return bytes;
}

std::string TextMode(const std::string& raw) {
    std::string out;
    for (char c : raw) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// The log lines a replay of `raw` must write, by kind, as the design reads it.
struct ReplayLines {
    int stray = 0, claims = 0, cut = 0, unknownStatus = 0, unknownField = 0, deletes = 0;
    bool operator==(const ReplayLines& o) const {
        return stray == o.stray && claims == o.claims && cut == o.cut && unknownStatus == o.unknownStatus &&
               unknownField == o.unknownField && deletes == o.deletes;
    }
};

ReplayLines ExpectedReplay(const std::string& raw) {
    const std::string bytes = Decoded(raw);
    const size_t recordSize = sizeof(iniFileRecord);
    ReplayLines r;
    for (size_t at = 0;;) {
        if (bytes.size() - at < 4) {
            r.stray += bytes.size() > at;
            return r;
        }
        int32_t count = Int32At(bytes, at);
        at += 4;
        if (count < 0 || count > kMaxRecords) {
            ++r.claims;
            return r;
        }
        size_t complete = std::min<size_t>(count, (bytes.size() - at) / recordSize);
        for (size_t i = 0; i < complete; ++i, at += recordSize) {
            int32_t status = Int32At(bytes, at + 1200);
            if (status == kRecordKeyCreated) continue;
            if (status != kRecordWritten) {
                ++r.unknownStatus;
                continue;
            }
            bool known = true;
            for (int f = 0; f < kFieldCount; ++f) {
                std::wstring name;
                for (int c = 0; c < kFieldNameChars; ++c) {
                    wchar_t w = static_cast<wchar_t>(static_cast<unsigned char>(bytes[at + 240 * f + 2 * c]) |
                                                     static_cast<unsigned char>(bytes[at + 240 * f + 2 * c + 1]) << 8);
                    if (!w) break;
                    name += w;
                }
                known = known && (name == L"key" || name == L"name" || name == L"type" || name == L"value" ||
                                  name == L"size");
            }
            ++(known ? r.deletes : r.unknownField);
        }
        if (complete < static_cast<size_t>(count)) {
            ++r.cut;
            return r;
        }
    }
}

ReplayLines SeenReplay(const std::string& log) {
    ReplayLines r;
    const std::string op = "<Registry Controller> RestoreAllSections: ";
    r.stray = LogTail::Occurrences(log, op + "ignored ");
    r.claims = LogTail::Occurrences(log, op + "block at offset ");
    r.cut = LogTail::Occurrences(log, op + "Can't read the section changes");
    r.unknownStatus = LogTail::Occurrences(log, op + "ExecuteINISection: Unknown record status (");
    r.unknownField = LogTail::Occurrences(log, op + "ExecuteINISection: Unknown field type (");
    r.deletes = LogTail::Occurrences(log, "<Registry Controller> delRegistryValue: ends with ");
    return r;
}

std::string Describe(const ReplayLines& r) {
    return "stray " + std::to_string(r.stray) + ", claims " + std::to_string(r.claims) + ", cut " +
           std::to_string(r.cut) + ", unknown status " + std::to_string(r.unknownStatus) + ", unknown field " +
           std::to_string(r.unknownField) + ", deletes " + std::to_string(r.deletes);
}

// What the script reader must report of `script`: lines longer than its
// buffer and lines holding a NUL byte in the part it keeps.
struct ScriptLines {
    int cut = 0, nul = 0;
};
ScriptLines ExpectedScriptLines(const std::string& script) {
    ScriptLines s;
    const size_t keep = kLineChars - 1;
    for (size_t at = 0; at < script.size();) {
        size_t end = script.find('\n', at);
        if (end == npos) end = script.size();
        const std::string line = script.substr(at, end - at);
        // A CR LF end right after a full line loses no text.
        s.cut += line.size() > keep && !(line.size() == keep + 1 && line.back() == '\r');
        s.nul += line.substr(0, keep).find('\0') != npos;
        at = end + 1;
    }
    return s;
}

// A journal block by block; false when it is not framed exactly.
bool JournalBlocks(const std::string& raw, std::vector<std::vector<iniFileRecord>>* blocks) {
    const std::string bytes = Decoded(raw);
    for (size_t at = 0; at < bytes.size();) {
        if (bytes.size() - at < 4) return false;
        int32_t count = Int32At(bytes, at);
        at += 4;
        if (count < 0 || count > kMaxRecords || bytes.size() - at < count * sizeof(iniFileRecord)) return false;
        std::vector<iniFileRecord> records(static_cast<size_t>(count));
        for (iniFileRecord& r : records) {
            memcpy(&r, bytes.data() + at, sizeof r);
            at += sizeof r;
        }
        blocks->push_back(records);
    }
    return true;
}

// --- Command lines ---

std::wstring Replaced(std::wstring text, const std::wstring& from, const std::wstring& to) {
    for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The commands the runner logged, in order.
std::vector<std::string> RunCommands(const std::string& log) {
    std::vector<std::string> commands;
    const std::string running = "<Tamber_RunProcess> running command: <";
    for (size_t at = log.find(running); at != npos; at = log.find(running, at + 1)) {
        size_t end = log.find(">\r\n", at);
        commands.push_back(log.substr(at + running.size(), end - at - running.size()));
    }
    return commands;
}

}  // namespace

TEST_CASE("container texts valid and mutated and hand-made") {
    std::mt19937 rng(61001);
    std::vector<std::wstring> samples, over512;
    for (int i = 0; i < 60; ++i) samples.push_back(RandomContainer(rng, 1 + Pick(rng, 7), 10, 30));
    for (int i = 0; i < 3; ++i) over512.push_back(RandomContainer(rng, 520, 100000, 10));
    // A mebibyte and more: many entries, and one long value.
    const std::wstring manyEntries = RandomContainer(rng, 3500, 500, 600);
    const std::wstring longValue = L"[[big=" + std::wstring(1u << 20, L'v') + L"]]|";
    const std::vector<std::wstring> big = {manyEntries, longValue};
    const std::vector<std::wstring> tokens = {L"[[", L"]]|", L"=", L"]]", L"[", L"|", L"]"};
    // A linear parse of any of these takes well under a second.
    constexpr DWORD kParseBudgetMs = 10000;
    const std::string kBroken = "<DeMarshal_CAD> Critical Error: Failed to de-marshal data from CustomActionData";

    LogTail tail;
    int broken = 0, refused = 0, mismatches = 0, mutations = 0, onBig = 0, handMade = 0;
    DWORD slowest = 0;
    auto check = [&](const std::wstring& text) {
        const Parsed expected = ParseModel(text);
        TheCADContainer().Clear();
        const DWORD start = GetTickCount();
        TheCADContainer().Unpack(XString(text.c_str()));
        slowest = std::max<DWORD>(slowest, GetTickCount() - start);
        const std::wstring packed = TheCADContainer().Pack().wvalue();
        broken += expected.broken;
        refused += expected.refused;
        if (packed != expected.Packed() && ++mismatches <= 3) {
            CAPTURE(Narrow(text.substr(0, 300)));
            CHECK(Narrow(packed.substr(0, 300)) == Narrow(expected.Packed().substr(0, 300)));
        }
        return expected;
    };

    const std::vector<const std::vector<std::wstring>*> valid = {&samples, &over512, &big};
    for (const auto* set : valid)
        for (const std::wstring& s : *set) CHECK_FALSE(check(s).broken);
    for (; mutations < 100000; ++mutations) {
        const bool onBigText = mutations % 10000 == 0;
        const std::vector<std::wstring>& from = onBigText ? big : mutations % 5000 == 2500 ? over512 : samples;
        onBig += onBigText;
        // Most edits keep before the last entry: a text broken at its end
        // costs a log line, and a few thousand of those suffice.
        check(Mutate<std::wstring>(rng, from[Pick(rng, from.size())], tokens, from, ContainerChar,
                                   Pick(rng, 32) == 0 ? nullptr : LastEntry));
    }

    const std::wstring handMadeTexts[] = {
        L"",
        L"[[",
        L"[[a",
        L"[[a=",
        L"[[a=1",
        L"[[a=1]]",
        L"[[a=1]]|",
        L"]]|",
        L"[[=]]|",
        L"[[[[a=1]]|",
        L"[[a=1]]|]]|",
        L"[[a=1]]|[[b=2]]|x",
        Widen(Repeat(513, [](int i) { return "[[n" + std::to_string(i) + "=v]]|"; })),
        Widen(Repeat(600, [](int i) { return "[[k" + std::to_string(i) + "=" + std::string(520, 'v') + "]]|"; })),
        std::wstring(1u << 20, L'['),                               // no name, no value end
        Widen(Repeat(180000, [](int) { return "[[x]]|"; })),       // no "=" anywhere
        L"[[a=" + std::wstring(1u << 20, L']'),                    // a value that never ends
    };
    for (const std::wstring& text : handMadeTexts) {
        CAPTURE(Narrow(text.substr(0, 80)));
        LogTail one;
        const Parsed expected = check(text);
        const std::string log = one.Text();
        CHECK(LogTail::Occurrences(log, kBroken) == expected.broken);
        CHECK(LogTail::Occurrences(log, "<CADContainer> Container is full (512 entries): ") == expected.refused);
        ++handMade;
    }
    CHECK(ParseModel(handMadeTexts[12]).refused == 1);
    CHECK(ParseModel(handMadeTexts[13]).refused == 88);
    CHECK(ParseModel(handMadeTexts[15]).Packed() == L"[[=x]]|");

    // The same parse through a session's ALLCADPROPS.
    TheCADContainer().Clear();
    {
        const std::wstring text = manyEntries.substr(0, manyEntries.find(L"]]|", 100000) + 3);
        BoundSession session({{L"ALLCADPROPS", text.c_str()}});
        const Parsed expected = ParseModel(text);
        CHECK(std::wstring(TheCADContainer().Pack().wvalue()) == expected.Packed());
        refused += expected.refused;
        ++handMade;
    }

    const std::string log = tail.Text();
    CHECK(mismatches == 0);
    CHECK(slowest < kParseBudgetMs);
    CHECK(LogTail::Occurrences(log, kBroken) == broken);
    CHECK(LogTail::Occurrences(log, "<CADContainer> Container is full (512 entries): ") == refused);
    printf("container: %d mutations (%d of texts of 1 MiB and more), %d valid, %d hand-made; %d broken, %d names "
           "refused, slowest parse %lu ms\n",
           mutations, onBig, static_cast<int>(samples.size() + over512.size() + big.size()), handMade, broken, refused,
           static_cast<unsigned long>(slowest));
}

namespace {

const wchar_t kSettingsStream[] = L"HVINSTADDINT_product_ini";

// The "version" section of `file` as Windows reads it, line by line.
std::vector<std::wstring> SectionLines(const std::wstring& file) {
    std::vector<wchar_t> buffer(1 << 16, L'\0');
    DWORD chars = file.empty() ? 0 : GetPrivateProfileSectionW(L"version", buffer.data(), 1 << 16, file.c_str());
    std::vector<std::wstring> lines;
    for (const wchar_t* p = buffer.data(); chars && *p; p += wcslen(p) + 1) lines.push_back(p);
    return lines;
}

struct Published {
    int count;
    std::string log;
    std::wstring file;  // the extracted copy, as the log names it
};

void RunQuery(MSIHANDLE database, const wchar_t* query, MSIHANDLE params = 0) {
    MSIHANDLE view = 0;
    REQUIRE(MsiDatabaseOpenViewW(database, query, &view) == ERROR_SUCCESS);
    REQUIRE(MsiViewExecute(view, params) == ERROR_SUCCESS);
    MsiCloseHandle(view);
}

// A Binary row held by the session only: a package file cannot store a
// stream under a name of more than about 60 characters, the session can.
void AddSessionBinary(MSIHANDLE database, const std::wstring& name, const std::string& bytes) {
    const std::wstring file = TempDir() + L"session_stream.bin";
    WriteFileBytes(file, bytes);
    MSIHANDLE record = MsiCreateRecord(2);
    MsiRecordSetStringW(record, 1, name.c_str());
    REQUIRE(MsiRecordSetStreamW(record, 2, file.c_str()) == ERROR_SUCCESS);
    RunQuery(database, L"INSERT INTO `Binary` (`Name`, `Data`) VALUES (?, ?) TEMPORARY", record);
    MsiCloseHandle(record);
}

// One session whose settings stream is replaced for every input.
class SettingsSession {
public:
    SettingsSession() {
        pkg_.Binary(kSettingsStream, "");
        BindSession(pkg_.Session());
        database_ = MsiGetActiveDatabase(pkg_.Session());
    }
    ~SettingsSession() {
        MsiCloseHandle(database_);
        UnbindSession();
    }
    std::wstring Get(const std::wstring& name) { return pkg_.Get(name); }

    Published Publish(const std::string& bytes) {
        RunQuery(database_, L"DELETE FROM `Binary` WHERE `Name` = 'HVINSTADDINT_product_ini'");
        AddSessionBinary(database_, kSettingsStream, bytes);
        TheCADContainer().Clear();
        LogTail tail;
        Published p{SetProductINIProperties(), tail.Text(), L""};
        for (const std::string marker :
             {"<Setting Product.ini> Attributes list (", "<Setting Product.ini> Can't load 'version' from "}) {
            size_t at = p.log.find(marker);
            if (at == npos) continue;
            at += marker.size();
            std::string path = p.log.substr(at, p.log.find_first_of("\r\n", at) - at);
            if (path.size() > 2 && path.compare(path.size() - 2, 2, "):") == 0) path.resize(path.size() - 2);
            p.file = Widen(path);
        }
        return p;
    }

private:
    TestPackage pkg_;
    MSIHANDLE database_ = 0;
};

// What every settings stream must give: one property per section line with
// a "=", and a log line for a missing section and for a cut stream.
void CheckPublished(const std::string& bytes, const Published& p) {
    REQUIRE_FALSE(p.file.empty());
    const std::vector<std::wstring> lines = SectionLines(p.file);
    int withEquals = 0;
    for (const std::wstring& line : lines) withEquals += line.find(L'=') != std::wstring::npos;
    CHECK(p.count == withEquals);
    CHECK(LogTail::Occurrences(p.log, "<SetProperty> SetProperty >> key=") == withEquals);
    CHECK(LogTail::Occurrences(p.log, "<Setting Product.ini> Can't load 'version' from ") == (lines.empty() ? 1 : 0));
    CHECK(LogTail::Occurrences(p.log, "<LoadProductDotINI> The product.ini stream is longer than 65536 bytes; only "
                                      "the first 65536 are used") == (bytes.size() > 65536 ? 1 : 0));
    CHECK(LogTail::Occurrences(p.log, "<LoadProductDotINI> Done.") == 1);
}

}  // namespace

TEST_CASE("settings streams valid and mutated and hand-made") {
    std::mt19937 rng(51001);
    const std::vector<std::string> samples = {
        "[version]\nShowLic=0\nPathAskUser=1\nDefaultPath=C:\\Program Files\\Halvora\\Varnet\\\nMajorVersion=5\n"
        "MinorVersion=2\nEnableSDL=1\nCustom=a=b\nEmpty=\n; comment\nno equals sign\n[other]\nIgnored=1\n",
        "[Version]\r\nShowRestart=0\r\nRestartAfterInstall=0\r\n",
        "[other]\nA=1\n[version]\nIsSimplified=1\nShowSetupInfoDialogs=0\n[version]\nLate=1\n",
    };
    const std::vector<std::string> tokens = {"\n", "\r\n", "[", "]", "=", "[version]\n", "[VERSION]", ";", " ",
                                             std::string(1, '\0'), "\xff\xfe", "\xef\xbb\xbf", "\x1a"};
    SettingsSession session;
    int valid = 0, mutations = 0, handMade = 0;
    for (const std::string& s : samples) {
        const Published p = session.Publish(s);
        CHECK(p.count > 0);
        CheckPublished(s, p);
        ++valid;
    }
    for (; mutations < 100; ++mutations) {
        const std::string bytes = Mutate<std::string>(rng, samples[Pick(rng, samples.size())], tokens, samples,
                                                      AnyByte);
        CAPTURE(bytes);
        CheckPublished(bytes, session.Publish(bytes));
    }

    auto key = [](int i) {
        const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        return std::string{static_cast<char>('a' + i / 1296), digits[i / 36 % 36], digits[i % 36]};
    };
    const std::string tenThousand = "[version]\n" + Repeat(10000, [&](int i) { return key(i) + "=1\n"; });
    const std::string longStream =
        "[version]\nBeforeTheCut=1\n" + Repeat(700, [](int) { return ";" + std::string(98, 'x') + "\n"; }) +
        "AfterTheCut=1\n";
    const std::string garbage = RandomBytes(rng, 4096);
    const std::string missing = "<Setting Product.ini> Can't load 'version' from ";
    struct Case {
        const char* what;
        std::string bytes;
        int count;         // -1: as Windows reads the section
        std::string line;  // says what was refused or cut, `lines` times
        int lines;
    };
    const Case cases[] = {
        {"an empty stream", "", 0, missing, 1},
        {"binary garbage", garbage, -1, missing, 1},
        {"binary garbage beyond 64 KiB", RandomBytes(rng, 100000), -1, "than 65536 bytes; only the first 65536", 1},
        {"a valid section before garbage", "[version]\nA=1\n" + garbage, -1, "<Setting Product.ini> Attributes", 1},
        {"no version section", "[other]\nA=1\nB=2\n", 0, missing, 1},
        {"a version header without ]", "[version\nA=1\n", -1, "<Setting Product.ini> ", 1},
        {"a key without a name", "[version]\n=x\nA=1\n", 2, "<Setting Product.ini> SetProperty failed", 1},
        {"NUL bytes in the section", std::string("[version]\nA=1\n\0B=2\nC=3\n", 24), -1,
         "<Setting Product.ini> Attributes list", 1},
        {"a stream beyond 64 KiB", longStream, 1, "than 65536 bytes; only the first 65536", 1},
        {"10000 keys", tenThousand, 10000, "<CADContainer> Container is full (512 entries): ", 10000 - 512},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        const Published p = session.Publish(c.bytes);
        CheckPublished(c.bytes, p);
        if (c.count >= 0) CHECK(p.count == c.count);
        CHECK(LogTail::Occurrences(p.log, c.line) == c.lines);
        ++handMade;
    }
    // What the hand-made cases must have left behind.
    CHECK(session.Get(L"BeforeTheCut") == L"1");
    CHECK(session.Get(L"AfterTheCut").empty());
    CHECK(session.Get(Widen(key(0))) == L"1");
    CHECK(session.Get(Widen(key(9999))) == L"1");
    XString stored;
    CHECK(TheCADContainer().Find(Widen(key(511)).c_str(), &stored) == 511);
    CHECK(TheCADContainer().Find(Widen(key(512)).c_str(), &stored) == -1);
    printf("settings: %d valid, %d mutations, %d hand-made\n", valid, mutations, handMade);
}

TEST_CASE("reg.ini scripts valid and mutated and hand-made") {
    std::mt19937 rng(81001);
    const std::string fuzz = "SOFTWARE\\Tamber\\Fuzz\\";
    const std::vector<std::string> samples = {
        "[A]\n" + Record(fuzz + "A", "N", "REGDB_NUMBER", "1") + "[S]\n; two records\n" +
            Record(fuzz + "S", "Path", "REGDB_STRING", "{TARGETDIR}\\bin") +
            Record(fuzz + "S\\Deep", "Exp", "REGDB_STRING_EXPAND", "{SystemRoot}\\x") + "[B]\n" +
            Record(fuzz + "B", "N", "REGDB_NUMBER", "2"),
        "[S]\r\nkey=" + fuzz + "CRLF\r\nname=N\r\ntype=REGDB_NUMBER\r\nvalue= 7 \r\nsize=4\r\n",
        "[S]\ney=" + fuzz + "Alias\name=N\nype=REGDB_STRING\nalue=x\nize=0\n[S]\n" +
            Record(fuzz + "Second", "N", "REGDB_NUMBER", "3"),
    };
    const std::vector<std::string> tokens = {"\n", "\r\n", "[", "]", "=", "[S]\n", "key=", "name=", "type=", "value=",
                                             "size=", "ey=", "REGDB_NUMBER", "REGDB_STRING", "{TARGETDIR}",
                                             std::string(1, '\0'), ";", " ", "\t", "{", "}"};
    ScriptSession session;
    const std::string refusals[] = {"<Registry Controller> ExecuteINISection: Unknown field type (",
                                    " characters, at most 99 fit; its record is not written",
                                    "ExecuteINISection: ExecuteINISection: Unknown registry field type (",
                                    ": Can't set registry key "};
    int valid = 0, mutations = 0, handMade = 0, journaled = 0;

    // Every script: the journal gains at most one well-framed block, with
    // every record executed or refused with a reason in the log.
    auto apply = [&](const std::string& script, const wchar_t* section) {
        DeleteFileW(JournalPath().c_str());
        WriteFileBytes(ScriptPath(), script);
        LogTail tail;
        CHECK(regInsertSection(section) == 0);
        const std::string log = tail.Text();
        std::vector<std::vector<iniFileRecord>> blocks;
        CHECK(JournalBlocks(ReadFileBytes(JournalPath()), &blocks));
        CHECK(blocks.size() <= 1);
        const ScriptLines expected = ExpectedScriptLines(script);
        CHECK(LogTail::Occurrences(log, " characters; the rest of it is ignored") == expected.cut);
        CHECK(LogTail::Occurrences(log, " holds a NUL byte; the rest of it is ignored") == expected.nul);
        if (blocks.empty()) {
            CHECK(LogTail::Occurrences(log, "doesn't exists in the file") +
                      LogTail::Occurrences(log, "Can't open the ini file") ==
                  1);
            return blocks;
        }
        int notExecuted = 0, reasons = 0;
        for (const iniFileRecord& r : blocks[0]) {
            CHECK((r.status == kRecordWritten || r.status == kRecordKeyCreated || r.status == kRecordNotExecuted));
            notExecuted += r.status == kRecordNotExecuted;
            // Every text ends inside its field.
            for (const auto& f : r.fields)
                CHECK((f.name[kFieldNameChars - 1] == 0 && f.value[kFieldValueChars - 1] == 0));
            CHECK(r.firstCreatedKey[kFieldValueChars - 1] == 0);
        }
        for (const std::string& reason : refusals) reasons += LogTail::Occurrences(log, reason);
        CHECK(notExecuted <= reasons);
        ++journaled;
        return blocks;
    };

    for (const std::string& s : samples) {
        CHECK(apply(s, L"S").at(0).size() >= 1);
        ++valid;
    }
    for (; mutations < 300; ++mutations) {
        const std::string script = Mutate<std::string>(rng, samples[Pick(rng, samples.size())], tokens, samples,
                                                       AnyByte);
        CAPTURE(script);
        apply(script, L"S");
    }

    const std::string record = Record(fuzz + "Hand", "N", "REGDB_NUMBER", "1");
    struct Case {
        const char* what;
        std::string script;  // "" with `missing`: no file at all
        bool missing;
        const wchar_t* section;
        int records;     // in the journal's block; -1: nothing journaled
        int refused;     // records not executed
        std::string line;  // the log line that says what was refused or cut
    };
    const std::string sixty = Repeat(60, [&](int i) { return "[S" + std::to_string(i + 1) + "]\n" + record; });
    const Case cases[] = {
        {"a missing file", "", true, L"S", -1, 0, "iniFileObj: Can't open the ini file "},
        {"an empty file", "", false, L"S", -1, 0, "iniFileObj: The section 'S' doesn't exists in the file"},
        {"no sections", record + record, false, L"S", -1, 0, "iniFileObj: The section 'S' doesn't exists in the file"},
        {"60 sections and the 50th asked", sixty, false, L"S50", 1, 0,
         "iniFileObj: more than 50 sections; the section at line 301 is ignored"},
        {"60 sections and the 55th asked", sixty, false, L"S55", -1, 0,
         "iniFileObj: The section 'S55' doesn't exists in the file"},
        {"450 records", "[S]\n" + Repeat(450, [&](int) { return record; }), false, L"S", 400, 0,
         "loadSection: more than 400 records in the section; the rest is ignored"},
        {"a value of 99 characters", "[S]\n" + Record(fuzz + "V99", "N", "REGDB_STRING", std::string(99, 'v')), false,
         L"S", 1, 0, "setRegistryStringValue: successfully set registry value (N="},
        {"a value of 100 characters", "[S]\n" + Record(fuzz + "V100", "N", "REGDB_STRING", std::string(100, 'v')),
         false, L"S", 1, 1, "loadSection: the value of value has 100 characters, at most 99 fit"},
        {"a field name of 26 characters first",
         "[S]\nabcdefghijklmnopqrstuvwxyz=x\nkey=" + fuzz + "F\nname=N\ntype=REGDB_NUMBER\nvalue=1\n", false, L"S", 1,
         1, "ExecuteINISection: Unknown field type (abcdefghijklmnopqrs)"},
        {"a value line of 5000 characters", "[S]\n" + Record(fuzz + "L", "N", "REGDB_STRING", std::string(5000, 'v')),
         false, L"S", 1, 1, "iniFileObj: line 5 has more than 999 characters; the rest of it is ignored"},
        {"a comment line of 3000 characters", "[S]\n;" + std::string(3000, 'c') + "\n" + record, false, L"S", 1, 0,
         "iniFileObj: line 2 has more than 999 characters; the rest of it is ignored"},
        {"a header line of 2000 characters", "[S]" + std::string(2000, 'h') + "\n" + record, false, L"S", 1, 0,
         "iniFileObj: line 1 has more than 999 characters; the rest of it is ignored"},
        {"a line of 999 characters and CR LF", "[S]\r\n;" + std::string(998, 'c') + "\r\n" + record, false, L"S", 1, 0,
         "regInsertSection: WINI_FILE_NAME = "},
        {"a line of 1000 characters", "[S]\n;" + std::string(999, 'c') + "\n" + record, false, L"S", 1, 0,
         "iniFileObj: line 2 has more than 999 characters; the rest of it is ignored"},
        {"a NUL byte in a key",
         "[S]\nkey=" + fuzz + "Nul" + std::string(1, '\0') + "Cut\nname=N\ntype=REGDB_NUMBER\nvalue=1\nsize=4\n", false,
         L"S", 1, 0, "iniFileObj: line 2 holds a NUL byte; the rest of it is ignored"},
        {"a NUL byte in a header", "[S" + std::string(1, '\0') + "junk]\n" + record, false, L"S", 1, 0,
         "iniFileObj: line 1 holds a NUL byte; the rest of it is ignored"},
        {"CR alone as line end", "[S]\rkey=x\rname=N\r", false, L"S", 0, 0, "loadSection: Ilegal positions("},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        LogCapture log;
        if (c.missing) {
            DeleteFileW(JournalPath().c_str());
            DeleteFileW(ScriptPath().c_str());
            CHECK(regInsertSection(c.section) == 0);
            CHECK_FALSE(FileExists(JournalPath()));
        } else {
            auto blocks = apply(c.script, c.section);
            CHECK(static_cast<int>(blocks.size()) == (c.records < 0 ? 0 : 1));
            if (!blocks.empty()) {
                CHECK(static_cast<int>(blocks[0].size()) == c.records);
                int refused = 0;
                for (const iniFileRecord& r : blocks[0]) refused += r.status == kRecordNotExecuted;
                CHECK(refused == c.refused);
            }
        }
        CHECK(log.Find("<Registry Controller> " + c.line) >= 0);
        ++handMade;
    }
    CHECK(HklmValue(Widen(fuzz) + L"Nul", L"N") == REG_DWORD);
    CHECK(HklmKeyExists(Widen(fuzz) + L"V99"));
    CHECK_FALSE(HklmKeyExists(Widen(fuzz) + L"V100"));
    CHECK(HklmKeyExists(L"SOFTWARE\\Microsoft"));
    printf("reg.ini: %d valid, %d mutations, %d hand-made; %d journaled a block\n", valid, mutations, handMade,
           journaled);
}

TEST_CASE("reg_ini_DB journals valid and mutated and hand-made at removal") {
    std::mt19937 rng(91001);
    // Keys of a root of their own: a damaged record can only name keys there.
    auto written = [](int i) {
        const std::wstring key = L"TamberFuzz\\K" + std::to_wstring(i);
        return RecordBytes(
            {{L"key", key}, {L"name", L"N"}, {L"type", L"REGDB_NUMBER"}, {L"value", L"10"}, {L"size", L"4"}},
            kRecordWritten, L"");
    };
    auto created = [](int i) {
        const std::wstring key = L"TamberFuzz\\C" + std::to_wstring(i);
        return RecordBytes(
            {{L"key", key}, {L"name", L"N"}, {L"type", L"REGDB_STRING"}, {L"value", L"v\n"}, {L"size", L"0"}},
            kRecordKeyCreated, key);
    };
    auto block = [](const std::vector<std::string>& records) {
        std::string b = Int32Bytes(static_cast<int32_t>(records.size()));
        for (const std::string& r : records) b += r;
        return b;
    };
    const std::string validRaw =
        block({written(1), created(2)}) + block({}) + block({created(3), written(4), written(5)});
    const std::vector<std::string> samples = {TextMode(validRaw), TextMode(block({written(6)})),
                                              TextMode(block({created(7)}) + block({created(8)}))};
    const std::vector<std::string> tokens = {"\r\n", "\r", "\n", std::string(4, '\0'), Int32Bytes(401), Int32Bytes(-1),
                                             Int32Bytes(kRecordWritten), Int32Bytes(kRecordKeyCreated),
                                             TextMode(written(9)), std::string(700, '\0')};
    ScriptSession session;
    int valid = 0, mutations = 0, random = 0, handMade = 0, mismatches = 0;

    // The replay logs exactly what the design's reading of the bytes asks
    // for, and leaves the journal empty.
    auto replay = [&](const std::string& raw) {
        WriteFileBytes(JournalPath(), raw);
        LogTail tail;
        RestoreAllSections();
        const ReplayLines expected = ExpectedReplay(raw), seen = SeenReplay(tail.Text());
        if (!(seen == expected) && ++mismatches <= 3) CHECK(Describe(seen) == Describe(expected));
        CHECK(FileExists(JournalPath()));
        CHECK(ReadFileBytes(JournalPath()).empty());
        return expected;
    };

    // A valid journal undoes what it names.
    HklmSetValue(L"TamberFuzz\\K1", L"N", DWORD(10));
    HklmSetValue(L"TamberFuzz\\C2\\Below", L"N", L"v");
    for (const std::string& s : samples) {
        const ReplayLines r = replay(s);
        CHECK(r.unknownField + r.unknownStatus + r.claims + r.cut + r.stray == 0);
        ++valid;
    }
    CHECK(HklmValue(L"TamberFuzz\\K1", L"N") == REG_NONE);
    CHECK_FALSE(HklmKeyExists(L"TamberFuzz\\C2"));
    for (; mutations < 500; ++mutations)
        replay(Mutate<std::string>(rng, samples[Pick(rng, samples.size())], tokens, samples, AnyByte));
    for (; random < 100; ++random) replay(RandomBytes(rng, Pick(rng, 5000)));

    const std::string one = block({written(10)});
    struct Case {
        const char* what;
        std::string raw;
        std::string line;  // what the log must say; empty: nothing refused
    };
    const Case cases[] = {
        {"an empty file", "", ""},
        {"a block cut short", TextMode(Int32Bytes(3) + written(11) + written(12)),
         "RestoreAllSections: Can't read the section changes from the ini DB file reg_ini_DB"},
        {"a record cut in the middle", TextMode(one.substr(0, 4 + 700)),
         "RestoreAllSections: Can't read the section changes from the ini DB file reg_ini_DB"},
        {"a negative count", TextMode(Int32Bytes(-5) + written(13)),
         "RestoreAllSections: block at offset 0 claims -5 records (at most 400); the rest of reg_ini_DB is not read"},
        {"a count above 400", TextMode(one + Int32Bytes(401) + written(14)),
         "RestoreAllSections: block at offset 1408 claims 401 records (at most 400)"},
        {"a count of 400 with one record", TextMode(Int32Bytes(400) + written(15)),
         "RestoreAllSections: Can't read the section changes"},
        {"a stray CR LF at the end", TextMode(one) + "\r\n",
         "RestoreAllSections: ignored 1 stray bytes at offset 1408 at the end of reg_ini_DB"},
        {"stray CR LF pairs between blocks", TextMode(one) + "\r\n\r\n" + TextMode(one),
         "RestoreAllSections: block at offset 1408 claims 68106 records (at most 400)"},
        {"a stray CR LF inside a record", TextMode(one).insert(600, "\r\n"),
         "RestoreAllSections: ExecuteINISection: Unknown record status ("},
        {"CR LF in a record written without text framing",
         Int32Bytes(1) + RecordBytes({{L"key", L"TamberFuzz\\R"}, {L"name", L"N"}, {L"type", L"REGDB_STRING"},
                                      {L"value", std::wstring(1, wchar_t(0x0A0D))}, {L"size", L"0"}},
                                     kRecordWritten, L""),
         "RestoreAllSections: Can't read the section changes from the ini DB file reg_ini_DB"},
        {"random bytes", RandomBytes(rng, 3000), "RestoreAllSections: "},
    };
    for (const Case& c : cases) {
        CAPTURE(std::string(c.what));
        LogCapture log;
        replay(c.raw);
        if (c.line.empty()) CHECK(log.Find("<Registry Controller> RestoreAllSections: ") == -1);
        else CHECK(log.Find("<Registry Controller> " + c.line) >= 0);
        ++handMade;
    }
    {
        LogCapture log;
        DeleteFileW(JournalPath().c_str());
        RestoreAllSections();
        CHECK(log.Find("<Registry Controller> RestoreAllSections: storeCurrSection: Can't open the ini DB file "
                       "reg_ini_DB") >= 0);
        ++handMade;
    }
    CHECK(mismatches == 0);
    CHECK(HklmKeyExists(L"SOFTWARE\\Microsoft"));
    CHECK(HklmKeyExists(L"SYSTEM\\CurrentControlSet"));
    printf("reg_ini_DB: %d valid, %d mutations, %d random, %d hand-made\n", valid, mutations, random, handMade);
}

TEST_CASE("Binary row names around the additional-file prefixes") {
    auto named = [](const std::string& prefix, size_t length) {
        std::string name = prefix;
        for (size_t i = 0; name.size() < length; ++i) name += static_cast<char>('a' + i % 26);
        return name;
    };
    struct Case {
        std::string name;
        const char* installed;  // nullptr: not an additional file; "": read refused
    };
    std::vector<Case> cases = {
        {"HVINSTADDINT_", nullptr},   {"HVINSTADDEXT_", nullptr},   {"HVINSTADDINT_x", "x"},
        {"HVINSTADDEXT_y", "y"},      {"hvinstaddint_low", nullptr}, {"hvinstaddext_low", nullptr},
        {"HVINSTADDINT", nullptr},    {"XHVINSTADDINT_x", nullptr},  {"HVINSTADDINT_a_b_c", "a_b.c"},
    };
    for (const char* prefix : {"HVINSTADDINT_", "HVINSTADDEXT_"})
        for (size_t length : {199, 200, 201}) cases.push_back({named(prefix, length), length < 200 ? "long" : ""});

    TestPackage pkg;
    pkg.Binary(L"TamberDll", "not a file");
    BindSession(pkg.Session());
    MSIHANDLE database = MsiGetActiveDatabase(pkg.Session());
    for (const Case& c : cases) AddSessionBinary(database, Widen(c.name), "data of " + c.name);
    MsiCloseHandle(database);
    LogCapture log;
    const UINT result = StoreAdditionalFileFromBinaryTable();
    const std::wstring dir = pkg.Get(L"AddFilesTempDir");
    UnbindSession();

    const std::string label = "<InstallAdditionalFileFromBinaryTable> ";
    int refusedReads = 0, extracted = 0;
    for (const Case& c : cases) {
        CAPTURE(c.name);
        const int mapped = log.Find(label + "BinaryFileName=" + c.name + " => InstalledFileName=");
        if (!c.installed) {
            CHECK(mapped == -1);
        } else if (!*c.installed) {
            CHECK(mapped == -1);
            ++refusedReads;
        } else {
            // The long names hold no underscore after the prefix.
            const std::string installed = std::string(c.installed) == "long" ? c.name.substr(13) : c.installed;
            CHECK(mapped >= 0);
            CHECK(log.Find(label + "BinaryFileName=" + c.name + " => InstalledFileName=" + installed) >= 0);
            ++extracted;
        }
    }
    // A name that does not fit the 200-character buffer is refused with the
    // read's error, and the rows after it are still handled.
    int refusedLines = 0;
    for (const std::string& m : log.Messages())
        refusedLines += m == label + "Failed to MsiRecordGetString, error: 234";
    CHECK(refusedLines == refusedReads);
    CHECK(result == ERROR_MORE_DATA);
    int files = 0;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((dir + L"\\*.tmp").c_str(), &entry);
    for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &entry)) ++files;
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    CHECK(files == extracted);
    CHECK(log.Find(label + "Done.") >= 0);
    printf("Binary names: %d rows, %d extracted, %d refused reads\n", static_cast<int>(cases.size()), extracted,
           refusedReads);
}

TEST_CASE("Property table values longer than the first read") {
    const std::vector<size_t> lengths = {1, 198, 199, 200, 201, 511, 4096, 100000};
    TestPackage pkg;
    std::vector<std::pair<std::wstring, std::wstring>> rows;
    for (size_t length : lengths) {
        std::wstring value;
        for (size_t i = 0; value.size() < length; ++i) value += static_cast<wchar_t>(L'a' + i % 26);
        value.back() = L'Z';  // the last character must survive
        rows.emplace_back(L"Long" + std::to_wstring(length), value);
    }
    // A name longer than the 200-character buffer too.
    rows.emplace_back(L"N" + std::wstring(250, L'n'), L"value of a long name");
    for (const auto& r : rows) pkg.Property(r.first, r.second);
    BindSession(pkg.Session());
    TheCADContainer().Clear();
    LogCapture log;
    CHECK(Property_table_to_CAD() == ERROR_SUCCESS);
    UnbindSession();
    int whole = 0;
    for (const auto& r : rows) {
        CAPTURE(Narrow(r.first.substr(0, 40)));
        XString stored(L"<none>");
        CHECK(TheCADContainer().Find(r.first.c_str(), &stored) >= 0);
        CHECK(std::wstring(stored.wvalue()) == r.second);  // read whole, not cut at 199
        whole += std::wstring(stored.wvalue()) == r.second;
        // The log line shows the row, cut only by the log's own line length.
        const std::string line = "<Property_table_to_CAD> Extracted property form Property table: Property=" +
                                 Narrow(r.first) + ", Value=" + Narrow(r.second);
        CHECK(log.Find(line.substr(0, 400)) >= 0);
    }
    printf("Property table: %d rows, %d read whole\n", static_cast<int>(rows.size()), whole);
}

TEST_CASE("command lines of a long installation directory are refused or cut with a log line") {
    BoundSession session;
    wchar_t savedPath[32768] = L"";
    GetEnvironmentVariableW(L"PATH", savedPath, 32768);
    // Directories that do not exist: no program of them can start, and no
    // short 8.3 path of them exists at any length.
    auto dirOf = [](size_t length) { return L"C:\\" + std::wstring(length - 4, L'q') + L"\\"; };
    const std::wstring shortDir = dirOf(5);
    const std::string refusedLine = "The command line would not fit in 255 characters; it is not run";

    struct Op {
        const char* name;
        std::function<UINT(const XString&)> run;
    };
    const Op ops[] = {
        {"InstallBD", InstallBD},
        {"RunBDKern", [](const XString& d) { return RunBDKern(d, L"-v -u HV_BD1"); }},
        {"RunConn_config", [](const XString& d) { return RunConn_config(d, L"add Tessel-1 VPN"); }},
        {"updateSignBD", updateSignBD},
        {"UninstallBD", UninstallBD},
        {"InstallVNA", InstallVNA},
        {"UnInstallVNA", UnInstallVNA},
        {"UnhookVNA", UnhookVNA},
        {"RemoveVNADevice", RemoveVNADevice},
        {"RemoveVNAFromDriversCache", RemoveVNAFromDriversCache},
        {"RunXPDRV", RunXPDRV},
        {"InstallBD_with_VN_SMS_service", InstallBD_with_VN_SMS_service},
        {"updateSignBD_with_VN_SMS_service", updateSignBD_with_VN_SMS_service},
        {"RunInstallScripts", RunInstallScripts},
        {"RunUninstallScripts", RunUninstallScripts},
    };
    int runs = 0, refused = 0;
    for (const Op& op : ops) {
        CAPTURE(std::string(op.name));
        LogTail reference;
        CHECK(op.run(shortDir.c_str()) == kRunNotStarted);
        const std::vector<std::string> commands = RunCommands(reference.Text());
        REQUIRE(commands.size() == 1);
        const std::wstring command = Widen(commands[0]);
        size_t uses = 0;
        for (size_t at = command.find(shortDir); at != std::wstring::npos; at = command.find(shortDir, at + 1)) ++uses;
        REQUIRE(uses > 0);
        // The longest directory whose line still fits, its neighbours, and
        // directories far past every buffer.
        const size_t fits = 5 + (255 - command.size()) / uses;
        for (size_t length : {fits - 1, fits, fits + 1, fits + 2, size_t(300), size_t(1000)}) {
            CAPTURE(length);
            const std::wstring dir = dirOf(length);
            const std::wstring expected = Replaced(command, shortDir, dir);
            LogTail tail;
            CHECK(op.run(dir.c_str()) == kRunNotStarted);
            const std::string log = tail.Text();
            const std::vector<std::string> ran = RunCommands(log);
            if (expected.size() <= 255) {
                REQUIRE(ran.size() == 1);
                CHECK(ran[0] == Narrow(expected));  // whole, not cut
                CHECK(LogTail::Occurrences(log, refusedLine) == 0);
                ++runs;
            } else {
                CHECK(ran.empty());
                CHECK(LogTail::Occurrences(log, "<Drivers Controller> " + refusedLine) == 1);
                ++refused;
            }
        }
    }

    // Firewall rules: the add line is cut by the runner, as the design has it,
    // and the cut is logged; the delete line holds no directory.
    const wchar_t kAdd[] = L"netsh advfirewall firewall add rule name = ";
    const wchar_t kRule[] = L"\"Tessel-1 Varnet/Varguard service\" ";
    auto program = [](const std::wstring& dir) { return L"\"" + dir + L"bin\\VN_SERVICE.EXE\" "; };
    LogTail reference;
    AddFirewallRule(kAdd, kRule, program(shortDir).c_str());
    const std::vector<std::string> added = RunCommands(reference.Text());
    REQUIRE(added.size() == 1);
    const std::wstring addCommand = Widen(added[0]);
    int cut = 0;
    for (size_t length : {255 - addCommand.size() + 5, 256 - addCommand.size() + 5, size_t(2000)}) {
        CAPTURE(length);
        const std::wstring expected = Replaced(addCommand, shortDir, dirOf(length));
        LogTail tail;
        AddFirewallRule(kAdd, kRule, program(dirOf(length)).c_str());
        const std::string log = tail.Text();
        const std::vector<std::string> ran = RunCommands(log);
        REQUIRE(ran.size() == 1);
        CHECK(ran[0] == Narrow(expected.substr(0, 255)));
        const bool wasCut = expected.size() > 255;
        CHECK(LogTail::Occurrences(log, "<Tamber_RunProcess> The command line has ") == (wasCut ? 1 : 0));
        CHECK(LogTail::Occurrences(log, " characters; only the first 255 are run") == (wasCut ? 1 : 0));
        cut += wasCut;
    }
    SetEnvironmentVariableW(L"PATH", savedPath);
    printf("command lines: %d tools and scripts, %d run whole at the edge, %d refused; firewall: %d cut and logged\n",
           static_cast<int>(sizeof ops / sizeof ops[0]), runs, refused, cut);
}
