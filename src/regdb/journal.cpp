// Applying sections of the registry script, journaling them in reg_ini_DB and
// undoing them at removal.
#include <cstdio>
#include <cstring>
#include <string>

#include "log/install_log.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

const wchar_t kLabel[] = L"Registry Controller";
const wchar_t kJournalName[] = L"reg_ini_DB";
constexpr int kScriptPathChars = 200;
constexpr int kJournalPathBytes = 200;

wchar_t g_scriptPathW[kScriptPathChars] = L".\\reg.ini";
char g_scriptPathA[kScriptPathChars] = ".\\reg.ini";

struct RecordText {
    std::wstring key, name, type, value, size;
};

// Copies the five slots by name; false names the first unknown field.
bool ReadFields(const iniFileRecord& record, RecordText* text, std::wstring* unknown) {
    for (const iniFileRecord::Field& f : record.fields) {
        std::wstring name(f.name, wcsnlen(f.name, kFieldNameChars));
        std::wstring value(f.value, wcsnlen(f.value, kFieldValueChars));
        if (name == L"key") text->key = value;
        else if (name == L"name") text->name = value;
        else if (name == L"type") text->type = value;
        else if (name == L"value") text->value = value;
        else if (name == L"size") text->size = value;
        else {
            *unknown = name;
            return false;
        }
    }
    return true;
}

int WriteRecord(const RecordText& r) {
    if (r.type == L"REGDB_NUMBER")
        return setRegistryDWORDValue(HKEY_LOCAL_MACHINE, r.key.c_str(), r.name.c_str(), r.value.c_str());
    if (r.type == L"REGDB_STRING")
        return setRegistryStringValue(HKEY_LOCAL_MACHINE, r.key.c_str(), r.name.c_str(), r.value.c_str());
    if (r.type == L"REGDB_STRING_EXPAND")
        return setRegistryExpStringValue(HKEY_LOCAL_MACHINE, r.key.c_str(), r.name.c_str(), r.value.c_str());
    LogMessage(0, kLabel, L"%s: ExecuteINISection: Unknown registry field type (%s)\n", L"ExecuteINISection",
               r.type.c_str());
    return kRegNotWritten;
}

// Text-mode output: 0x0A goes to disk as 0x0D 0x0A.
bool WriteJournal(FILE* file, const void* data, size_t size) {
    std::string bytes = EncodeJournalBytes(data, size);
    return fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

void ReportStoreFailure(const wchar_t* which) {
    MessageBoxW(nullptr, which, L"Greetings from OnFirstBefore", MB_OK);
    LogMessage(0, kLabel, L"%s: Can't store the section changes at the ini DB file %s\n", L"storeCurrSection",
               kJournalName);
}

void UndoRecord(iniFileRecord& record) {
    const wchar_t kOp[] = L"RestoreAllSections";
    if (record.status == kRecordWritten) {
        RecordText text;
        std::wstring unknown;
        if (!ReadFields(record, &text, &unknown)) {
            LogMessage(0, kLabel, L"%s: ExecuteINISection: Unknown field type (%s)\n", kOp, unknown.c_str());
            record.status = kRecordUndoFailed;
            return;
        }
        record.status = delRegistryValue(HKEY_LOCAL_MACHINE, text.key.c_str(), text.name.c_str()) > 0
                            ? kRecordUndone
                            : kRecordUndoFailed;
    } else if (record.status == kRecordKeyCreated) {
        std::wstring created(record.firstCreatedKey, wcsnlen(record.firstCreatedKey, kFieldValueChars));
        if (!created.empty()) RegRecursiveDeleteKey(HKEY_LOCAL_MACHINE, created.c_str());
    } else {
        LogMessage(0, kLabel, L"%s: ExecuteINISection: Unknown record status (%d)\n", kOp,
                   static_cast<int>(record.status));
    }
}

}  // namespace

std::string EncodeJournalBytes(const void* data, size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(size + size / 16);
    for (size_t i = 0; i < size; ++i) {
        if (p[i] == 0x0A) out.push_back('\x0D');
        out.push_back(static_cast<char>(p[i]));
    }
    return out;
}

size_t JournalReader::Read(void* out, size_t size) {
    unsigned char* dst = static_cast<unsigned char*>(out);
    size_t done = 0;
    while (done < size) {
        int c = fgetc(file_);
        if (c == EOF) break;
        ++offset_;
        if (c == 0x0D) {
            int next = fgetc(file_);
            if (next == 0x0A) {
                ++offset_;
                c = 0x0A;
            } else if (next != EOF) {
                ungetc(next, file_);
            }
        }
        dst[done++] = static_cast<unsigned char>(c);
    }
    return done;
}

