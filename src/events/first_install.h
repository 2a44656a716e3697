// The handlers' own steps for the start of every run and for a first
// installation.
#pragma once

#include <windows.h>

bool IsUserAdmin();

UINT OnBeginSteps();
UINT OnFirstBeforeSteps();
UINT OnFirstAfterSteps();
