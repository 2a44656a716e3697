// Bad input for every parser of the library: valid inputs, seeded random
// mutations of them or random bytes, and hand-made cases. Each must end
// without a crash or a hang, and leave a log line saying what was refused or
// cut; a journal must stay framed. Each case prints how many inputs of each
// kind it tried.
#include <doctest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <type_traits>
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

namespace {

constexpr size_t npos = std::string::npos;

size_t Pick(std::mt19937& rng, size_t n) { return n ? rng() % n : 0; }

template <typename S>
int Occurrences(const S& text, const std::common_type_t<S>& needle) {
    int n = 0;
    for (size_t at = text.find(needle); at != npos; at = text.find(needle, at + needle.size())) ++n;
    return n;
}

// The install log written since construction.
struct LogTail {
    size_t start = LogCapture::Raw().size();
    std::string Text() const { return LogCapture::Raw().substr(start); }
};

// Any byte; for a packed text, mostly its marks and never NUL: the text
// reaches the parser through a property, which cannot hold one.
char RandomChar(std::mt19937& rng, char) { return static_cast<char>(Pick(rng, 256)); }
wchar_t RandomChar(std::mt19937& rng, wchar_t) {
    return Pick(rng, 4) ? L"[]|=a\\ "[Pick(rng, 7)] : static_cast<wchar_t>(1 + Pick(rng, 0xFFFE));
}

std::string RandomBytes(std::mt19937& rng, size_t size) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = RandomChar(rng, c);
    return bytes;
}

// Seeded edits of one of the samples: tokens its parser reacts to, cuts,
// repeats, long runs of one character and splices with another sample. With
// `keepEnd`, no edit reaches into the last entry of a packed text, and none cuts it.
template <typename S>
S Mutate(std::mt19937& rng, const std::vector<S>& samples, const std::vector<S>& tokens, bool keepEnd = false) {
    S text = samples[Pick(rng, samples.size())];
    const typename S::value_type c{};
    for (size_t edits = 1 + Pick(rng, 3); edits > 0; --edits) {
        const size_t at = Pick(rng, std::min(keepEnd ? text.rfind(S(2, '[')) : npos, text.size()) + 1);
        const S& other = samples[Pick(rng, samples.size())];
        switch (Pick(rng, 7)) {
            case 0: text.insert(at, tokens[Pick(rng, tokens.size())]); break;
            case 1: text.erase(at, 1 + Pick(rng, 16)); break;
            case 2: text.insert(at, text.substr(Pick(rng, text.size() + 1), 1 + Pick(rng, 64))); break;
            case 3: text.insert(at, 1 + Pick(rng, 1200), RandomChar(rng, c)); break;
            case 4:
                if (!keepEnd) text = text.substr(0, at) + other.substr(Pick(rng, other.size() + 1));
                break;
            default: text.insert(at, 1, RandomChar(rng, c)); break;
        }
    }
    return text;
}

// A valid packed text of entries named n<i> with random values.
std::wstring PackedText(std::mt19937& rng, int count, size_t maxValue) {
    std::wstring text;
    for (int i = 0; i < count; ++i) {
        std::wstring value;
        for (size_t n = Pick(rng, maxValue + 1); value.size() < n;) value += RandomChar(rng, L'a');
        for (size_t bad; (bad = value.find(L"]]|")) != npos;) value[bad + 2] = L'_';
        text += L"[[n" + std::to_wstring(i) + L"=" + value + L"]]|";
    }
    return text;
}

}  // namespace