iniFile::iniFile(const wchar_t* sectionName) {
    memset(sectionIndex, 0, sizeof sectionIndex);
    const wchar_t kObj[] = L"iniFileObj";
    FileStream probe(_wfopen(g_scriptPathW, L"r"));
    bool exists = static_cast<bool>(probe);
    probe.reset();
    if (!exists || !stream.Open(g_scriptPathA)) {
        LogMessage(0, kLabel, L"%s: Can't open the ini file %s\n", kObj, g_scriptPathW);
        return;
    }
    long lastLineStart = 0;
    Index(&lastLineStart);
    if (!sectionName) {
        LogMessage(0, kLabel, L"%s: No section is loaded.", kObj);
        return;
    }
    for (int i = 0; i < sectionCount; ++i) {
        if (wcsncmp(sectionIndex[i].name, sectionName, kSectionNameChars) != 0) continue;
        long end = i + 1 < sectionCount ? sectionIndex[i + 1].startOffset : lastLineStart;
        section.loadSection(g_scriptPathA, sectionIndex[i].startOffset, end);
        state = 1;
        return;
    }
    LogMessage(0, kLabel, L"%s: The section '%s' doesn't exists in the file '%s'. No section is loaded.\n", kObj,
               sectionName, g_scriptPathW);
}

iniFile::~iniFile() {
    stream.Close();
}

// Records every "[name" line; `lastLineStart` is where the last line read
// began (the end of the file when it ends with a line feed).
bool iniFile::Index(long* lastLineStart) {
    const long size = stream.Size();
    stream.Seek(0);
    long pos = 0;
    int lineNumber = 0;
    bool terminated = true;
    long firstIgnored = -1;  // where the first section beyond the index begins
    wchar_t line[kLineChars];
    *lastLineStart = 0;
    while (pos < size) {
        *lastLineStart = pos;
        stream.GetLine(line, kLineChars, L'\n');
        ++lineNumber;
        if (stream.lineCut())
            LogMessage(0, kLabel, L"%s: line %d has more than %d characters; the rest of it is ignored", L"iniFileObj",
                       lineNumber, kLineChars - 1);
        if (stream.lineHeldNul())
            LogMessage(0, kLabel, L"%s: line %d holds a NUL byte; the rest of it is ignored", L"iniFileObj",
                       lineNumber);
        terminated = !stream.AtEnd();
        pos = terminated ? stream.Tell() : size;
        if (line[0] != L'[') continue;
        if (sectionCount == kMaxSections) {
            LogMessage(0, kLabel, L"%s: more than %d sections; the section at line %d is ignored", L"iniFileObj",
                       kMaxSections, lineNumber);
            if (firstIgnored < 0) firstIgnored = *lastLineStart;
            continue;
        }
        SectionEntry& entry = sectionIndex[sectionCount++];
        const wchar_t* close = wcschr(line + 1, L']');
        size_t nameChars = close ? static_cast<size_t>(close - (line + 1)) : wcslen(line + 1);
        if (nameChars > kSectionNameChars - 1) nameChars = kSectionNameChars - 1;
        wmemcpy(entry.name, line + 1, nameChars);
        entry.name[nameChars] = 0;
        entry.startOffset = static_cast<int32_t>(pos);
        entry.lineNumber = lineNumber;
    }
    if (terminated) *lastLineStart = size;
    // The last indexed section must not run on into the ignored ones.
    if (firstIgnored >= 0) *lastLineStart = firstIgnored;
    return true;
}

int iniFile::ExecuteINISection() {
    if (state != 1) {
        LogMessage(0, kLabel, L"%s: The section doesn't loaded ok. Can't execute.\n", L"ExecuteINISection");
        return -1;
    }
    for (int i = 0; i < section.recordCount; ++i) {
        iniFileRecord& record = section.records[i];
        if (record.status != kRecordLoaded) continue;
        RecordText text;
        std::wstring unknown;
        if (!ReadFields(record, &text, &unknown)) {
            LogMessage(0, kLabel, L"ExecuteINISection: Unknown field type (%s)\n", unknown.c_str());
            record.status = kRecordNotExecuted;
            continue;
        }
        wchar_t created[kFieldValueChars] = L"";
        getFirstCreatedKey(text.key.c_str(), created, kFieldValueChars);
        int result = WriteRecord(text);
        if (result <= kRegNotWritten) {
            record.status = kRecordNotExecuted;
        } else if (result == kRegWrittenExisting) {
            record.status = kRecordWritten;
        } else {
            record.status = kRecordKeyCreated;
            wmemset(record.firstCreatedKey, 0, kFieldValueChars);
            wcsncpy(record.firstCreatedKey, created, kFieldValueChars - 1);
        }
    }
    storeCurrSection();
    state = 2;
    return 1;
}

