// Registry journal and registry operations: the registry script reg.ini,
// its undo journal reg_ini_DB, the logged registry writers and the readers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "util/handles.h"
#include "util/xstring.h"

// --- Reading and walking the registry ---

class TamberRegDB {
public:
    explicit TamberRegDB(HKEY root) : root_(root) {}
    LONG GetKeyValueEx(const wchar_t* subKey, const wchar_t* valueName, DWORD* type, XString* value, DWORD* size);
    LONG CreateKeyEx(const wchar_t* subKey);
    bool KeyExists(const wchar_t* subKey);

private:
    HKEY root_;
};

using RegNameCallback = void (*)(const wchar_t* name, void* context);
void QueryKeyAndHandleSubKeys(HKEY key, RegNameCallback callback, void* context);
void QueryKeyAndHandleValues(HKEY key, RegNameCallback callback, void* context);
// Deletes the key and all below it; a registry link there or below is
// deleted as a link (logged), never what it leads to.
LONG RegRecursiveDeleteKey(HKEY parent, const wchar_t* subKey);

// For keys a user can write, which may be links to keys the user cannot:
// opens `path` below `root` one key at a time, each itself, and refuses
// (ERROR_ACCESS_DENIED, logged) when one is a registry link.
LONG OpenKeyWithoutLinks(HKEY root, const wchar_t* path, REGSAM access, RegKey* key);
// If the key, opened with REG_OPTION_OPEN_LINK, is a registry link: deletes
// the link itself, logs it under `label` with `name`, sets `result` and
// returns true.
bool DeletedAsLink(HKEY key, const wchar_t* label, const wchar_t* name, LONG* result);
// Deletes the key the handle is open on (never through a link), Win32 code.
LONG DeleteOpenKey(HKEY key);

// --- Logged writers ---

// Write results: 0 nothing written, 1 written into an existing key,
// 2 written and the key created.
constexpr int kRegNotWritten = 0;
constexpr int kRegWrittenExisting = 1;
constexpr int kRegWrittenCreated = 2;
constexpr int kRegValueChars = 100;

int setRegistryDWORDValue(HKEY root, const wchar_t* key, const wchar_t* name, const wchar_t* value);
int setRegistryStringValue(HKEY root, const wchar_t* key, const wchar_t* name, const wchar_t* value);
int setRegistryExpStringValue(HKEY root, const wchar_t* key, const wchar_t* name, const wchar_t* value);
int delRegistryValue(HKEY root, const wchar_t* key, const wchar_t* name);
int isRegistryKeyExists(HKEY root, const wchar_t* key);
// The topmost key of `key` (below HKEY_LOCAL_MACHINE) that does not exist yet;
// empty when the key exists.
void getFirstCreatedKey(const wchar_t* key, wchar_t* out, int size);
// Replaces "{TARGETDIR}" by the installation directory: 1, or -1 when it
// does not fit.
int ExpandHVEnvironmentStrings(const wchar_t* source, wchar_t* out, int size);
// "{" and "}" become "%": 1, or 0 when the output is full (unterminated).
int fixEnvVarSign(const wchar_t* source, wchar_t* out, int size);

// The installation directory without its trailing backslash, as the last
// regInsertSection set it.
const wchar_t* RegTargetDir();
void SetRegTargetDir(const wchar_t* dir);

// --- The registry script and its journal ---

constexpr int kFieldCount = 5;
constexpr int kFieldNameChars = 20;
constexpr int kFieldValueChars = 100;
constexpr int kMaxRecords = 400;
constexpr int kMaxSections = 50;
constexpr int kSectionNameChars = 30;
constexpr int kLineChars = 1000;

enum RecordStatus : int32_t {
    kRecordLoaded = 0,
    kRecordWritten = 2,
    kRecordKeyCreated = 3,
    kRecordNotExecuted = 4,
    kRecordUndone = 5,
    kRecordUndoFailed = 6,
};