TEST_CASE("container texts valid and mutated and hand-made") {
    std::mt19937 rng(61001);
    std::vector<std::wstring> samples, over512;
    for (int i = 0; i < 60; ++i) samples.push_back(PackedText(rng, 1 + static_cast<int>(Pick(rng, 7)), 30));
    for (int i = 0; i < 3; ++i) over512.push_back(PackedText(rng, 520, 10));
    // A mebibyte and more: many entries, and one long value.
    const std::vector<std::wstring> big = {PackedText(rng, 3500, 600), L"[[big=" + std::wstring(1 << 20, L'v') + L"]]|"};
    const std::vector<std::wstring> tokens = {L"[[", L"]]|", L"=", L"]]", L"[", L"|", L"]"};
    // A non-empty text sets an entry unless it is broken, and a broken one
    // empties the container: every empty result needs its log line.
    int emptied = 0, mutations = 0, refused = 0;
    auto parse = [&](const std::wstring& text) {
        TheCADContainer().Clear();
        TheCADContainer().Unpack(XString(text.c_str()));
        const std::wstring packed = TheCADContainer().Pack().wvalue();
        emptied += !text.empty() && packed.empty();
        return packed;
    };
    std::wstring noEquals;
    for (int i = 0; i < 180000; ++i) noEquals += L"[[x]]|";
    // Hand-made texts, each with what it packs back to; "" for a non-empty text: broken.
    const std::pair<std::wstring, std::wstring> handMade[] = {
        {L"", L""}, {L"[[", L""}, {L"[[a", L""}, {L"[[a=1]]", L""}, {L"[[a=1]]|", L"[[a=1]]|"}, {L"]]|", L""},
        {L"[[=]]|", L"[[=]]|"}, {L"[[[[a=1]]|", L"[[[[a=1]]|"}, {L"[[a=1]]|]]|", L""}, {L"[[a=1]]|[[b=2]]|x", L""},
        {std::wstring(1 << 20, L'['), L""},            // no name, no value end
        {noEquals, L"[[=x]]|"},                        // no "=" anywhere
        {L"[[a=" + std::wstring(1 << 20, L']'), L""},  // a value that never ends
    };
    LogTail tail;
    for (const auto& c : handMade) CHECK(parse(c.first) == c.second);
    for (const auto& set : {samples, over512, big})
        for (const std::wstring& s : set) {  // entries past the 512th are refused, each with a log line
            const size_t cut = s.find(L"[[n512=");
            CHECK(parse(s) == s.substr(0, cut));
            refused += cut == npos ? 0 : Occurrences(s.substr(cut), L"]]|");
        }
    CHECK(Occurrences(tail.Text(), "<CADContainer> Container is full (512 entries): ") == refused);
    for (; mutations < 100000; ++mutations) {
        const auto& from = mutations % 10000 == 0 ? big : mutations % 5000 == 2500 ? over512 : samples;
        // Most edits keep before the last entry: a few thousand broken texts suffice.
        parse(Mutate(rng, from, tokens, Pick(rng, 32) != 0));
    }
    CHECK(Occurrences(tail.Text(), "<DeMarshal_CAD> Critical Error: Failed to de-marshal data from CustomActionData") ==
          emptied);
    printf("container: %d mutations (%d of texts of 1 MiB and more), 65 valid, 13 hand-made; %d broken, %d names "
           "refused\n", mutations, mutations / 10000, emptied, refused);
}

namespace {

// A Binary row held by the session only: a package file cannot store a
// stream under a name of more than about 60 characters, the session can.
void AddSessionBinary(MSIHANDLE database, const std::wstring& name, const std::string& bytes) {
    WriteFileBytes(TempDir() + L"session_stream.bin", bytes);
    MSIHANDLE record = MsiCreateRecord(2);
    MsiRecordSetStringW(record, 1, name.c_str());
    REQUIRE(MsiRecordSetStreamW(record, 2, (TempDir() + L"session_stream.bin").c_str()) == ERROR_SUCCESS);
    for (const wchar_t* query :
         {L"DELETE FROM `Binary` WHERE `Name` = ?", L"INSERT INTO `Binary` (`Name`, `Data`) VALUES (?, ?) TEMPORARY"}) {
        MSIHANDLE view = 0;
        REQUIRE(MsiDatabaseOpenViewW(database, query, &view) == ERROR_SUCCESS);
        REQUIRE(MsiViewExecute(view, record) == ERROR_SUCCESS);
        MsiCloseHandle(view);
    }
    MsiCloseHandle(record);
}

}  // namespace

