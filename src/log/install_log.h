// The install log: every line goes to the debugger, the installer's log of
// the bound session and %TEMP%\HVInstLog\install_varnet_R33.elg.
#pragma once

#include <windows.h>

#include "util/xstring.h"

// Writes one time-stamped line; returns 1 when it reached the file.
int LogMessage(DWORD errorCode, const wchar_t* label, const wchar_t* format, ...);

// The four-line banner around a handler or routine.
void LogFunctionBanner(const wchar_t* name, int started);

XString GetInstallLogPath();

// Hands a child process an inheritable, appending handle on the log file.
bool RedirectChildOutputToLog(STARTUPINFOW* startupInfo);
void CloseChildOutputHandle();

// True while a log line is being passed to the installer, so that the
// external UI handler can recognise the echo of the library's own line.
bool IsMirroringLogLine();
