// Package configuration: the settings file product.ini carried in the
// package's Binary table, published as installer properties.
#pragma once

#include <windows.h>

#include "util/xstring.h"

// Extracts product.ini and publishes its "version" section; returns the
// number of section lines that held a "=".
int SetProductINIProperties();
// OnBegin marks its process: there the published settings are the
// properties. A process without the mark (Windows' installer service in a
// run with a user interface) has them only in the container.
void MarkSettingsPublished();
bool SettingsPublishedHere();
UINT LoadProductDotINI(const XString& path);
bool IsQuillonConfiguration();
bool ConfigureQuillonAttributes(const XString& path);

// Lookups of a published setting; `value` holds the caller's default and is
// changed only when the setting has a text. 0 read, -1 read failed.
int GetProductINI_intValue(XString name, int& value);
int GetProductINI_strValue(XString name, XString& value);
int IsProductINIvalueTrue(const wchar_t* name, int defaultValue);

// Decides which setup dialogs are shown and publishes the 36 "dt_" flow
// properties and the presets of skipped dialogs. False: the run must stop.
bool initiateDialogsFlowAttributes();
bool ResolveMaintenanceMode(bool* showUpdateOverwrite, bool* overwrite);