TEST_CASE("settings streams valid and random and hand-made") {
    std::mt19937 rng(51001);
    TestPackage pkg;
    pkg.Binary(L"HVINSTADDINT_product_ini", "");
    BindSession(pkg.Session());
    MSIHANDLE database = MsiGetActiveDatabase(pkg.Session());
    // Every stream: each value published is logged, and a stream cut at 64 KiB says so.
    auto publish = [&](const std::string& bytes) {
        AddSessionBinary(database, L"HVINSTADDINT_product_ini", bytes);
        TheCADContainer().Clear();
        LogTail tail;
        const int count = SetProductINIProperties();
        const std::string log = tail.Text();
        CHECK(Occurrences(log, "<SetProperty> SetProperty >> key=") == count);
        CHECK(Occurrences(log, "<LoadProductDotINI> The product.ini stream is longer than 65536 bytes; only "
                               "the first 65536 are used") == (bytes.size() > 65536 ? 1 : 0));
        CHECK(Occurrences(log, "<LoadProductDotINI> Done.") == 1);
        return std::make_pair(count, log);
    };
    CHECK(publish("[version]\nShowLic=0\nCustom=a=b\nEmpty=\n; comment\nno equals sign\n[other]\nIgnored=1\n").first == 3);
    CHECK(publish("[other]\nA=1\n[Version]\r\nIsSimplified=1\r\n[version]\nLate=1\n").first > 0);
    publish(RandomBytes(rng, 100000));
    const auto noName = publish("[version]\n=x\nA=1\n");
    CHECK(noName.first == 2);
    CHECK(Occurrences(noName.second, "<Setting Product.ini> SetProperty failed") == 1);
    auto key = [](int i) {  // three characters: 10000 keys fit in 64 KiB
        const char* digits = "abcdefghijklmnopqrstuvwxyz0123456789";
        return std::string{static_cast<char>('a' + i / 1296), digits[i / 36 % 36], digits[i % 36]};
    };
    std::string tenThousand = "[version]\n";
    for (int i = 0; i < 10000; ++i) tenThousand += key(i) + "=1\n";
    const auto full = publish(tenThousand);
    CHECK(full.first == 10000);
    CHECK(Occurrences(full.second, "<CADContainer> Container is full (512 entries): ") == 10000 - 512);
    CHECK(pkg.Get(Widen(key(9999))) == L"1");
    CHECK(TheCADContainer().Find(Widen(key(511)).c_str(), nullptr) == 511);
    CHECK(TheCADContainer().Find(Widen(key(512)).c_str(), nullptr) == -1);
    MsiCloseHandle(database);
    UnbindSession();
    printf("settings: 2 valid, 1 random, 2 hand-made\n");
}

