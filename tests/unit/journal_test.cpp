// The registry script applied through real sessions and journaled in
// reg_ini_DB: the journal's bytes, the undo of a value in an existing key,
// the text-mode framing, malformed scripts, the fixed tables' limits and a
// damaged journal at removal.
#include <doctest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "events/frame.h"
#include "harness.h"
#include "regdb/regdb.h"

namespace {

const std::wstring kInstallDir = L"C:\\Program Files\\X\\";
const std::wstring kJournal = kInstallDir + L"reg_ini_DB";

// A session whose installation directory holds `script` as reg.ini, with
// an empty journal; the one the removal reads too.
class ScriptedInstall {
public:
    explicit ScriptedInstall(const std::string& script, const std::wstring& dir = kInstallDir) {
        CreateDirectoryW(dir.c_str(), nullptr);
        WriteFileBytes(dir + L"reg.ini", script);
        DeleteFileW(kJournal.c_str());
        pkg_.Directory(L"TARGETDIR", L"", L"SourceDir").Directory(L"INSTALLDIR", L"TARGETDIR", L"X");
        MSIHANDLE session = pkg_.Session(true);
        MsiSetTargetPathW(session, L"INSTALLDIR", dir.c_str());
        MsiSetPropertyW(session, L"tamber_old_installed_path", dir.c_str());
        BindSession(session);
    }
    ~ScriptedInstall() { UnbindSession(); }

private:
    TestPackage pkg_;
};

// The journal's one block, decoded.
std::vector<iniFileRecord> Block() {
    FILE* f = _wfopen(kJournal.c_str(), L"rb");
    REQUIRE(f);
    JournalReader reader(f);
    int32_t count = -1;
    reader.Read(&count, sizeof count);
    REQUIRE((count >= 0 && count <= kMaxRecords));
    std::vector<iniFileRecord> records(static_cast<size_t>(count));
    for (iniFileRecord& r : records) reader.Read(&r, sizeof r);
    CHECK(reader.Read(&count, 1) == 0);  // no second block
    fclose(f);
    return records;
}

std::wstring Field(const iniFileRecord& r, int slot, bool value) {
    const wchar_t* text = value ? r.fields[slot].value : r.fields[slot].name;
    return std::wstring(text, wcsnlen(text, value ? kFieldValueChars : kFieldNameChars));
}

// `count` number records under SOFTWARE\Tamber\<key>, named V0, V1, ...
std::string Records(const std::string& key, int count) {
    std::string script;
    for (int i = 0; i < count; ++i)
        script += "key=SOFTWARE\\Tamber\\" + key + "\nname=V" + std::to_string(i) + "\ntype=REGDB_NUMBER\nvalue=1\nsize=4\n";
    return script;
}

// One journal record as the other readers of reg_ini_DB lay it out: five
// slots of a 40-byte name and a 200-byte value every 240 bytes, the status
// at 1200, the created key at 1204; UTF-16LE, NUL-padded, 1404 bytes.
std::string RecordBytes(const std::vector<std::string>& values, char status, const std::string& created) {
    auto utf16 = [](const std::string& text) {
        std::string out;
        for (char c : text) out += {c, '\0'};
        return out;
    };
    const char* names[] = {"key", "name", "type", "value", "size"};
    std::string record(1404, '\0');
    for (size_t i = 0; i < 5; ++i) {
        record.replace(240 * i, 2 * strlen(names[i]), utf16(names[i]));
        record.replace(240 * i + 40, 2 * values[i].size(), utf16(values[i]));
    }
    record[1200] = status;
    record.replace(1204, 2 * created.size(), utf16(created));
    return record;
}

}  // namespace

// The layout other programs read: the bytes written out by hand, not decoded
// with the record type that wrote them.
TEST_CASE("the worked example journals these bytes and its removal leaves the journal empty") {
    const std::string example = "SOFTWARE\\Halvora\\Varnet\\Example";
    HklmCreateKey(L"SOFTWARE\\Halvora\\Varnet");
    ScriptedInstall install("[Example]\n; two records\nkey=" + example +
                            "\nname=Delay\ntype=REGDB_NUMBER\nvalue=30\nsize=4\nkey=" + example +
                            "\nname=Path\ntype=REGDB_STRING\nvalue={TARGETDIR}\\bin\nsize=0\n");
    regInsertSection(L"Example");
    std::wstring path;
    CHECK(HklmValue(Widen(example), L"Path", &path) == REG_SZ);
    CHECK(path == L"C:\\Program Files\\X\\bin");
    const std::string expected = std::string("\x02\0\0\0", 4) +
                                 RecordBytes({example, "Delay", "REGDB_NUMBER", "30", "4"}, 3, example) +
                                 RecordBytes({example, "Path", "REGDB_STRING", "{TARGETDIR}\\bin", "0"}, 2, "");
    const std::string written = ReadFileBytes(kJournal);
    CHECK(written.substr(0, 12) == std::string("\x02\0\0\0k\0e\0y\0\0\0", 12));
    const auto differs = std::mismatch(written.begin(), written.end(), expected.begin(), expected.end());
    CHECK_MESSAGE(written == expected, "first differing byte at offset " << (differs.first - written.begin()));

    LogCapture log;
    RestoreAllSections();
    CHECK_FALSE(HklmKeyExists(Widen(example)));
    CHECK(HklmKeyExists(L"SOFTWARE\\Halvora\\Varnet"));
    CHECK(log.Contains("delRegistryValue: ends with FAIL.  mainKeyName='" + example + "'  valueName='Path'"));
    CHECK(ReadFileBytes(kJournal).empty());
}