void iniFile::storeCurrSection() {
    char path[kJournalPathBytes] = "";
    if (!GetRegIniDB(path, kRegIniDbStore)) return;
    FileStream journal(fopen(path, "ab"));
    if (!journal) {
        LogMessage(0, kLabel, L"%s: storeCurrSection: Can't open the ini DB file %s\n", L"storeCurrSection",
                   kJournalName);
        return;
    }
    int32_t count = section.records ? section.recordCount : 0;
    if (!WriteJournal(journal.get(), &count, sizeof count)) ReportStoreFailure(L"Can't store 1");
    for (int i = 0; i < count; ++i)
        if (!WriteJournal(journal.get(), &section.records[i], sizeof(iniFileRecord)))
            ReportStoreFailure(L"Can't store 2");
}

int GetRegIniDB(char* buffer, int mode) {
    LogMessage(0, kLabel, L"GetRegIniDB mode = %d", mode);
    XString dir(L"");
    if (mode == kRegIniDbStore) {
        if (GetTargetPath(L"INSTALLDIR", &dir) != ERROR_SUCCESS || dir.length() == 0) {
            LogMessage(0, kLabel, L"GetRegIniDB (store) failed since install path could not be retrieved");
            return 0;
        }
    } else if (mode == kRegIniDbRestore) {
        if (GetProperty(L"tamber_old_installed_path", &dir) != ERROR_SUCCESS || dir.length() == 0) {
            LogMessage(0, kLabel, L"GetRegIniDB (restore) failed since install path could not be retrieved");
            return 0;
        }
    }
    if (!dir.endsWith(L"\\")) dir.concat(XString(L'\\'));
    dir.setEncoding(XString::Unicode);
    std::string narrow;
    if (!NarrowPath(kLabel, std::wstring(dir.wvalue()) + kJournalName, kJournalPathBytes, &narrow)) return 0;
    memcpy(buffer, narrow.c_str(), narrow.size() + 1);
    LogMessage(0, kLabel, L"GetRegIniDB returns with <%S>", buffer);
    return 1;
}

void RestoreAllSections() {
    const wchar_t kOp[] = L"RestoreAllSections";
    char path[kJournalPathBytes] = "";
    if (!GetRegIniDB(path, kRegIniDbRestore)) return;
    FileStream journal(fopen(path, "rb"));
    iniFileSection block;
    if (!journal) {
        LogMessage(0, kLabel, L"%s: storeCurrSection: Can't open the ini DB file %s\n", kOp, kJournalName);
        return;
    }
    JournalReader reader(journal.get());
    for (;;) {
        long blockAt = reader.RawOffset();
        int32_t count = 0;
        const size_t got = reader.Read(&count, sizeof count);
        if (got != sizeof count) {
            // A count cut short (stray bytes at the end) frames nothing.
            if (got > 0)
                LogMessage(0, kLabel, L"%s: ignored %d stray bytes at offset %ld at the end of %s", kOp,
                           static_cast<int>(got), blockAt, kJournalName);
            break;
        }
        if (!block.records) break;  // its allocation failure is logged already
        if (count < 0 || count > kMaxRecords) {
            LogMessage(0, kLabel, L"%s: block at offset %ld claims %d records (at most %d); the rest of %s is not read",
                       kOp, blockAt, static_cast<int>(count), kMaxRecords, kJournalName);
            break;
        }
        int complete = 0;
        while (complete < count &&
               reader.Read(&block.records[complete], sizeof(iniFileRecord)) == sizeof(iniFileRecord))
            ++complete;
        if (complete < count)
            LogMessage(0, kLabel, L"%s: Can't read the section changes from the ini DB file %s\n", kOp, kJournalName);
        for (int i = 0; i < complete; ++i) UndoRecord(block.records[i]);
        if (complete < count) break;  // a cut record: nothing after it is framed
    }
    journal.reset();
    FileStream truncate(fopen(path, "wb"));
}

int regInsertSection(const wchar_t* sectionName) {
    XString dir;
    if (GetTargetPath(L"INSTALLDIR", &dir) != ERROR_SUCCESS) dir = GetDefaultClientDir();
    dir.setEncoding(XString::Unicode);
    std::wstring target = dir.wvalue();
    // Both names must be this very script, not one cut short or best-fitted.
    const std::wstring scriptPath = target + L"reg.ini";
    std::string narrow;
    if (!NarrowPath(kLabel, scriptPath, kScriptPathChars, &narrow)) return 0;
    wcsncpy(g_scriptPathW, scriptPath.c_str(), kScriptPathChars);
    memcpy(g_scriptPathA, narrow.c_str(), narrow.size() + 1);
    if (!target.empty()) target.pop_back();
    SetRegTargetDir(target.c_str());
    LogMessage(0, kLabel, L"targetDir = <%s>\n", RegTargetDir());
    LogMessage(0, kLabel, L"regInsertSection: WINI_FILE_NAME = %s SectionName=%s", g_scriptPathW,
               sectionName ? sectionName : L"");
    iniFile script(sectionName);
    script.ExecuteINISection();
    return 0;
}
