// Upgrade and migration: files of a previous installation that must outlive
// the installer's own file operations, the removal marker and the launcher
// flag.
#pragma once

#include <windows.h>

#include "util/xstring.h"

bool CreateBackupPath();
bool GetBackupPath(XString* path);

// Where a save records what it saved, so that its restore takes back only
// that copy: the backup directory is the temporary one, where any local user
// can plant files.
// - kInContainer: an immediate handler saves and a deferred one restores
//   (OnFirstBefore, OnFirstAfter). The entry reaches the restore in the
//   container as CustomActionData, which only installer properties make.
// - kOnMachine: one deferred handler saves for the next (OnMaintBefore and
//   OnMaintAfter, OnRemoveBefore and OnRemoveAfter), and a deferred handler
//   cannot hand container entries on. A volatile value under
//   HKEY_LOCAL_MACHINE, which only SYSTEM and administrators can write and a
//   restart forgets; the restore deletes it.
enum class SaveRecord { kInContainer, kOnMachine };

// Saves (restore 0) or restores (restore 1) directory + name through the
// backup directory; `directory` ends with a backslash. Nonzero on success.
int BackupOldFile(const XString& directory, const XString& name, int restore, SaveRecord record);
// userc.c: only the maintenance handlers save and restore it, both deferred.
bool HandleOldConfigFiles(XString installDir, int restore);
bool StoreOldFiles();
bool RestoreOldFiles();
bool IsEntrustINIexist();
bool StoreEntrustINI(SaveRecord record);
bool RestoreEntrustINI(SaveRecord record);
void GetCustomFileSubDir(const XString& fileName, XString* subDir);
void CreateClientSubDirs(const XString& installDir);

// Removes a file or a directory tree, keeping certificate files: 0 when the
// path is gone, -1 otherwise.
int DeleteDirTree(const wchar_t* path);
void RenameToOld(const wchar_t* file);

int CopyAndWriteToRegEraseExeForAfterRebbot(const XString& installDir);
int WriteUnInstallTargetDir(XString installDir);
int ClearUnInstallMarker();
// False only while a removal waits for a restart.
bool IsFirstInstall();
bool IsActivatedByLauncher();

// --- Registrations of an earlier installation ---

LONG DeleteDTBaseFromRegistry();
LONG DeleteVNFromRegistry();
LONG DeleteSDSFromRegistry();
LONG DeleteBDFromRegistry();
int ClearClientKeyKeepSCV();
int WriteProductGuidToRegistry();
void RemoveOldProductRegistration();
int GetOldVG_GUID(XString* guid);
LONG DeleteOldVGFromInstalledPrograms(const XString& guid);
void DeleteOldMsiFromInstalledProducts(const XString& guid);
void DeleteClientSystemFiles();
void RemoveHvrNotify();

// --- Version 4.1 and the version test ---

int IsDowngrade();
bool WarnOn4_1Upgrade();
int Remove4_1WinFiles();
int Backup4_1RegistryInfo();
int Remove4_1RegistryKeys();
int Remove4_1StartMenu();
int Restore4_1RegistryInfo();
int Upgrade4_1Gina();
int DeletePolicyFiles();
void IncludeBrandingFiles(const XString& installDir);
void HandleDefaultPolicy();
