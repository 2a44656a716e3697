// The frame around every exported handler: banners, session binding, the
// container's load and store, and the external UI handler.
#pragma once

#include <windows.h>
#include <msi.h>

struct HandlerTraits {
    const wchar_t* name;    // banner label
    bool deferred;          // reads its properties from the container
    bool bindBeforeBanner;  // only OnRemoveAfter
    bool endsOnFailure = false;  // finishes its frame and returns the failure (OnFirstBefore)
};

// A handler's own steps: 0 to finish normally, anything else stops the run
// with 1603, at once (no end banner, container not stored) unless the
// handler ends on failure.
using HandlerSteps = UINT (*)();

UINT RunHandler(const HandlerTraits& handler, MSIHANDLE session, HandlerSteps steps);

void BindSession(MSIHANDLE session);
void UnbindSession();

int WINAPI TamberMessageHandler(LPVOID context, UINT messageType, LPCWSTR message);
