#include "events/kernel_steps.h"

#include "addfiles/addfiles.h"
#include "config/config.h"
#include "kernel/kernel.h"
#include "legacy/legacy.h"
#include "log/install_log.h"
#include "regdb/regdb.h"
#include "state/state.h"
#include "upgrade/upgrade.h"
#include "util/files.h"

namespace {

// Applied in this order by every installation and maintenance run.
const wchar_t* const kCommonSections[] = {L"ALL",     L"ALL1",     L"ExpectedDialupDelay", L"NOT_SupportBDZ",
                                          L"WNT_W2K", L"ServiceInteractive", L"Kernel"};

// Kernel bindings that earlier clients may have left behind.
const wchar_t* const kOldBindings[] = {L"-unbind ms_psched", L"-v -u HV_OMVA", L"-v -u *NM_VDEV"};

}  // namespace

void PrepareInstallDir(const XString& installDir) {
    CreateClientSubDirs(installDir);
    InstallAdditionalFileFromBinaryTable(installDir);
    WriteUnInstallTargetDir(installDir);
}

void ApplyRegistrySections() {
    for (const wchar_t* section : kCommonSections) regInsertSection(section);
    if (is2KorXP())
        regInsertSection(L"W2K_XP");
    else
        RemoveHvrNotify();
    regInsertSection(IsVarguardChosen() ? L"VG_Configuration" : L"VN_Configuration");
}

void RemoveOldBindingsAndInstallVNA(const wchar_t* label, const XString& dir) {
    for (const wchar_t* binding : kOldBindings) RunBDKern(dir, binding);
    LogMessage(0, label, L"Return code from Install VNA: %d", static_cast<int>(InstallVNA(dir)));
}

void InstallFilterDriver(const wchar_t* label, const XString& dir) {
    if (IsProductINIvalueTrue(L"SplitKernelInstall", 0)) {
        // VN_SMS finishes the driver after the restart; keep the client's
        // services from starting before it.
        SetServicesStatupType(SERVICE_DEMAND_START);
        UINT result = InstallBD_with_VN_SMS_service(dir);
        LogMessage(0, label, L"Return code from InstallBD_with_VN_SMS_service: %d", static_cast<int>(result));
        return;
    }
    LogMessage(0, label, L"addreg_CleanKernelINF()");
    addreg_CleanKernelINF();
    RunBDKern(dir, L"-v -u HV_BD1");
    RunBDKern(dir, L"-v -u HV_BD1MP");
    LogMessage(0, label, L"Return code from InstallBD: %d", static_cast<int>(InstallBD(dir)));
}

void InstallVpnDriver(const wchar_t* label, const XString& dir) {
    RunBDKern(dir, L"-unbind2 ms_psched hv_vgvna");
    DWORD vpn = InstallGenericDriver(L"Tessel-1", L"Tessel-1 Module", 0, L"\\SystemRoot\\System32\\drivers\\vpn.sys",
                                     L"Extended Base", nullptr);
    LogMessage(0, label, L"Return code from installVPN: %d", static_cast<int>(vpn));
    RunConn_config(dir, L"add Tessel-1 VPN");
}
