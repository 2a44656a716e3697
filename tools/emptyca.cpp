// The engine's floor for scripts/bench: a custom-action DLL whose every
// handler returns at once, so that a package built with it in place of the
// library (build-package Library=...) starts the same custom actions at the
// same points and does nothing in them.
#include <windows.h>
#include <msi.h>

extern "C" UINT WINAPI EmptyAction(MSIHANDLE) { return ERROR_SUCCESS; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
