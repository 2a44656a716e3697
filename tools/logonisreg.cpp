// Test stand-in for the package's LogonISReg.dll: records every call, with
// its arguments, in C:\tamber_calls.txt like the program stand-ins:
//   LogonISReg.dll|call and arguments||
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void Record(const std::string& call) {
    std::string line = "LogonISReg.dll|" + call + "||\n";
    if (FILE* journal = fopen("C:\\tamber_calls.txt", "ab")) {
        fwrite(line.data(), 1, line.size(), journal);
        fclose(journal);
    }
}

}  // namespace

extern "C" {

int WINAPI SetNP(const char* installDir) {
    Record(std::string("SetNP ") + (installDir ? installDir : "(null)"));
    return 1;
}

int WINAPI DelNP() {
    Record("DelNP");
    return 1;
}

int WINAPI EnableDisableSDL(int enable, HKEY root, const char* installDir) {
    Record("EnableDisableSDL " + std::to_string(enable) + (root ? " key " : " nokey ") +
           (installDir ? installDir : "(null)"));
    return 1;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
}
