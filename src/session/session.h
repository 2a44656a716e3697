// Installer session services: properties and directory target paths of the
// session bound by the running handler.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include "util/handles.h"
#include "util/xstring.h"

// Session of the handler being run; 0 outside a handler.
extern MSIHANDLE g_hMsi;

// Reads a property; in deferred handlers every name but "CustomActionData"
// is answered from the deferred data container.
UINT GetProperty(XString name, XString* value);
UINT SetProperty(XString name, XString value, bool alsoStoreInContainer);
UINT GetTargetPath(XString directory, XString* path);
UINT SetTargetPath(XString directory, XString path);

void SetUseCAD(int flag);
bool IsUseCAD();

// Opens and executes a view whose rows must have exactly two columns, logging
// failures under the caller's label. A view of any other shape is logged and
// left closed with result 0.
UINT OpenTwoColumnView(MSIHANDLE database, const wchar_t* query, const wchar_t* label, MsiHandle& view);

// Reads a record's string field whole; empty when it cannot be read.
XString RecordString(MSIHANDLE record, UINT field);
