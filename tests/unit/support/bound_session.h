// A session bound as the running handler's, for tests that link the
// library's sources: properties from the Property table and an installation
// directory (costed, then set to `installDir`).
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

#include "harness.h"

class BoundSession {
public:
    using Properties = std::initializer_list<std::pair<const wchar_t*, const wchar_t*>>;
    explicit BoundSession(Properties properties = {}, const wchar_t* installDir = L"C:\\Client\\");
    ~BoundSession();
    BoundSession(const BoundSession&) = delete;
    BoundSession& operator=(const BoundSession&) = delete;

    std::wstring Get(const wchar_t* name) { return pkg_.Get(name); }
    std::wstring InstallDir();

private:
    TestPackage pkg_;
};
