#include <direct.h>

#include <string>
#include <vector>

#include "config/config.h"
#include "deferred/deferred.h"
#include "log/install_log.h"
#include "session/session.h"
#include "upgrade/upgrade.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

const wchar_t kBackupProperty[] = L"tamber_backup_path";
const wchar_t kOldPathProperty[] = L"tamber_old_installed_path";
const wchar_t kSavedPrefix[] = L"BackupOfAnOldFile_";
const wchar_t kEntrustIni[] = L"entrust.ini";
constexpr DWORD kTempPathChars = 1000;

const wchar_t* const kClientSubDirs[] = {L"log", L"sds", L"vg_ts", L"shared", L"HVSelfInstall"};

struct CustomFileRule {
    const wchar_t* name;
    bool prefixOnly;
    const wchar_t* subDir;
};
const CustomFileRule kCustomFileRules[] = {
    {L"userc.c", false, L"database\\"},
    {L"userc.set", false, L"state\\"},
    {L"local.", true, L"HVSelfInstall\\"},
};

bool ReadOldInstalledPath(const wchar_t* label, XString* path) {
    UINT result = GetProperty(kOldPathProperty, path);
    if (result != ERROR_SUCCESS) LogMessage(result, label, L"Failed to GetProperty: %s", kOldPathProperty);
    return result == ERROR_SUCCESS;
}

bool OverwriteEntrustIni() { return IsProductINIvalueTrue(L"OverwriteEntINI", 0) != 0; }

// --- Records of saved copies; written and read without log lines, so that a
// normal run logs what it always logged ---

const wchar_t kRecordEntryPrefix[] = L"tamber_saved_";  // + the file's name, in the container
const wchar_t kRecordKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Varnet_SavedCopies";
const wchar_t kRecordSeparator = L'|';  // "path|saver": neither a path nor a SID holds one

// An empty copy forgets the record.
void WriteRecord(SaveRecord where, const XString& name, const SavedCopy& copy) {
    const bool forget = copy.path.length() == 0;
    const XString text = forget ? XString(L"") : Widened(copy.path) + XString(kRecordSeparator) + Widened(copy.saver);
    if (where == SaveRecord::kInContainer) {
        const XString entry = XString(kRecordEntryPrefix) + Widened(name);
        XString old;
        if (!forget || TheCADContainer().Find(entry, &old) >= 0) TheCADContainer().Set(entry, text);
        return;
    }
    RegKey key;
    if (forget) {
        const REGSAM access = KEY_SET_VALUE | KEY_QUERY_VALUE;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, access, key.out()) != ERROR_SUCCESS) return;
        RegDeleteValueW(key.get(), Widened(name).wvalue());
        DWORD values = 0;
        if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr) == ERROR_SUCCESS &&
            values == 0) {
            key.reset();
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, kRecordKey);
        }
        return;
    }
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr,
                        key.out(), nullptr) != ERROR_SUCCESS)
        return;  // unrecorded, the copy is not restored
    RegSetValueExW(key.get(), Widened(name).wvalue(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.wvalue()),
                   static_cast<DWORD>((text.length() + 1) * sizeof(wchar_t)));
}

XString ReadRecordText(SaveRecord where, const XString& name) {
    if (where == SaveRecord::kInContainer) return GetCADValue(XString(kRecordEntryPrefix) + Widened(name));
    RegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS)
        return XString(L"");
    std::vector<wchar_t> text(kTempPathChars + 200, L'\0');
    DWORD type = 0, bytes = static_cast<DWORD>((text.size() - 1) * sizeof(wchar_t));
    if (RegQueryValueExW(key.get(), Widened(name).wvalue(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                         &bytes) != ERROR_SUCCESS ||
        type != REG_SZ)
        return XString(L"");
    return XString(text.data());
}

// The record of this run's copy of `name`, forgotten as it is read: a copy
// is restored once.
SavedCopy TakeRecord(SaveRecord where, const XString& name) {
    const std::wstring text = Widened(ReadRecordText(where, name)).wvalue();
    WriteRecord(where, name, SavedCopy());
    const size_t cut = text.rfind(kRecordSeparator);
    if (cut == std::wstring::npos) return SavedCopy();
    return SavedCopy{XString(text.substr(0, cut).c_str()), XString(text.substr(cut + 1).c_str())};
}

