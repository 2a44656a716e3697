// Steps that several handlers share.
#pragma once

#include <windows.h>

#include "util/xstring.h"

UINT OnBeforeCommon();
// The prologues' check of the destination's existing parents; on success the
// highest directory that this run will make goes to the deferred handlers,
// which lock from there. False when a parent could be changed by a user.
bool CheckDestinationParents(const wchar_t* label, const XString& installDir);
int OnAfterCommon();
int HandleEntrustSupport();
void HandleRebootAtFinish();
UINT SetRebootAtEnd(BOOL reboot);
void CreateLogShortcut();
bool HandleQuietMode();
UINT HandleVarnetInPath();
void AdjustVarnetShortcuts();
void HandleSimplified();
void RemoveProgramShortcuts();
