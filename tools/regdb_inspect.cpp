// regdb_inspect: prints what an installation journaled in reg_ini_DB.
//   regdb_inspect PATH\reg_ini_DB
// Each block and record with its raw file offset, fields, status and the key
// it created; a framing error names its byte offset. Exit code 0 when the
// whole file decodes, 1 on a framing error, 2 when it cannot be read.
#include <cstdio>
#include <cwchar>
#include <string>

#include "regdb/regdb.h"
#include "text.h"

namespace {

// A fixed field of the record, up to its first NUL.
std::string Utf8(const wchar_t* text, size_t units) { return ::Utf8(std::wstring(text, wcsnlen(text, units))); }

const char* Describe(int32_t status) {
    switch (status) {
        case kRecordLoaded: return "loaded, not executed";
        case kRecordWritten: return "written into an existing key";
        case kRecordKeyCreated: return "written, key created";
        case kRecordNotExecuted: return "not executed";
        case kRecordUndone: return "undone";
        case kRecordUndoFailed: return "undo failed";
        default: return "unknown status";
    }
}

void PrintRecord(int number, long offset, const iniFileRecord& r) {
    printf("  record %d at offset %ld: status %d (%s)\n", number, offset, static_cast<int>(r.status),
           Describe(r.status));
    for (const iniFileRecord::Field& f : r.fields)
        printf("    %-5s = %s\n", Utf8(f.name, kFieldNameChars).c_str(), Utf8(f.value, kFieldValueChars).c_str());
    if (r.status == kRecordKeyCreated)
        printf("    firstCreatedKey = %s\n", Utf8(r.firstCreatedKey, kFieldValueChars).c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: regdb_inspect PATH\\reg_ini_DB\n");
        return 2;
    }
    FILE* file = _wfopen(argv[1], L"rb");
    if (!file) {
        fprintf(stderr, "regdb_inspect: cannot open %s\n", Utf8(argv[1], wcslen(argv[1])).c_str());
        return 2;
    }
    JournalReader reader(file);
    int blocks = 0, records = 0, status = 0;
    for (;;) {
        long blockAt = reader.RawOffset();
        int32_t count = 0;
        size_t got = reader.Read(&count, sizeof count);
        if (got == 0) break;
        ++blocks;
        if (got < sizeof count) {
            printf("framing error at offset %ld: block %d ends inside its record count\n", reader.RawOffset(), blocks);
            status = 1;
            break;
        }
        if (count < 0 || count > kMaxRecords) {
            printf("framing error at offset %ld: block %d claims %d records (0 to %d fit)\n", blockAt, blocks,
                   static_cast<int>(count), kMaxRecords);
            status = 1;
            break;
        }
        printf("block %d at offset %ld: %d records\n", blocks, blockAt, static_cast<int>(count));
        for (int i = 0; i < count && status == 0; ++i) {
            long recordAt = reader.RawOffset();
            iniFileRecord record = {};
            size_t bytes = reader.Read(&record, sizeof record);
            if (bytes < sizeof record) {
                printf("framing error at offset %ld: block %d record %d starts at offset %ld and has %u of %u bytes\n",
                       reader.RawOffset(), blocks, i + 1, recordAt, static_cast<unsigned>(bytes),
                       static_cast<unsigned>(sizeof record));
                status = 1;
                break;
            }
            PrintRecord(i + 1, recordAt, record);
            ++records;
        }
        if (status) break;
    }
    printf("%s at offset %ld: %d blocks, %d records\n", status ? "stopped" : "end of journal", reader.RawOffset(),
           blocks, records);
    fclose(file);
    return status;
}
