// Deferred handlers read properties and target paths from the container.
#pragma once

#include <windows.h>

#include "util/xstring.h"

UINT ReadFromContainer(const wchar_t* label, const XString& name, XString* value);
