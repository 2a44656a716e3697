// The handlers' own steps for a maintenance run (upgrade or overwrite) and
// for a removal.
#pragma once

#include <windows.h>

UINT OnMainPrologueSteps();
UINT OnMaintBeforeSteps();
UINT OnMaintAfterSteps();

UINT OnRemovePrologueSteps();
UINT OnRemoveBeforeSteps();
UINT OnRemoveAfterSteps();
