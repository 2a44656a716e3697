// Scheduling the deferred routines: their names go to DCAFN properties and
// the container, a missing name leaves both alone.
#include <doctest.h>

#include "deferred/deferred.h"
#include "events/frame.h"
#include "harness.h"

TEST_CASE("scheduling names the deferred routines in properties and the container") {
    TestPackage pkg;
    BindSession(pkg.Session());
    SetDeferredCustomActionFNs(L"OnRemoveBefore", nullptr);
    SetDeferredCustomActionFN(nullptr);
    CHECK(pkg.Get(L"DCAFNNUM").empty());
    SetDeferredCustomActionFNs(L"OnRemoveBefore", L"OnRemoveAfter");
    CHECK(pkg.Get(L"DCAFNNUM") == L"2");
    CHECK(pkg.Get(L"DCAFN2") == L"OnRemoveAfter");
    SetDeferredCustomActionFN(L"OnFirstAfter");
    CHECK(pkg.Get(L"DCAFNNUM") == L"1");
    // One routine: a second name left from before would start its routine too.
    CHECK(pkg.Get(L"DCAFN2").empty());
    UnbindSession();
    CHECK(pkg.Get(L"ALLCADPROPS") == L"[[DCAFNNUM=1]]|[[DCAFN1=OnFirstAfter]]|[[DCAFN2=]]|");
}
