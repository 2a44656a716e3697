// The registry script applied through real sessions into the Wine registry,
// journaled in reg_ini_DB and undone again.
#include <doctest.h>

#include <cstdio>
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
    explicit ScriptedInstall(const std::string& script) {
        CreateDirectoryW(L"C:\\Program Files", nullptr);
        CreateDirectoryW(kInstallDir.c_str(), nullptr);
        WriteFileBytes(kInstallDir + L"reg.ini", script);
        DeleteFileW(kJournal.c_str());
        pkg_.Directory(L"TARGETDIR", L"", L"SourceDir").Directory(L"INSTALLDIR", L"TARGETDIR", L"X");
        MSIHANDLE session = pkg_.Session(true);
        MsiSetTargetPathW(session, L"INSTALLDIR", kInstallDir.c_str());
        MsiSetPropertyW(session, L"tamber_old_installed_path", kInstallDir.c_str());
        BindSession(session);
    }
    ~ScriptedInstall() { UnbindSession(); }

private:
    TestPackage pkg_;
};

// The journal decoded: blocks of records.
std::vector<std::vector<iniFileRecord>> Blocks() {
    std::vector<std::vector<iniFileRecord>> blocks;
    FILE* f = _wfopen(kJournal.c_str(), L"rb");
    if (!f) return blocks;
    JournalReader reader(f);
    int32_t count = 0;
    while (reader.Read(&count, sizeof count) == sizeof count && count >= 0 && count <= kMaxRecords) {
        std::vector<iniFileRecord> records(static_cast<size_t>(count));
        for (iniFileRecord& r : records) reader.Read(&r, sizeof r);
        blocks.push_back(records);
    }
    fclose(f);
    return blocks;
}

std::wstring Field(const iniFileRecord& r, int slot, bool value) {
    const wchar_t* text = value ? r.fields[slot].value : r.fields[slot].name;
    return std::wstring(text, wcsnlen(text, value ? kFieldValueChars : kFieldNameChars));
}

// One record's 1404 bytes, built by hand from the layout.
std::string RecordBytes(const std::vector<std::pair<std::wstring, std::wstring>>& fields, int32_t status,
                        const std::wstring& created) {
    std::string bytes(1404, '\0');
    auto put = [&](size_t at, const std::wstring& text) {
        for (size_t i = 0; i < text.size(); ++i) {
            bytes[at + 2 * i] = static_cast<char>(text[i] & 0xFF);
            bytes[at + 2 * i + 1] = static_cast<char>(text[i] >> 8);
        }
    };
    for (size_t i = 0; i < fields.size(); ++i) {
        put(240 * i, fields[i].first);
        put(240 * i + 40, fields[i].second);
    }
    for (int b = 0; b < 4; ++b) bytes[1200 + b] = static_cast<char>((status >> (8 * b)) & 0xFF);
    put(1204, created);
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

const char kExample[] =
    "[Example]\n; two records\n"
    "key=SOFTWARE\\Halvora\\Varnet\\Example\nname=Delay\ntype=REGDB_NUMBER\nvalue=30\nsize=4\n"
    "key=SOFTWARE\\Halvora\\Varnet\\Example\nname=Path\ntype=REGDB_STRING\nvalue={TARGETDIR}\\bin\nsize=0\n";

}  // namespace

TEST_CASE("the example section is written and journaled and undone at removal") {
    HklmCreateKey(L"SOFTWARE\\Halvora\\Varnet");
    ScriptedInstall install(kExample);
    LogCapture log;

    CHECK(regInsertSection(L"Example") == 0);
    DWORD delay = 0;
    std::wstring path;
    CHECK(HklmValue(L"SOFTWARE\\Halvora\\Varnet\\Example", L"Delay", nullptr, &delay) == REG_DWORD);
    CHECK(delay == 30);
    CHECK(HklmValue(L"SOFTWARE\\Halvora\\Varnet\\Example", L"Path", &path) == REG_SZ);
    CHECK(path == L"C:\\Program Files\\X\\bin");

    const std::wstring key = L"SOFTWARE\\Halvora\\Varnet\\Example";
    std::string block = std::string("\x02\0\0\0", 4) +
                        RecordBytes({{L"key", key}, {L"name", L"Delay"}, {L"type", L"REGDB_NUMBER"}, {L"value", L"30"},
                                     {L"size", L"4"}},
                                    3, key) +
                        RecordBytes({{L"key", key}, {L"name", L"Path"}, {L"type", L"REGDB_STRING"},
                                     {L"value", L"{TARGETDIR}\\bin"}, {L"size", L"0"}},
                                    2, L"");
    std::string onDisk = ReadFileBytes(kJournal);
    CHECK(onDisk.size() == 4 + 2 * 1404);
    CHECK(onDisk == TextMode(block));
    CHECK(onDisk.substr(4, 8) == std::string("k\0e\0y\0\0\0", 8));

    RestoreAllSections();
    CHECK_FALSE(HklmKeyExists(key));
    CHECK(HklmKeyExists(L"SOFTWARE\\Halvora\\Varnet"));
    CHECK(log.Find("<Registry Controller> delRegistryValue: ends with FAIL.  mainKeyName='" + Narrow(key) +
                   "'  valueName='Path'  (Error code:2)") >= 0);
    CHECK(GetFileAttributesW(kJournal.c_str()) != INVALID_FILE_ATTRIBUTES);
    CHECK(ReadFileBytes(kJournal).empty());
}

