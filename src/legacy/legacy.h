// Cleanup of what older client generations left behind. 8-bit texts; the
// diagnostics go to the debugger output, not to the install log, but for a
// refused restore of the policy key and the registry links found among the
// users' keys.
#pragma once

#include <windows.h>

#include "util/files.h"

void BroadcastKillBdEnc(const char* version);
void RemoveOldBdEncService();
// An empty directory skips the driver file only.
void addreg_w2K_omva_cleanup(const char* windowsDir);
void addreg_DeleteRegistryOnUninstall();
// Saves the policy key into the temporary directory; what it saved, or an
// empty record when nothing was saved.
SavedCopy SavePolicyKey();
// Restores the policy key from the copy `saved` names, if it is still that.
void RestorePolicyKey(const SavedCopy& saved);
int addreg_CleanKernelINF();
int addreg_RemoveINF();
