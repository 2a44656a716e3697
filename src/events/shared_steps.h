// Steps that several handlers share.
#pragma once

#include <windows.h>

UINT OnBeforeCommon();
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