TEST_CASE("a block of ten records is framed in text mode and reads back") {
    HklmCreateKey(L"SOFTWARE\\Tamber\\Ten");
    std::string script = "[Ten]\n";
    for (int i = 0; i < 10; ++i)
        script += "key=SOFTWARE\\Tamber\\Ten\nname=V" + std::to_string(i) + "\ntype=REGDB_NUMBER\nvalue=" +
                  std::to_string(i) + "\nsize=4\n";
    ScriptedInstall install(script);
    LogCapture log;

    regInsertSection(L"Ten");
    CHECK(ReadFileBytes(kJournal).substr(0, 5) == std::string("\r\n\0\0\0", 5));
    auto blocks = Blocks();
    REQUIRE(blocks.size() == 1);
    REQUIRE(blocks[0].size() == 10);
    CHECK(Field(blocks[0][9], 1, true) == L"V9");
    CHECK(blocks[0][9].status == kRecordWritten);

    RestoreAllSections();
    HKEY ten;
    DWORD valueCount = 99;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tamber\\Ten", 0, KEY_READ, &ten) == ERROR_SUCCESS);
    RegQueryInfoKeyW(ten, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(ten);
    CHECK(valueCount == 0);
    CHECK_FALSE(log.Contains("Unknown record status"));
}

TEST_CASE("the script reader") {
    const std::string record = "key=SOFTWARE\\Tamber\\R\nname=N\ntype=REGDB_NUMBER\nvalue=1\nsize=4\n";
    struct Case {
        const char* what;
        std::string script;
        int records;           // in the journal's one block; -1: no block
        int slot;              // a field to look at in the first record
        const wchar_t* name;
        const wchar_t* value;
    };
    const Case cases[] = {
        {"CR LF lines read as LF lines", "[S]\r\nkey=SOFTWARE\\Tamber\\R\r\nname=N\r\ntype=REGDB_NUMBER\r\nvalue=1 \r\nsize=4\r\n",
         1, 3, L"value", L"1"},
        {"ey is the key field", "[S]\ney=SOFTWARE\\Tamber\\R\nname=N\ntype=REGDB_NUMBER\nvalue=1\nsize=4\n", 1, 0, L"key",
         L"SOFTWARE\\Tamber\\R"},
        {"a blank before = leaves the name unrecognised",
         "[S]\nkey=SOFTWARE\\Tamber\\R\nname =N\ntype=REGDB_NUMBER\nvalue=1\nsize=4\n", 1, 1, L"key", L"N"},
        {"values are trimmed", "[S]\nkey=SOFTWARE\\Tamber\\R\nname= \t N\t \ntype=REGDB_NUMBER\nvalue=1\nsize=4\n", 1, 1,
         L"name", L"N"},
        {"seven field lines make one record", "[S]\n" + record + "key=x\nname=y\n", 1, 4, L"size", L"4"},
        {"the first of two sections with one name is used",
         "[S]\n" + record + "[S]\nkey=SOFTWARE\\Tamber\\Other\nname=N\ntype=REGDB_NUMBER\nvalue=1\nsize=4\n", 1, 0, L"key",
         L"SOFTWARE\\Tamber\\R"},
        {"a header without ] still names its section", "[S\n" + record, 1, 2, L"type", L"REGDB_NUMBER"},
        {"comments and tab lines are skipped", "[S]\n; note\n comment=x\n\tkey=x\n" + record, 1, 0, L"key",
         L"SOFTWARE\\Tamber\\R"},
        {"an empty last section journals an empty block", "[A]\n" + record + "[S]\n", 0, 0, nullptr, nullptr},
        {"an unknown section journals nothing", "[A]\n" + record, -1, 0, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        ScriptedInstall install(c.script);
        LogCapture log;
        regInsertSection(L"S");
        auto blocks = Blocks();
        if (c.records < 0) {
            CHECK(blocks.empty());
            CHECK(log.Contains("The section 'S' doesn't exists in the file"));
            continue;
        }
        REQUIRE(blocks.size() == 1);
        CHECK(static_cast<int>(blocks[0].size()) == c.records);
        if (c.records == 0) CHECK(log.Find("<Registry Controller> loadSection: Ilegal positions(") >= 0);
        if (!c.name) continue;
        REQUIRE(!blocks[0].empty());
        CHECK(Field(blocks[0][0], c.slot, false) == c.name);
        CHECK(Field(blocks[0][0], c.slot, true) == c.value);
    }
}

TEST_CASE("input beyond the fixed tables is refused with a log line") {
    SUBCASE("a value of 100 characters keeps its record from being written") {
        std::string script = "[S]\nkey=SOFTWARE\\Tamber\\Long\nname=N\ntype=REGDB_STRING\nvalue=" + std::string(100, 'v') +
                             "\nsize=0\n";
        ScriptedInstall install(script);
        LogCapture log;
        regInsertSection(L"S");
        CHECK_FALSE(HklmKeyExists(L"SOFTWARE\\Tamber\\Long"));
        auto blocks = Blocks();
        REQUIRE(blocks.size() == 1);
        REQUIRE(blocks[0].size() == 1);
        CHECK(blocks[0][0].status == kRecordNotExecuted);
        CHECK(log.Contains("the value of value has 100 characters, at most 99 fit"));
    }
    SUBCASE("a section of 401 records keeps the first 400") {
        std::string script = "[S]\n";
        for (int i = 0; i < 401; ++i)
            script += "key=SOFTWARE\\Tamber\\Many\nname=V" + std::to_string(i) + "\ntype=REGDB_NUMBER\nvalue=1\nsize=4\n";
        ScriptedInstall install(script);
        LogCapture log;
        regInsertSection(L"S");
        auto blocks = Blocks();
        REQUIRE(blocks.size() == 1);
        CHECK(blocks[0].size() == 400);
        CHECK(log.Contains("more than 400 records in the section"));
    }
    SUBCASE("sections beyond the 50th are ignored, also by the 50th") {
        std::string script;
        for (int i = 1; i <= 51; ++i)
            script += "[S" + std::to_string(i) + "]\nkey=SOFTWARE\\Tamber\\Sec" + std::to_string(i) +
                      "\nname=N\ntype=REGDB_NUMBER\nvalue=1\nsize=4\n";
        ScriptedInstall install(script);
        LogCapture log;
        regInsertSection(L"S50");
        regInsertSection(L"S51");
        CHECK(HklmKeyExists(L"SOFTWARE\\Tamber\\Sec50"));
        CHECK_FALSE(HklmKeyExists(L"SOFTWARE\\Tamber\\Sec51"));
        CHECK(log.Contains("more than 50 sections; the section at line 301 is ignored"));
        CHECK(log.Contains("The section 'S51' doesn't exists in the file"));
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

TEST_CASE("the journal inspector decodes a journal and points at damage") {
    HklmCreateKey(L"SOFTWARE\\Halvora\\Varnet");
    ScriptedInstall install(kExample);
    regInsertSection(L"Example");
    const std::string journal = ReadFileBytes(kJournal);

    auto inspect = [](const std::wstring& file, DWORD* exitCode) {
        std::wstring out = file + L".txt";
        SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
        HANDLE h = CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = si.hStdError = h;
        std::wstring command = L"\"" + ExeDir() + L"tools\\regdb_inspect.exe\" \"" + file + L"\"";
        PROCESS_INFORMATION pi = {};
        REQUIRE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
        WaitForSingleObject(pi.hProcess, 30000);
        GetExitCodeProcess(pi.hProcess, exitCode);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        CloseHandle(h);
        return ReadFileBytes(out);
    };

    DWORD code = 99;
    std::string whole = inspect(kJournal, &code);
    CHECK(code == 0);
    CHECK(whole.find("block 1 at offset 0: 2 records") != std::string::npos);
    CHECK(whole.find("record 1 at offset 4: status 3 (written, key created)") != std::string::npos);
    CHECK(whole.find("firstCreatedKey = SOFTWARE\\Halvora\\Varnet\\Example") != std::string::npos);
    CHECK(whole.find("value = {TARGETDIR}\\bin") != std::string::npos);

    const std::wstring cut = kInstallDir + L"cut_reg_ini_DB";
    WriteFileBytes(cut, journal.substr(0, 4 + 1404 + 700));
    std::string damaged = inspect(cut, &code);
    CHECK(code == 1);
    CHECK(damaged.find("framing error at offset 2108: block 1 record 2 starts at offset 1408 and has 700 of 1404 "
                       "bytes") != std::string::npos);
}
