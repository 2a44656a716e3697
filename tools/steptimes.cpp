// The timing build of the library (cmake -DTAMBER_STEP_TIMES=ON, for
// scripts/bench only): its own code is compiled with -finstrument-functions
// and these hooks note every call's entry and exit with the time stamp
// counter. When a call from outside (a handler, DllMain) returns, its events
// are appended to C:\tamber-steps.bin; tools/steptimes.py turns them into the
// time of each step. Never part of the shipped library.
#include <windows.h>
#include <x86intrin.h>

#include <cstdio>

#define NOT_TIMED __attribute__((no_instrument_function))

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

struct Event {
    unsigned long long rvaAndExit;  // the top bit set on exit (entry points may be odd)
    unsigned long long tsc;
};

constexpr unsigned long long kExit = 1ull << 63;
constexpr size_t kEvents = size_t(1) << 21;
Event g_events[kEvents];
size_t g_used = 0;
size_t g_dropped = 0;
int g_depth = 0;
DWORD g_thread = 0;
LARGE_INTEGER g_qpcStart;
unsigned long long g_tscStart = 0;

NOT_TIMED void Note(void* fn, unsigned long long exitBit) {
    const unsigned long long now = __rdtsc();
    if (g_used == kEvents) {
        ++g_dropped;
        return;
    }
    const ULONG_PTR rva = reinterpret_cast<ULONG_PTR>(fn) - reinterpret_cast<ULONG_PTR>(&__ImageBase);
    g_events[g_used++] = {rva | exitBit, now};
}

extern "C" void __cyg_profile_func_enter(void* fn, void*);
extern "C" void __cyg_profile_func_exit(void* fn, void*);

// What one noted call (its entry and exit hooks) costs, so that the report
// can take it out of the callers' own time. One level down, so no dump.
NOT_TIMED double TicksPerCall() {
    const size_t mark = g_used;
    const int depth = g_depth;
    g_depth = 1;
    const unsigned long long t0 = __rdtsc();
    for (int i = 0; i < 1000; ++i) {
        g_used = mark;
        __cyg_profile_func_enter(reinterpret_cast<void*>(&TicksPerCall), nullptr);
        __cyg_profile_func_exit(reinterpret_cast<void*>(&TicksPerCall), nullptr);
    }
    const unsigned long long t1 = __rdtsc();
    g_used = mark;
    g_depth = depth;
    return static_cast<double>(t1 - t0) / 1000.0;
}

NOT_TIMED void Dump() {
    LARGE_INTEGER qpcEnd, frequency;
    QueryPerformanceCounter(&qpcEnd);
    const unsigned long long tscEnd = __rdtsc();
    QueryPerformanceFrequency(&frequency);
    FILE* out = _wfopen(L"C:\\tamber-steps.bin", L"ab");
    if (!out) return;
    // The counters at the call's start and end give the ticks per millisecond.
    struct Header {
        char magic[4];
        unsigned pid;
        double qpcMs, tscTicks, ticksPerCall;
        unsigned long long dropped, count;
    } header = {{'T', 'S', 'T', '1'},
                static_cast<unsigned>(GetCurrentProcessId()),
                static_cast<double>(qpcEnd.QuadPart - g_qpcStart.QuadPart) * 1000.0 /
                    static_cast<double>(frequency.QuadPart),
                static_cast<double>(tscEnd - g_tscStart),
                TicksPerCall(),
                g_dropped,
                g_used};
    fwrite(&header, sizeof header, 1, out);
    fwrite(g_events, sizeof g_events[0], g_used, out);
    fclose(out);
    g_used = 0;
    g_dropped = 0;
}

}  // namespace

extern "C" NOT_TIMED void __cyg_profile_func_enter(void* fn, void*) {
    if (g_depth == 0) {
        g_thread = GetCurrentThreadId();
        QueryPerformanceCounter(&g_qpcStart);
        g_tscStart = __rdtsc();
    } else if (GetCurrentThreadId() != g_thread) {
        return;  // another thread's calls (a message callback) are not followed
    }
    ++g_depth;
    Note(fn, 0);
}

extern "C" NOT_TIMED void __cyg_profile_func_exit(void* fn, void*) {
    if (g_depth == 0 || GetCurrentThreadId() != g_thread) return;
    Note(fn, kExit);
    if (--g_depth == 0) Dump();
}
