// Command lines are built in 256-unit buffers; one that would not fit is
// refused (logged under `label`) rather than cut, since a cut line would run
// the wrong program or the wrong arguments.
#pragma once

#include <cstdarg>

#include "kernel/kernel.h"

bool FormatCommandLineV(wchar_t (&command)[kCommandChars], const wchar_t* label, const wchar_t* format,
                        va_list args);
bool FormatCommandLine(wchar_t (&command)[kCommandChars], const wchar_t* label, const wchar_t* format, ...);