// A value written into a key the machine had before: its undo takes the
// value only, the key and what it held before stay.
TEST_CASE("removal deletes a value journaled into an existing key and keeps the key") {
    const std::wstring key = L"SOFTWARE\\Tamber\\Existing";
    HklmSetValue(key, L"Before", L"kept");
    ScriptedInstall install("[S]\nkey=SOFTWARE\\Tamber\\Existing\nname=Added\ntype=REGDB_STRING\nvalue=x\nsize=0\n");
    regInsertSection(L"S");
    REQUIRE(HklmValue(key, L"Added") == REG_SZ);
    RestoreAllSections();
    CHECK(HklmValue(key, L"Added") == REG_NONE);
    std::wstring before;
    CHECK(HklmValue(key, L"Before", &before) == REG_SZ);
    CHECK(before == L"kept");
}

// A count of 10 is a line feed: the journal's text mode frames it as CR LF.
TEST_CASE("a block of ten records is framed in text mode and reads back") {
    ScriptedInstall install("[Ten]\n" + Records("Ten", 10));
    regInsertSection(L"Ten");
    CHECK(ReadFileBytes(kJournal).substr(0, 5) == std::string("\r\n\0\0\0", 5));
    auto records = Block();
    REQUIRE(records.size() == 10);
    CHECK(Field(records[9], 1, true) == L"V9");
}

TEST_CASE("the script reader") {
    const std::string record = "key=SOFTWARE\\Tamber\\R\nname=N\ntype=REGDB_NUMBER\nvalue=1\nsize=4\n";
    // Section S of that one record, with the first `from` in its text replaced.
    auto with = [&](const std::string& from, const std::string& to) {
        std::string script = "[S]\n" + record;
        return script.replace(script.find(from), from.size(), to);
    };
    struct Case {
        const char* what;
        std::string script;
        int slot;  // a field of the block's one record; no name: the block is empty
        const wchar_t* name;
        const wchar_t* value;
    };
    const Case cases[] = {
        {"CR LF lines read as LF lines",
         "[S]\r\nkey=SOFTWARE\\Tamber\\R\r\nname=N\r\ntype=REGDB_NUMBER\r\nvalue=1 \r\nsize=4\r\n", 3, L"value", L"1"},
        {"ey is the key field", with("key=", "ey="), 0, L"key", L"SOFTWARE\\Tamber\\R"},
        {"a blank before = leaves the name unrecognised", with("name=", "name ="), 1, L"key", L"N"},
        {"values are trimmed", with("name=N", "name= \t N\t "), 1, L"name", L"N"},
        {"seven field lines make one record", "[S]\n" + record + "key=x\nname=y\n", 4, L"size", L"4"},
        {"the first of two sections with one name is used", "[S]\n" + record + with("\\R", "\\Other"), 0, L"key",
         L"SOFTWARE\\Tamber\\R"},
        {"a header without ] still names its section", with("]", ""), 2, L"type", L"REGDB_NUMBER"},
        {"an empty last section journals an empty block", "[A]\n" + record + "[S]\n", 0, nullptr, nullptr},
        {"a last line without a line feed is outside the section", "[S]\n" + record.substr(0, record.size() - 1), 0,
         nullptr, nullptr},
        {"a section after a line longer than the buffer starts after its header",
         "[A]\n;" + std::string(1500, 'c') + "\n" + with("\\R", "\\AfterLong"), 0, L"key",
         L"SOFTWARE\\Tamber\\AfterLong"},
        {"a section after CR LF lines starts after its header",
         "[A]\r\nkey=SOFTWARE\\Tamber\\A\r\nname=N\r\n[S]\r\nkey=SOFTWARE\\Tamber\\S\r\nname=N\r\ntype=REGDB_NUMBER\r\n"
         "value=1\r\nsize=4\r\n",
         0, L"key", L"SOFTWARE\\Tamber\\S"},
        // 0x80 is the euro sign in code page 1252, not U+0080 as a byte widened.
        {"lines are read in the ANSI code page", with("name=N", "name=N\x80"), 1, L"name", L"N\u20AC"},
    };
    REQUIRE_MESSAGE(GetACP() == 1252, "the cases assume the ANSI code page 1252");
    for (const Case& c : cases) {
        CAPTURE(c.what);
        ScriptedInstall install(c.script);
        regInsertSection(L"S");
        auto records = Block();
        REQUIRE(records.size() == (c.name ? 1u : 0u));
        if (!c.name) continue;
        CHECK(Field(records[0], c.slot, false) == c.name);
        CHECK(Field(records[0], c.slot, true) == c.value);
    }
}