namespace {

// INSTALLDIR, and the removal's old installation path: reg.ini and reg_ini_DB are there.
struct ScriptSession : BoundSession {
    ScriptSession() : BoundSession({{L"tamber_old_installed_path", TempDir().c_str()}}, TempDir().c_str()) {}
};

std::string Int32Bytes(int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

// The journal's blocks, its text framing (CR LF for LF) undone; false when
// it is not framed exactly.
bool JournalBlocks(const std::string& raw, std::vector<std::vector<iniFileRecord>>* blocks) {
    std::string bytes;
    for (size_t i = 0; i < raw.size(); ++i) bytes += raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n' ? raw[++i] : raw[i];
    for (size_t at = 0; at < bytes.size();) {
        int32_t count = 0;
        if (bytes.size() - at < 4) return false;
        memcpy(&count, bytes.data() + at, 4);
        at += 4;
        if (count < 0 || count > kMaxRecords || bytes.size() - at < count * sizeof(iniFileRecord)) return false;
        blocks->emplace_back(static_cast<size_t>(count));
        memcpy(blocks->back().data(), bytes.data() + at, count * sizeof(iniFileRecord));
        at += count * sizeof(iniFileRecord);
    }
    return true;
}

}  // namespace

TEST_CASE("reg.ini scripts valid and mutated and hand-made") {
    std::mt19937 rng(81001);
    auto rec = [](const std::string& key, const std::string& value, const std::string& type = "REGDB_NUMBER") {
        return "key=SOFTWARE\\Tamber\\Fuzz\\" + key + "\nname=N\ntype=" + type + "\nvalue=" + value + "\nsize=4\n";
    };
    const std::vector<std::string> samples = {
        "[A]\n" + rec("A", "1") + "[S]\n; two records\n" + rec("S", "{TARGETDIR}\\bin", "REGDB_STRING") +
            rec("S\\Deep", "{SystemRoot}\\x", "REGDB_STRING_EXPAND") + "[B]\n" + rec("B", "2"),
        "[S]\r\ney=SOFTWARE\\Tamber\\Fuzz\\Alias\r\name=N\nype=REGDB_STRING\nalue=x\nize=0\n[S]\n" + rec("Second", "3")};
    const std::vector<std::string> tokens = {"\n", "\r\n", "[", "]", "=", "[S]\n", "key=", "name=", "type=", "value=",
                                             "REGDB_NUMBER", "{TARGETDIR}", std::string(1, '\0'), ";", "{", "}"};
    ScriptSession session;
    // Every script: the journal gains at most one well-framed block, each
    // text ending inside its field, and a reason logged per record not run.
    auto apply = [&](const std::string& script) {
        CAPTURE(script.substr(0, 300));
        DeleteFileW((TempDir() + L"reg_ini_DB").c_str());
        WriteFileBytes(TempDir() + L"reg.ini", script);
        LogTail tail;
        CHECK(regInsertSection(L"S") == 0);
        const std::string log = tail.Text();
        std::vector<std::vector<iniFileRecord>> blocks;
        CHECK(JournalBlocks(ReadFileBytes(TempDir() + L"reg_ini_DB"), &blocks));
        REQUIRE(blocks.size() <= 1);
        if (blocks.empty()) CHECK(Occurrences(log, "iniFileObj: The section 'S' doesn't exists in the file") == 1);
        blocks.resize(1);
        int notRun = 0;
        for (const iniFileRecord& r : blocks[0]) {
            CHECK((r.status == kRecordWritten || r.status == kRecordKeyCreated || r.status == kRecordNotExecuted));
            notRun += r.status == kRecordNotExecuted;
            for (const auto& f : r.fields) CHECK((f.name[kFieldNameChars - 1] == 0 && f.value[kFieldValueChars - 1] == 0));
        }
        CHECK(notRun <= Occurrences(log, "ExecuteINISection: Unknown field type (") +
                            Occurrences(log, " characters, at most 99 fit; its record is not written") +
                            Occurrences(log, "ExecuteINISection: Unknown registry field type (") +
                            Occurrences(log, ": Can't set registry key "));
        return std::make_tuple(blocks[0].size(), notRun, log);
    };
    for (const std::string& s : samples) CHECK(std::get<0>(apply(s)) >= 1);
    for (int i = 0; i < 300; ++i) apply(Mutate(rng, samples, tokens));
    // Scripts of one record: whether it is not run, how many lines were cut, and the line that says so.
    const std::tuple<std::string, int, int, std::string> cases[] = {
        {"[S]\nabcdefghijklmnopqrstuvwxyz=x\nkey=SOFTWARE\\Tamber\\Fuzz\\F\nname=N\ntype=REGDB_NUMBER\nvalue=1\n", 1, 0,
         "ExecuteINISection: Unknown field type (abcdefghijklmnopqrs)"},
        {"[S]\r\n;" + std::string(998, 'c') + "\r\n" + rec("H", "1"), 0, 0, "regInsertSection: WINI_FILE_NAME = "},
        {"[S]\n;" + std::string(999, 'c') + "\n" + rec("H", "1"), 0, 1,
         "iniFileObj: line 2 has more than 999 characters; the rest of it is ignored"},
        {"[S]\n" + rec(std::string("Nul\0Cut", 7), "1"), 0, 0, "iniFileObj: line 2 holds a NUL byte; the rest of it is ignored"},
    };
    for (const auto& c : cases) {
        const auto applied = apply(std::get<0>(c));
        CHECK(std::get<0>(applied) == 1);
        CHECK(std::get<1>(applied) == std::get<1>(c));
        CHECK(Occurrences(std::get<2>(applied), " characters; the rest of it is ignored") == std::get<2>(c));
        CHECK(Occurrences(std::get<2>(applied), "<Registry Controller> " + std::get<3>(c)) >= 1);
    }
    CHECK(HklmValue(L"SOFTWARE\\Tamber\\Fuzz\\Nul", L"N") == REG_DWORD);
    CHECK(HklmKeyExists(L"SOFTWARE\\Microsoft"));
    printf("reg.ini: 2 valid, 300 mutations, 4 hand-made\n");
}

TEST_CASE("reg_ini_DB journals valid and mutated and hand-made at removal") {
    std::mt19937 rng(91001);
    const int32_t w = kRecordWritten, c = kRecordKeyCreated;
    // A record of a key under a root of its own: a damaged record can only
    // name keys there. A created key's record holds an LF.
    auto record = [w](int i, int32_t status, const wchar_t* value = nullptr) {
        const std::wstring key = (status == w ? L"TamberFuzz\\K" : L"TamberFuzz\\C") + std::to_wstring(i);
        const wchar_t* texts[] = {L"key", key.c_str(), L"name", L"N", L"type", L"REGDB_NUMBER", L"value",
                                  value ? value : status == w ? L"10" : L"v\n", L"size", L"4"};
        iniFileRecord r{};
        for (int t = 0; t < 10; ++t) wcscpy(t % 2 ? r.fields[t / 2].value : r.fields[t / 2].name, texts[t]);
        wcscpy(r.firstCreatedKey, status == w ? L"" : key.c_str());
        r.status = status;
        return std::string(reinterpret_cast<const char*>(&r), sizeof r);
    };
    auto block = [](const std::vector<std::string>& records) {  // written in text mode: LF as CR LF
        std::string raw, b = Int32Bytes(static_cast<int32_t>(records.size()));
        for (const std::string& r : records) b += r;
        for (char ch : b) raw += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
        return raw;
    };
    const std::vector<std::string> samples = {
        block({record(1, w), record(2, c)}) + block({}) + block({record(3, c), record(4, w), record(5, w)}),
        block({record(6, w)}), block({record(7, c)}) + block({record(8, c)})};
    const std::vector<std::string> tokens = {"\r\n", "\r", "\n", std::string(4, '\0'), Int32Bytes(401), Int32Bytes(-1),
                                             Int32Bytes(w), Int32Bytes(c), record(9, w), std::string(700, '\0')};
    ScriptSession session;
    const std::string op = "<Registry Controller> RestoreAllSections: ";
    // Every journal: one log line when it is not framed exactly, none when
    // it is; and it is left empty.
    auto replay = [&](const std::string& raw) {
        WriteFileBytes(TempDir() + L"reg_ini_DB", raw);
        LogTail tail;
        RestoreAllSections();
        const std::string log = tail.Text();
        std::vector<std::vector<iniFileRecord>> blocks;
        CHECK(Occurrences(log, op + "ignored ") + Occurrences(log, op + "block at offset ") +
                  Occurrences(log, op + "Can't read the section changes") == (JournalBlocks(raw, &blocks) ? 0 : 1));
        CHECK(FileExists(TempDir() + L"reg_ini_DB"));
        CHECK(ReadFileBytes(TempDir() + L"reg_ini_DB").empty());
        return log;
    };
    for (const std::string& s : samples) CHECK(Occurrences(replay(s), op) == 0);
    for (int i = 0; i < 500; ++i) replay(Mutate(rng, samples, tokens));
    for (int i = 0; i < 100; ++i) replay(RandomBytes(rng, Pick(rng, 5000)));
    const std::string one = block({record(10, w)}), cut = "Can't read the section changes from the ini DB file reg_ini_DB";
    const std::pair<std::string, std::string> cases[] = {
        {block({record(11, w), record(12, w)}).replace(0, 4, Int32Bytes(3)), cut},
        {Int32Bytes(-5) + record(13, w), "block at offset 0 claims -5 records (at most 400); the rest of reg_ini_DB is not read"},
        {Int32Bytes(400) + record(15, w), cut},
        {one + "\r\n", "ignored 1 stray bytes at offset 1408 at the end of reg_ini_DB"},
        {one + "\r\n\r\n" + one, "block at offset 1408 claims 68106 records (at most 400)"},
        {std::string(one).insert(600, "\r\n"), "ExecuteINISection: Unknown record status ("},
        {Int32Bytes(1) + record(16, w, L"\x0A0D"), cut},  // CR LF in a record written without text framing
    };
    for (const auto& hand : cases) CHECK(Occurrences(replay(hand.first), op + hand.second) == 1);
    CHECK(HklmKeyExists(L"SOFTWARE\\Microsoft"));
    CHECK(HklmKeyExists(L"SYSTEM\\CurrentControlSet"));
    printf("reg_ini_DB: 3 valid, 500 mutations, 100 random, 7 hand-made\n");
}

TEST_CASE("Binary row names around the additional-file prefixes") {
    // Names with the file each installs; "" for a name that installs none.
    std::vector<std::pair<std::string, std::string>> rows = {
        {"HVINSTADDINT_x", "x"}, {"HVINSTADDEXT_y", "y"}, {"HVINSTADDINT_a_b_c", "a_b.c"}, {"HVINSTADDINT_", ""},
        {"HVINSTADDEXT_", ""}, {"hvinstaddint_low", ""}, {"HVINSTADDINT", ""}, {"XHVINSTADDINT_x", ""}};
    for (const std::string prefix : {"HVINSTADDINT_", "HVINSTADDEXT_"})
        for (size_t length : {199, 200, 201}) {  // 200 and more do not fit the buffer
            std::string name = prefix;
            for (size_t i = 0; name.size() < length; ++i) name += static_cast<char>('a' + i % 26);
            rows.emplace_back(name, length < 200 ? name.substr(13) : "");
        }
    TestPackage pkg;
    pkg.Binary(L"TamberDll", "not a file");
    BindSession(pkg.Session());
    MSIHANDLE database = MsiGetActiveDatabase(pkg.Session());
    for (const auto& r : rows) AddSessionBinary(database, Widen(r.first), "data of " + r.first);
    MsiCloseHandle(database);
    LogCapture log;
    CHECK(StoreAdditionalFileFromBinaryTable() == ERROR_MORE_DATA);
    UnbindSession();
    const std::string label = "<InstallAdditionalFileFromBinaryTable> ";
    for (const auto& r : rows) {
        CAPTURE(r.first);
        const int mapped = log.Find(label + "BinaryFileName=" + r.first + " => InstalledFileName=" + r.second);
        CHECK((r.second.empty() ? mapped == -1 : mapped >= 0));
    }
    // A name too long is refused with the read's error, and the rows after it are still handled.
    CHECK(Occurrences(LogCapture::Raw(), label + "Failed to MsiRecordGetString, error: 234") == 4);
    CHECK(log.Find(label + "Done.") >= 0);
    printf("Binary names: %d rows, 5 extracted, 4 refused reads\n", static_cast<int>(rows.size()));
}

TEST_CASE("Property table values longer than the first read") {
    TestPackage pkg;
    std::vector<std::pair<std::wstring, std::wstring>> rows = {{L"N" + std::wstring(250, L'n'), L"value of a long name"}};
    for (size_t length : {1, 198, 199, 200, 201, 511, 4096, 100000}) {
        std::wstring value;
        for (size_t i = 0; value.size() < length; ++i) value += static_cast<wchar_t>(L'a' + i % 26);
        value.back() = L'Z';  // the last character must survive
        rows.emplace_back(L"Long" + std::to_wstring(length), value);
    }
    for (const auto& r : rows) pkg.Property(r.first, r.second);
    BindSession(pkg.Session());
    TheCADContainer().Clear();
    CHECK(Property_table_to_CAD() == ERROR_SUCCESS);
    UnbindSession();
    for (const auto& r : rows) {
        XString stored(L"<none>");
        CHECK(TheCADContainer().Find(r.first.c_str(), &stored) >= 0);
        CHECK(std::wstring(stored.wvalue()) == r.second);  // read whole, not cut at 199
    }
    printf("Property table: %d rows\n", static_cast<int>(rows.size()));
}

TEST_CASE("command lines of a long installation directory are refused or cut with a log line") {
    BoundSession session;
    // Directories that do not exist: no program of them can start, and no
    // short 8.3 path of them exists at any length.
    auto dirOf = [](size_t length) { return L"C:\\" + std::wstring(length - 4, L'q') + L"\\"; };
    auto ran = [](const std::string& log) {  // the commands the runner logged
        std::vector<std::wstring> commands;
        const std::string running = "<Tamber_RunProcess> running command: <";
        for (size_t at = log.find(running); at != npos; at = log.find(running, at + 1))
            commands.push_back(Widen(log.substr(at + running.size(), log.find(">\r\n", at) - at - running.size())));
        return commands;
    };
    const std::string refusedLine = "The command line would not fit in 255 characters; it is not run";
    const std::function<UINT(const XString&)> ops[] = {
        InstallBD, [](const XString& d) { return RunBDKern(d, L"-v -u HV_BD1"); },
        [](const XString& d) { return RunConn_config(d, L"add Tessel-1 VPN"); }, updateSignBD, UninstallBD,
        InstallVNA, UnInstallVNA, UnhookVNA, RemoveVNADevice, RemoveVNAFromDriversCache, RunXPDRV,
        updateSignBD_with_VN_SMS_service, RunInstallScripts, RunUninstallScripts};
    int runs = 0, refused = 0;
    for (const auto& op : ops) {
        LogTail reference;
        CHECK(op(dirOf(5).c_str()) == kRunNotStarted);
        const std::vector<std::wstring> commands = ran(reference.Text());
        REQUIRE(commands.size() == 1);
        const size_t uses = Occurrences(commands[0], dirOf(5));
        REQUIRE(uses > 0);
        // The longest directory whose line still fits, its neighbours, and directories far past every buffer.
        const size_t fits = 5 + (255 - commands[0].size()) / uses;
        for (size_t length : {fits - 1, fits, fits + 1, fits + 2, size_t(300), size_t(1000)}) {
            CAPTURE(Narrow(commands[0]) + " with a directory of " + std::to_string(length));
            std::wstring expected = commands[0];
            for (size_t at = 0; (at = expected.find(dirOf(5), at)) != npos; at += length) expected.replace(at, 5, dirOf(length));
            LogTail tail;
            CHECK(op(dirOf(length).c_str()) == kRunNotStarted);
            const bool fit = expected.size() <= 255;
            CHECK(ran(tail.Text()) == (fit ? std::vector<std::wstring>{expected} : std::vector<std::wstring>{}));
            CHECK(Occurrences(tail.Text(), fit ? refusedLine : "<Drivers Controller> " + refusedLine) == (fit ? 0 : 1));
            ++(fit ? runs : refused);
        }
    }
    // The split batch first makes its list's directory beside it, which a
    // directory that does not exist cannot hold: nothing runs, whatever fits.
    for (size_t length : {size_t(5), size_t(1000)}) {
        LogTail tail;
        CHECK(InstallBD_with_VN_SMS_service(dirOf(length).c_str()) == kRunNotStarted);
        CHECK(ran(tail.Text()).empty());
        CHECK(Occurrences(tail.Text(), length == 5 ? "<Drivers Controller> No temporary directory that only SYSTEM"
                                                   : "<Drivers Controller> " + refusedLine) == 1);
    }
    printf("command lines: %d tools and scripts, %d run whole at the edge, %d refused\n",
           static_cast<int>(sizeof ops / sizeof ops[0]), runs, refused);
}
