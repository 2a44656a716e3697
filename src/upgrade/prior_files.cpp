#include <direct.h>

#include "config/config.h"
#include "log/install_log.h"
#include "session/session.h"
#include "upgrade/upgrade.h"
#include "util/files.h"

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

XString Wide(XString s) {
    s.setEncoding(XString::Unicode);
    return s;
}

bool ReadOldInstalledPath(const wchar_t* label, XString* path) {
    UINT result = GetProperty(kOldPathProperty, path);
    if (result != ERROR_SUCCESS) LogMessage(result, label, L"Failed to GetProperty: %s", kOldPathProperty);
    return result == ERROR_SUCCESS;
}

bool OverwriteEntrustIni() { return IsProductINIvalueTrue(L"OverwriteEntINI", 0) != 0; }

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

int BackupOldFile(const XString& directory, const XString& name, int restore) {
    XString backup;
    if (!GetBackupPath(&backup)) return 0;
    XString live = Wide(directory) + Wide(name);
    XString saved = backup + kSavedPrefix + Wide(name);
    if (!restore) return HV_CopyFile(live, saved);
    if (!HV_CopyFile(saved, live)) return 0;
    return HV_DeleteFile(saved);
}

bool HandleOldConfigFiles(XString installDir, int restore) {
    installDir.setEncoding(XString::Unicode);
    if (!installDir.endsWith(L"\\")) installDir.concat(XString(L'\\'));
    return BackupOldFile(installDir + L"database\\", L"userc.c", restore) != 0;
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

bool StoreEntrustINI() {
    if (OverwriteEntrustIni()) return true;  // the package's own file replaces the user's
    if (!IsEntrustINIexist()) return true;
    return BackupOldFile(GetWinDir(), kEntrustIni, 0) != 0;
}

bool RestoreEntrustINI() {
    if (OverwriteEntrustIni()) return true;
    return BackupOldFile(GetWinDir(), kEntrustIni, 1) != 0;
}

void GetCustomFileSubDir(const XString& fileName, XString* subDir) {
    XString name = Wide(fileName);
    for (const CustomFileRule& rule : kCustomFileRules) {
        bool match = rule.prefixOnly ? name.startsWith(rule.name) : name.equals(rule.name);
        if (match) *subDir = XString(rule.subDir);
    }
}

void CreateClientSubDirs(const XString& installDir) {
    XString dir = Wide(installDir);
    for (const wchar_t* sub : kClientSubDirs) _wmkdir((dir + sub).wvalue());  // existing ones are fine
}