// One registry write as the journal stores it: 1404 bytes.
struct iniFileRecord {
    struct Field {
        wchar_t name[kFieldNameChars];
        wchar_t value[kFieldValueChars];
    } fields[kFieldCount];
    int32_t status;
    wchar_t firstCreatedKey[kFieldValueChars];
};
static_assert(sizeof(wchar_t) == 2, "the journal stores UTF-16");
static_assert(sizeof(iniFileRecord) == 1404, "journal record layout");

class iniFileSection {
public:
    iniFileSection();
    // Reads the field lines of the script between two stream positions.
    int loadSection(const char* scriptPath, long start, long end);

    std::unique_ptr<iniFileRecord[]> records;  // kMaxRecords, or null
    int32_t recordCount = 0;
};

// The registry script's lines: 8-bit text read in binary, each line
// converted to UTF-16 through the ANSI code page, with the byte positions
// that the section index keeps. Plain C files: the C++ streams would bring
// the whole locale machinery into the library.
class AnsiLineReader {
public:
    bool Open(const char* path);
    bool IsOpen() const { return static_cast<bool>(file_); }
    void Close() { file_.reset(); }
    long Size() const { return size_; }
    // The byte offset of the next byte to be read.
    long Tell() const { return bufferStart_ + static_cast<long>(next_); }
    void Seek(long offset);
    // One line up to `delimiter` (a CR before it dropped), cut to
    // length - 1 bytes; the rest of a longer line is skipped.
    void GetLine(wchar_t* buffer, int length, wchar_t delimiter);
    // Whether the last line ran into the end of the file instead of a delimiter.
    bool AtEnd() const { return atEnd_; }
    // Whether the last line lost text: beyond the buffer, or after a NUL.
    bool lineCut() const { return lineCut_; }
    bool lineHeldNul() const { return lineHeldNul_; }

private:
    int Peek();
    int Get();

    FileStream file_;
    long size_ = 0;
    char buffer_[4096];
    long bufferStart_ = 0;  // the file offset of buffer_[0]
    size_t next_ = 0, filled_ = 0;
    bool atEnd_ = false;
    bool lineCut_ = false;
    bool lineHeldNul_ = false;
};

// Text written in the ANSI code page, in text mode (LF goes out as CR LF).
class AnsiTextWriter {
public:
    explicit AnsiTextWriter(const char* path) : file_(fopen(path, "w")) {}
    AnsiTextWriter& operator<<(const wchar_t* text);

private:
    FileStream file_;
};

class iniFile {
public:
    explicit iniFile(const wchar_t* sectionName);
    ~iniFile();
    iniFile(const iniFile&) = delete;
    iniFile& operator=(const iniFile&) = delete;
    int ExecuteINISection();
    void storeCurrSection();

private:
    struct SectionEntry {
        wchar_t name[kSectionNameChars];
        int32_t startOffset;
        int32_t lineNumber;
    };
    bool Index(long* lastLineStart);

    SectionEntry sectionIndex[kMaxSections];
    int32_t sectionCount = 0;
    iniFileSection section;
    AnsiLineReader stream;
    int32_t state = 0;
};

int regInsertSection(const wchar_t* sectionName);
void RestoreAllSections();
int GetRegIniDB(char* buffer, int mode);
constexpr int kRegIniDbStore = 1;
constexpr int kRegIniDbRestore = 2;

// --- The journal's byte format, shared with the inspector tool ---

// Text-mode framing: each 0x0A byte is stored as 0x0D 0x0A.
std::string EncodeJournalBytes(const void* data, size_t size);

// Reads decoded journal bytes from a binary file, tracking the raw offset.
class JournalReader {
public:
    explicit JournalReader(FILE* file) : file_(file) {}
    // Decoded bytes actually read (fewer at the end of the file).
    size_t Read(void* out, size_t size);
    long RawOffset() const { return offset_; }

private:
    FILE* file_;
    long offset_ = 0;
};
