// Test stand-ins: custom actions that record what the installer handed them.
// RecordCustomActionData writes the action's CustomActionData, exactly, as
// UTF-8 to %TEMP%\caprobe\CustomActionData.txt (one file per run).
//
// ChooseInDialogs and CaptureCrossing play the two ends of a user-interface
// sequence on Windows, where the execute sequence runs in another process
// and gets only the public properties that may cross:
// - ChooseInDialogs does what a person's clicks would: it applies the
//   choices in CAPROBE_CHOICES ("NAME=VALUE;..."; INSTALLDIR as a target path).
// - CaptureCrossing writes the properties that would cross, as a command
//   line, to %TEMP%\caprobe\crossing.txt and ends the run there (user exit),
//   so that a second, silent run can play the execute side with only those.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <cstdio>
#include <string>
#include <vector>

#include "text.h"

namespace {

std::wstring ReadProperty(MSIHANDLE h, const wchar_t* name) {
    DWORD chars = 0;
    wchar_t probe[1] = L"";
    UINT r = MsiGetPropertyW(h, name, probe, &chars);
    if (r != ERROR_MORE_DATA && r != ERROR_SUCCESS) return L"";
    std::vector<wchar_t> buffer(chars + 1, L'\0');
    chars += 1;
    MsiGetPropertyW(h, name, buffer.data(), &chars);
    return buffer.data();
}

std::wstring TempFile(const wchar_t* name) {
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    std::wstring dir = std::wstring(temp) + L"caprobe";
    CreateDirectoryW(dir.c_str(), nullptr);
    return dir + L"\\" + name;
}

bool WriteUtf8(const std::wstring& path, const std::wstring& text) {
    const std::string utf8 = Utf8(text);
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    fwrite(utf8.data(), 1, utf8.size(), f);
    fclose(f);
    return true;
}

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::wstring::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// What Windows hands the execute side of an elevated per-machine run besides
// SecureCustomProperties: the restricted public properties and the feature
// requests.
const wchar_t* const kAlwaysCrossing[] = {
    L"ACTION", L"AFTERREBOOT", L"ALLUSERS", L"EXECUTEACTION", L"EXECUTEMODE", L"INSTALLLEVEL", L"LIMITUI",
    L"LOGACTION", L"PRIMARYFOLDER", L"PROMPTROLLBACKCOST", L"REBOOT", L"REINSTALL", L"REINSTALLMODE",
    L"SEQUENCE", L"SHORTFILENAMES", L"TRANSFORMS", L"ADDLOCAL", L"REMOVE", L"ADDSOURCE", L"ADVERTISE",
};

}  // namespace

extern "C" UINT WINAPI ChooseInDialogs(MSIHANDLE h) {
    for (const std::wstring& choice : Split(ReadProperty(h, L"CAPROBE_CHOICES"), L';')) {
        size_t eq = choice.find(L'=');
        if (eq == std::wstring::npos) continue;
        std::wstring name = choice.substr(0, eq), value = choice.substr(eq + 1);
        UINT r = name == L"INSTALLDIR" ? MsiSetTargetPathW(h, name.c_str(), value.c_str())
                                       : MsiSetPropertyW(h, name.c_str(), value.c_str());
        if (r != ERROR_SUCCESS) return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI CaptureCrossing(MSIHANDLE h) {
    std::vector<std::wstring> names = Split(ReadProperty(h, L"SecureCustomProperties"), L';');
    names.insert(names.end(), std::begin(kAlwaysCrossing), std::end(kAlwaysCrossing));
    std::wstring line;
    for (const std::wstring& name : names) {
        std::wstring value = ReadProperty(h, name.c_str()), quoted;
        if (value.empty()) continue;
        for (wchar_t c : value) quoted += c == L'"' ? L"\"\"" : std::wstring(1, c);
        line += (line.empty() ? L"" : L" ") + name + L"=\"" + quoted + L"\"";
    }
    if (!WriteUtf8(TempFile(L"crossing.txt"), line)) return ERROR_INSTALL_FAILURE;
    return ERROR_INSTALL_USEREXIT;
}

extern "C" UINT WINAPI RecordCustomActionData(MSIHANDLE h) {
    return WriteUtf8(TempFile(L"CustomActionData.txt"), ReadProperty(h, L"CustomActionData")) ? ERROR_SUCCESS
                                                                                             : ERROR_INSTALL_FAILURE;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
