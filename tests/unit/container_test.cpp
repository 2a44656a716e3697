// The deferred data container as the handlers load and store it: a packed
// text goes in through ALLCADPROPS, OnExecuteStub parses it, hands the text to
// the scheduled routine and packs the container back.
#include <doctest.h>

#include <string>

#include "harness.h"

namespace {

// The routine's CustomActionData and ALLCADPROPS after the handler.
// The install mode is the one entry that OnExecuteStub looks up by name.
struct StubRun { UINT result; std::wstring handedOver, repacked, installMode; };

StubRun RunStub(const std::wstring& packed) {
    TestPackage pkg;
    pkg.Property(L"ALLCADPROPS", packed).Property(L"DCAFNNUM", L"1").Property(L"DCAFN1", L"OnFirstAfter");
    UINT result = CallHandler("OnExecuteStub", pkg.Session());
    return {result, pkg.Get(L"OnFirstAfter"), pkg.Get(L"ALLCADPROPS"), pkg.Get(L"tamber_install_mode")};
}

std::wstring Entries(int from, int to) {
    std::wstring text;
    for (int i = from; i < to; ++i) text += L"[[n" + std::to_wstring(i) + L"=" + std::to_wstring(i) + L"]]|";
    return text;
}

}  // namespace

TEST_CASE("packed texts are parsed as the wire format says") {
    struct Case { const char* what; std::wstring in, repacked; };  // repacked empty: broken, container emptied
    const std::wstring longValue(400, L'L');
    const Case cases[] = {
        {"a name given twice keeps the first place and the last value", L"[[a=1]]|[[b=2]]|[[a=3]]|",
         L"[[a=3]]|[[b=2]]|"},
        {"an entry without = has an empty name", L"[[word]]|", L"[[=word]]|"},
        {"text before the first mark is ignored", L"junk[[a=1]]|", L"[[a=1]]|"},
        {"a value may hold = and [[", L"[[cmd=x=y [[z]]|", L"[[cmd=x=y [[z]]|"},
        {"a value longer than the first read buffer", L"[[v=" + longValue + L"]]|", L"[[v=" + longValue + L"]]|"},
        {"a value holding ]]| is cut and the parse resynchronises", L"[[a=x]]|y]]|[[b=2]]|", L"[[a=x]]|[[b=2]]|"},
        {"a value holding ]]| with nothing after breaks", L"[[a=x]]|y]]|", L""},
        {"trailing text without a mark breaks", L"[[a=1]]|tail", L""},
        {"ending without a closing mark breaks", L"[[a=1]]|[[b=2", L""},
    };
    for (const Case& c : cases) {
        CAPTURE(c.what);
        LogCapture log;
        StubRun run = RunStub(c.in);
        CHECK(run.result == ERROR_SUCCESS);
        CHECK(run.handedOver == c.in);
        CHECK(run.repacked == c.repacked);
        CHECK(log.Contains("<DeMarshal_CAD> Critical Error: Failed to de-marshal data from CustomActionData") ==
              c.repacked.empty());
    }
}

// Packing joins name and value with "=" again, so only a lookup by name
// shows where the name ended: at the entry's first "=".
TEST_CASE("an entry whose value holds = is found by its name") {
    StubRun run = RunStub(L"[[cmd=x=y]]|[[tamber_install_mode=new=2]]|[[url=http://h/?a=1&b=2]]|");
    CHECK(run.installMode == L"new=2");
    CHECK(run.repacked.find(L"[[tamber_install_mode=new=2]]|") != std::wstring::npos);
}

TEST_CASE("the container holds 512 names and refuses the next one") {
    LogCapture log;
    // 513 names, then a new value for the first one.
    StubRun run = RunStub(Entries(0, 513) + L"[[n0=changed]]|");
    CHECK(run.repacked == L"[[n0=changed]]|" + Entries(1, 512));
    CHECK(log.Contains("<CADContainer> Container is full (512 entries): n512 not stored"));
}
