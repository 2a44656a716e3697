// Test stand-in: a custom action that records what the installer handed it.
// RecordCustomActionData writes the action's CustomActionData, exactly, as
// UTF-8 to %TEMP%\caprobe\CustomActionData.txt (one file per run).
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <cstdio>
#include <string>
#include <vector>

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

}  // namespace

extern "C" UINT WINAPI RecordCustomActionData(MSIHANDLE h) {
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    std::wstring dir = std::wstring(temp) + L"caprobe";
    CreateDirectoryW(dir.c_str(), nullptr);
    std::wstring text = ReadProperty(h, L"CustomActionData");
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr, nullptr);
    FILE* f = _wfopen((dir + L"\\CustomActionData.txt").c_str(), L"wb");
    if (!f) return ERROR_INSTALL_FAILURE;
    fwrite(utf8.data(), 1, utf8.size(), f);
    fclose(f);
    return ERROR_SUCCESS;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