TEST_CASE("input beyond the fixed tables is refused") {
    SUBCASE("a value of 100 characters keeps its record from being written") {
        ScriptedInstall install("[S]\nkey=SOFTWARE\\Tamber\\Long\nname=N\ntype=REGDB_STRING\nvalue=" +
                                std::string(100, 'v') + "\nsize=0\n");
        regInsertSection(L"S");
        CHECK_FALSE(HklmKeyExists(L"SOFTWARE\\Tamber\\Long"));
        auto records = Block();
        REQUIRE(records.size() == 1);
        CHECK(records[0].status == kRecordNotExecuted);
    }
    SUBCASE("a section of 401 records keeps the first 400") {
        ScriptedInstall install("[S]\n" + Records("Many", 401));
        regInsertSection(L"S");
        CHECK(Block().size() == 400);
    }
    SUBCASE("sections beyond the 50th are ignored, also by the 50th") {
        std::string script;
        for (int i = 1; i <= 51; ++i) script += "[S" + std::to_string(i) + "]\n" + Records("Sec" + std::to_string(i), 1);
        ScriptedInstall install(script);
        regInsertSection(L"S50");
        regInsertSection(L"S51");
        CHECK(HklmKeyExists(L"SOFTWARE\\Tamber\\Sec50"));
        CHECK_FALSE(HklmKeyExists(L"SOFTWARE\\Tamber\\Sec51"));
    }
    // The 8-bit file routines get exactly the installation directory's
    // names, or nothing: never one cut at the fixed buffers or best-fitted.
    SUBCASE("a script or journal path that would be cut is not used") {
        const std::wstring dir = L"C:\\" + std::wstring(193, L'd') + L"\\";  // "reg.ini" makes it 200
        ScriptedInstall install("[S]\n" + Records("Whole", 1), dir);
        WriteFileBytes(dir + L"reg.in", "[S]\n" + Records("Cut", 1));  // what 199 characters name
        WriteFileBytes(dir + L"reg_ini_D", "kept");
        LogCapture log;
        regInsertSection(L"S");
        RestoreAllSections();
        CHECK_FALSE(HklmKeyExists(L"SOFTWARE\\Tamber\\Cut"));
        CHECK_FALSE(HklmKeyExists(L"SOFTWARE\\Tamber\\Whole"));
        CHECK(ReadFileBytes(dir + L"reg_ini_D") == "kept");
        const std::string it = " is longer than 199 characters; it is not used";
        CHECK(log.Contains("<Registry Controller> " + Narrow(dir) + "reg.ini" + it));
        CHECK(log.Contains("<Registry Controller> " + Narrow(dir) + "reg_ini_DB" + it));
    }
    SUBCASE("a directory that the 8-bit code page names only by best fit is not used") {
        const std::wstring dir = L"C:\\Apps\\\u0141ad\\";  // best-fitted: C:\Apps\Lad
        CreateDirectoryW(L"C:\\Apps", nullptr);
        ScriptedInstall install("[S]\n" + Records("Exact", 1), dir);
        CreateDirectoryW(L"C:\\Apps\\Lad", nullptr);
        WriteFileBytes(L"C:\\Apps\\Lad\\reg.ini", "[S]\n" + Records("BestFit", 1));
        WriteFileBytes(L"C:\\Apps\\Lad\\reg_ini_DB", "kept");
        LogCapture log;
        regInsertSection(L"S");
        RestoreAllSections();
        CHECK_FALSE(HklmKeyExists(L"SOFTWARE\\Tamber\\BestFit"));
        CHECK_FALSE(HklmKeyExists(L"SOFTWARE\\Tamber\\Exact"));
        CHECK(ReadFileBytes(L"C:\\Apps\\Lad\\reg_ini_DB") == "kept");
        // The log file's own 8-bit text best-fits the name as well.
        CHECK(log.Find("<Registry Controller> C:\\Apps\\Lad\\reg.ini cannot be named exactly in the 8-bit code page") >= 0);
        CHECK(log.Find("<Registry Controller> C:\\Apps\\Lad\\reg_ini_DB cannot be named exactly in the 8-bit code page") >= 0);
    }
    SUBCASE("a journal block claiming 401 records stops the replay") {
        ScriptedInstall install("[S]\n");
        WriteFileBytes(kJournal, std::string("\x91\x01\0\0", 4) + std::string(1404, '\0'));
        LogCapture log;
        RestoreAllSections();
        CHECK(log.Contains("claims 401 records (at most 400)"));
        CHECK(ReadFileBytes(kJournal).empty());
    }
}
