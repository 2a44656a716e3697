// Upgrade and migration: files of a previous installation that must outlive
// the installer's own file operations, the removal marker and the launcher
// flag.
#pragma once

#include <windows.h>

#include "util/xstring.h"

bool CreateBackupPath();
bool GetBackupPath(XString* path);
// Saves (restore 0) or restores (restore 1) directory + name through the
// backup directory; `directory` ends with a backslash. Nonzero on success.
int BackupOldFile(const XString& directory, const XString& name, int restore);
bool HandleOldConfigFiles(XString installDir, int restore);
bool StoreOldFiles();
bool RestoreOldFiles();
bool IsEntrustINIexist();
bool StoreEntrustINI();
bool RestoreEntrustINI();
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
