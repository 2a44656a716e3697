// Values that record what is installed, for the next run, for other products
// and for Add/Remove Programs.
#include <string>

#include "config/config.h"
#include "log/install_log.h"
#include "regdb/regdb.h"
#include "session/session.h"
#include "state/state.h"
#include "system/system.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

const wchar_t kVersionKey[] = L"SOFTWARE\\Halvora\\Varnet\\5.0";
const wchar_t kDTBaseKey[] = L"SOFTWARE\\Halvora\\DTBase\\5.0";
constexpr DWORD kEstimatedKilobytes = 25000;

XString ReadText(const std::wstring& key, const wchar_t* name) {
    DWORD type = 0, size = 0;
    XString value(L"");
    if (TamberRegDB(HKEY_LOCAL_MACHINE).GetKeyValueEx(key.c_str(), name, &type, &value, &size) != ERROR_SUCCESS)
        value = XString(L"");
    return value;
}

// Sets one DWORD in an existing key and logs the write: the open's error
// (not logged) or the write's.
LONG SetLogged(const wchar_t* key, const wchar_t* name, DWORD value) {
    RegKey handle;
    LONG result = RegOpenKeyW(HKEY_LOCAL_MACHINE, key, handle.out());
    if (result != ERROR_SUCCESS) return result;
    result = RegSetValueExW(handle.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    LogMessage(result, L"AllowUserFastSwitching", L"%s in RegSetValueEx of '%s'", result ? L"FAILURE" : L"SUCCESS",
               name);
    return result;
}

}  // namespace

void WriteCommonValuesToRegistryWithName(const char* productKey, const char* displayName) {
    const wchar_t kLabel[] = L"WriteCommonValuesToRegistryWithName";
    LogMessage(0, kLabel, L"starts...");
    XString dir(L"");
    GetTargetPath(L"INSTALLDIR", &dir);
    const std::wstring product = Widened(productKey ? productKey : "").wvalue();
    const std::wstring k = L"SOFTWARE\\Halvora\\" + product, v = k + L"\\5.0", sp = v + L"\\SP9", msp = sp + L"\\MSP0";
    const HKEY root = HKEY_LOCAL_MACHINE;
    setRegistryStringValue(root, k.c_str(), L"CurrentVersion", L"5.0");
    setRegistryStringValue(root, v.c_str(), L"CurrentLabel", L"R33 HFA2");
    setRegistryStringValue(root, v.c_str(), L"PRODDIR", dir.wvalue());
    setRegistryStringValue(root, v.c_str(), L"SU_type", L"R33");
    setRegistryStringValue(root, v.c_str(), L"SU_MJ", L"QVX_R33");

    // Service-pack bookkeeping: the former level moves into Prev*.
    if (!ReadText(v, L"CurrentSP").equals(L"9")) {
        // A missing value counts as level 0; an empty one is kept as it is.
        DWORD type = 0, size = 0;
        XString previous(L"0");
        TamberRegDB(root).GetKeyValueEx(v.c_str(), L"CurrentSP", &type, &previous, &size);
        setRegistryStringValue(root, sp.c_str(), L"PrevSP", previous.wvalue());
        setRegistryStringValue(root, v.c_str(), L"CurrentSP", L"9");
    } else {
        XString previous = ReadText(sp, L"CurrentMSP");
        setRegistryStringValue(root, msp.c_str(), L"PrevMSP", previous.length() ? previous.wvalue() : L"0");
    }
    setRegistryStringValue(root, sp.c_str(), L"CurrentMSP", L"0");
    TamberRegDB(root).CreateKeyEx((msp + L"\\DependentPkgs").c_str());
    if (displayName && *displayName) setRegistryStringValue(root, L"SOFTWARE\\Halvora\\products", product.c_str(), L"1");
    LogMessage(0, kLabel, L"end ----");
}

void WriteCommonValuesToRegistry() { WriteCommonValuesToRegistryWithName("Varnet", "Tessel-1 Varnet/Varguard"); }

void WriteBuildNumberToRegistry() {
    const wchar_t kLabel[] = L"WriteBuildNumberToRegistry";
    XString dir;
    if (GetTargetPath(L"INSTALLDIR", &dir) != ERROR_SUCCESS || dir.length() == 0) {
        LogMessage(0, kLabel, L"GetTargetPath failed");
        return;
    }
    if (!dir.endsWith(L"\\")) dir.concat(XString(L'\\'));
    XString file = dir + L"subarch.ini";
    wchar_t build[256] = L"";
    if (GetPrivateProfileStringW(L"Version", L"BUILDNUM", L"", build, 256, file.wvalue()) == 0) {
        LogMessage(0, kLabel, L"GetPrivateProfileString failed for file <%s>", file.wvalue());
        return;
    }
    LogMessage(0, kLabel, L"write to registry result: %d",
               setRegistryDWORDValue(HKEY_LOCAL_MACHINE, kVersionKey, L"BuildNumber", build));
}

