#include <doctest.h>

#include "deferred/deferred.h"
#include "events/frame.h"
#include "harness.h"
#include "session/session.h"

TEST_CASE("scheduling names the deferred routines in properties and the container") {
    TestPackage pkg;
    BindSession(pkg.Session());
    LogCapture log;

    SetDeferredCustomActionFNs(L"OnRemoveBefore", nullptr);
    CHECK(pkg.Get(L"DCAFNNUM").empty());
    SetDeferredCustomActionFN(nullptr);
    CHECK(pkg.Get(L"DCAFNNUM").empty());

    SetDeferredCustomActionFNs(L"OnRemoveBefore", L"OnRemoveAfter");
    CHECK(pkg.Get(L"DCAFNNUM") == L"2");
    CHECK(pkg.Get(L"DCAFN1") == L"OnRemoveBefore");
    CHECK(pkg.Get(L"DCAFN2") == L"OnRemoveAfter");
    CHECK(log.Contains("<SetDeferredCustomActionFNs> Set the deferred CA to DCAFN2=OnRemoveAfter"));

    SetDeferredCustomActionFN(L"OnFirstAfter");
    CHECK(pkg.Get(L"DCAFNNUM") == L"1");
    CHECK(log.Contains("<SetDeferredCustomActionFN> Set the deferred CA to DCAFN1=OnFirstAfter"));

    UnbindSession();
    CHECK(pkg.Get(L"ALLCADPROPS") == L"[[DCAFNNUM=1]]|[[DCAFN1=OnFirstAfter]]|[[DCAFN2=OnRemoveAfter]]|");
}
