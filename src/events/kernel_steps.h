// Steps that the "after" handlers of first installation and maintenance
// share: the installation directory, the registry sections and the kernel
// components. `label` is the calling handler's name.
#pragma once

#include "util/xstring.h"

// Working subdirectories, the additional files and the directory recorded
// for the removal.
void PrepareInstallDir(const XString& installDir);
void ApplyRegistrySections();
// Removes old kernel bindings and installs the virtual adapter.
void RemoveOldBindingsAndInstallVNA(const wchar_t* label, const XString& dir);
// The filter driver: at once, or through VN_SMS after the restart when the
// package splits the kernel installation.
void InstallFilterDriver(const wchar_t* label, const XString& dir);
// The VPN driver and its connection.
void InstallVpnDriver(const wchar_t* label, const XString& dir);