int SaveCopy(const XString& live, const XString& saved, const XString& name, SaveRecord record) {
    WriteRecord(record, name, SavedCopy());
    // A file or link planted under the copy's name goes first, and the copy
    // is made only as a new file: nothing is written through a link.
    DeleteFileW(Widened(saved).wvalue());
    if (!HV_CopyFileToNew(live, saved)) return 0;
    WriteRecord(record, name, SavedCopy{saved, CurrentAccountSid()});
    return 1;
}

int RestoreCopy(const XString& saved, const XString& live, const SavedCopy& record) {
    KernelHandle held;
    const SavedCopyState state = OpenSavedCopy(L"BackupOldFile", record, saved, &held);
    // A missing copy is reported as the failed copy of it always was.
    if (state == SavedCopyState::kMissing) LogFailedCopy(GetLastError(), saved, live);
    if (state != SavedCopyState::kTrusted) return 0;
    if (!HV_CopyFile(saved, live)) return 0;
    held.reset();  // the delete needs the copy unshared
    return HV_DeleteFile(saved);
}

}  // namespace

bool GetBackupPath(XString* path) {
    UINT result = GetProperty(kBackupProperty, path);
    if (result != ERROR_SUCCESS) {
        LogMessage(result, L"GetBackupPath", L"Failed to GetProperty: %s", kBackupProperty);
        return false;
    }
    if (!path->endsWith(L"\\")) path->concat(XString(L'\\'));
    return true;
}

bool CreateBackupPath() {
    wchar_t temp[kTempPathChars] = L"";
    GetTempPathW(kTempPathChars, temp);
    if (SetProperty(kBackupProperty, temp, true) != ERROR_SUCCESS) {
        LogMessage(0, L"CreateBackupPath", L"SetProperty failed (%s=%s)\n", kBackupProperty, temp);
        return false;
    }
    return true;
}

int BackupOldFile(const XString& directory, const XString& name, int restore, SaveRecord record) {
    XString backup;
    if (!GetBackupPath(&backup)) return 0;
    XString live = Widened(directory) + Widened(name);
    XString saved = backup + kSavedPrefix + Widened(name);
    if (!restore) return SaveCopy(live, saved, name, record);
    return RestoreCopy(saved, live, TakeRecord(record, name));
}

bool HandleOldConfigFiles(XString installDir, int restore) {
    installDir.setEncoding(XString::Unicode);
    if (!installDir.endsWith(L"\\")) installDir.concat(XString(L'\\'));
    return BackupOldFile(installDir + L"database\\", L"userc.c", restore, SaveRecord::kOnMachine) != 0;
}

bool StoreOldFiles() {
    XString dir;
    return ReadOldInstalledPath(L"StoreOldFiles", &dir) && HandleOldConfigFiles(dir, 0);
}

bool RestoreOldFiles() {
    XString dir;
    return ReadOldInstalledPath(L"RestoreOldFiles", &dir) && HandleOldConfigFiles(dir, 1);
}

bool IsEntrustINIexist() {
    XString path = GetWinDir() + kEntrustIni;
    XString narrow = path;
    narrow.setEncoding(XString::Ascii);
    OFSTRUCT info = {};
    bool exists = OpenFile(narrow.value(), &info, OF_EXIST) != HFILE_ERROR;
    LogMessage(0, L"IsEntrustINIexist", exists ? L"True (%S)" : L"False (%S)", narrow.value());
    return exists;
}

bool StoreEntrustINI(SaveRecord record) {
    WriteRecord(record, kEntrustIni, SavedCopy());  // also when nothing is saved
    if (OverwriteEntrustIni()) return true;  // the package's own file replaces the user's
    if (!IsEntrustINIexist()) return true;
    return BackupOldFile(GetWinDir(), kEntrustIni, 0, record) != 0;
}

bool RestoreEntrustINI(SaveRecord record) {
    if (OverwriteEntrustIni()) return true;
    return BackupOldFile(GetWinDir(), kEntrustIni, 1, record) != 0;
}

void GetCustomFileSubDir(const XString& fileName, XString* subDir) {
    XString name = Widened(fileName);
    for (const CustomFileRule& rule : kCustomFileRules) {
        bool match = rule.prefixOnly ? name.startsWith(rule.name) : name.equals(rule.name);
        if (match) *subDir = XString(rule.subDir);
    }
}

void CreateClientSubDirs(const XString& installDir) {
    XString dir = Widened(installDir);
    for (const wchar_t* sub : kClientSubDirs) _wmkdir((dir + sub).wvalue());  // existing ones are fine
}
