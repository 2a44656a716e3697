#include "bound_session.h"

#include "events/frame.h"
#include "session/session.h"

BoundSession::BoundSession(Properties properties, const wchar_t* installDir) {
    for (const auto& p : properties) pkg_.Property(p.first, p.second);
    pkg_.Directory(L"TARGETDIR", L"", L"SourceDir").Directory(L"INSTALLDIR", L"TARGETDIR", L"Client");
    MSIHANDLE session = pkg_.Session(true);
    MsiSetTargetPathW(session, L"INSTALLDIR", installDir);
    BindSession(session);
}

BoundSession::~BoundSession() { UnbindSession(); }

std::wstring BoundSession::InstallDir() {
    XString path;
    GetTargetPath(L"INSTALLDIR", &path);
    return path.wvalue();
}
