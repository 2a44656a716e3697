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
// Without a log line and never from the container: for the marks and
// hand-overs that the log does not show.
bool HasPropertyUnlogged(const wchar_t* name);
UINT SetPropertyUnlogged(const wchar_t* name, const XString& value);
UINT GetTargetPath(XString directory, XString* path);
// Without a log line: for a check that the flow's own log does not show.
// Empty when it cannot be read.
XString GetTargetPathUnlogged(const wchar_t* directory);
UINT SetTargetPath(XString directory, XString path);

void SetUseCAD(int flag);
bool IsUseCAD();

// Opens and executes a view whose rows must have exactly two columns, logging
// failures under the caller's label. A view of any other shape is logged and
// left closed with result 0.
UINT OpenTwoColumnView(MSIHANDLE database, const wchar_t* query, const wchar_t* label, MsiHandle& view);

// Reads a record's string field whole; empty when it cannot be read.
XString RecordString(MSIHANDLE record, UINT field);

// --- Messages, message boxes and progress ---

// The text of a numbered user message (1000 to 1122).
XString GetMessageText(int number);
// A warning box through the installer; 0 without showing in a silent run.
int ShowMsgBox(XString text, UINT type);
int ShowMsgBoxById(int number, UINT type);
int SendMSIWarningMessageBox(XString text, UINT type);
// The text that the package's final dialog shows after a failed run.
UINT SetFinishErrorString(int number);
// A run stops: the message as an error box and as the final dialog's text.
// Always false, for the caller to return.
bool StopWithMessage(int number);

UINT SendInfoMsgToProgressDialog(XString text);
UINT StepProgressBar(MSIHANDLE session);
UINT HideCancelButton(MSIHANDLE session);
void ShowSetupInfo(XString text, bool show);
void ShowSetupInfoById(int number, bool show);

// Silent when "UILevel" is "2"; decided once per process.
bool IsSilentMode();
// "-g", or empty in a silent run.
XString GetGuiSwitch();
int IsShowSetupInfoDialogs();
