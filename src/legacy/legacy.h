// Cleanup of what older client generations left behind. 8-bit texts; the
// diagnostics go to the debugger output, not to the install log.
#pragma once

#include <windows.h>

void BroadcastKillBdEnc(const char* version);
void RemoveOldBdEncService();
void addreg_w2K_omva_cleanup(const char* windowsDir);
void addreg_DeleteRegistryOnUninstall();
void SavePolicyKey();
void RestorePolicyKey();
int addreg_CleanKernelINF();
int addreg_RemoveINF();