void WriteEstimatedSiteToRegistry() {
    const wchar_t kLabel[] = L"WriteEstimatedSiteToRegistry";
    LogMessage(0, kLabel, L"Entering the function.");
    XString code;
    if (GetProperty(L"ProductCode", &code) != ERROR_SUCCESS) {
        LogMessage(0, L"WriteEstimatedSiteToRegistry -Failed to get ProductCode in function InsertEstimatedSizeToRegistry",
                   L" result: %d", 0);
        return;
    }
    if (code.length() == 0) {
        LogMessage(0, kLabel, L" The returned product code is empty");
        return;
    }
    LogMessage(0, kLabel, L"the productCode that was given is: %s -end of message.\n", code.wvalue());

    // Opens parent (for query) and the product's subkey (for writing).
    auto openProduct = [&](HKEY root, const wchar_t* parentPath, RegKey* parent, RegKey* product,
                           const wchar_t* parentFailure, const wchar_t* productFailure) {
        if (RegOpenKeyExW(root, parentPath, 0, KEY_QUERY_VALUE, parent->out()) != ERROR_SUCCESS) {
            LogMessage(0, kLabel, L"%s", parentFailure);
            return false;
        }
        if (RegOpenKeyExW(parent->get(), code.wvalue(), 0, KEY_WRITE, product->out()) != ERROR_SUCCESS) {
            LogMessage(0, kLabel, L"%s", productFailure);
            return false;
        }
        return true;
    };
    {
        RegKey parent, product;
        if (!openProduct(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", &parent,
                         &product, L"failed to openKey Uninstall  key.", L"failed to openKey prodKey  key."))
            return;
        DWORD size = kEstimatedKilobytes;
        if (RegSetValueExW(product.get(), L"EstimatedSize", 0, REG_DWORD, reinterpret_cast<BYTE*>(&size), sizeof size) !=
            ERROR_SUCCESS) {
            LogMessage(0, kLabel, L"failed to set the EstimatedSize key value.");
            return;
        }
        LogMessage(0, kLabel, L"finished updating the EstimatedSize key. ");
    }
    LogMessage(0, kLabel, L"start procedure of the change key to take affect");
    RegKey parent, product;
    if (!openProduct(isVista() ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                     L"Software\\Microsoft\\Windows\\CurrentVersion\\App Management\\ARPCache", &parent, &product,
                     L"failed to openKey ARPCache  key.", L"failed to openKey prodKey  key in the change path."))
        return;
    DWORD changed = 1;
    bool ok = RegSetValueExW(product.get(), L"Changed", 0, REG_DWORD, reinterpret_cast<BYTE*>(&changed),
                             sizeof changed) == ERROR_SUCCESS;
    LogMessage(0, kLabel, ok ? L"finished updating the change key." : L"failed to set the Changed key value.");
}

LONG AllowUserFastSwitching() {
    const wchar_t kLabel[] = L"AllowUserFastSwitching";
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    GetVersionExW(&info);
    const DWORD version = info.dwMajorVersion * 100 + info.dwMinorVersion;
    if (info.dwPlatformId != VER_PLATFORM_WIN32_NT || version < 501) {
        LogMessage(0, kLabel, L"method ended with %s", L"SUCCESS");
        return 0;
    }
    int fastSwitching = 0, concurrent = 0;
    GetProductINI_intValue(L"AllowFastUserSwitching", fastSwitching);
    GetProductINI_intValue(L"AllowConcurrentSessions", concurrent);
    LONG result = 0;
    if (version < 600) {
        // A missing Winlogon key is passed over; Licensing Core decides the result.
        SetLogged(L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", L"AllowMultipleTSSessions",
                  static_cast<DWORD>(fastSwitching));
        result = SetLogged(L"System\\CurrentControlSet\\Control\\Terminal Server\\Licensing Core",
                           L"EnableConcurrentSessions", static_cast<DWORD>(concurrent));
    } else {
        result = SetLogged(L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", L"HideFastUserSwitching",
                           fastSwitching == 0 ? 1 : 0);
    }
    LogMessage(result, kLabel, L"method ended with %s", result == 0 ? L"SUCCESS" : L"FAILURE");
    return result;
}

void ReadDTBaseProfiles(XString* defaultProfile, XString* profile) {
    *defaultProfile = ReadText(kDTBaseKey, L"DefaultProfile");
    *profile = ReadText(kDTBaseKey, L"Profile");
}

void WriteDTBaseProfiles(const XString& defaultProfile, const XString& profile) {
    setRegistryStringValue(HKEY_LOCAL_MACHINE, kDTBaseKey, L"DefaultProfile", defaultProfile.wvalue());
    setRegistryStringValue(HKEY_LOCAL_MACHINE, kDTBaseKey, L"Profile", profile.wvalue());
}

void WriteDTBaseToRegistryWithCare() {
    const wchar_t kLabel[] = L"WriteDTBaseToRegistryWithCare";
    const bool upgrade = IsMaintUpgradeChosen();
    const bool from41 = IsUpgradeFrom4_1();
    LogMessage(0, kLabel, L"Start: IsMaintUpgradeChosen=%d, IsUpgradeFrom4_1()=%d", upgrade, from41);
    const bool keep = upgrade && !from41;
    XString defaultProfile(L""), profile(L"");
    if (keep) ReadDTBaseProfiles(&defaultProfile, &profile);
    WriteDTBaseDefaults();
    if (keep) WriteDTBaseProfiles(defaultProfile, profile);
    LogMessage(0, kLabel, L"End: DefaultProfileValue=%s, ProfileValue=%s", defaultProfile.wvalue(), profile.wvalue());
}
