// Logon integration: the GINA chain on 2000 and XP, the network provider and
// pre-logon access provider from Vista on, and the settings SDL needs.
#pragma once

#include <windows.h>

#include "util/xstring.h"

void HandleSDLSupport();
int TamberEnableVistaNP();
void TamberRemoveVistaNP();
void RestoreOldGina();
int TamberEnableVistaPLAP();
void TamberEnableSDL();
int TamberSetNetlogonTimeoutParameters(const wchar_t* settingsFile);
int TamberSetLmhostLookupParam();
bool getGinaName(XString* name);
bool GetHvrOldGina(XString* name);
bool IsOwnGina(const XString& name);
bool CopySignedBDfiles(const XString& installDir);
