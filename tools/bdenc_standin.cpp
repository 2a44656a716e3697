// Test stand-in for the old encryption agent: a top-level window that
// listens for the registered "kill-bdenc" message, as the agent did, and
// records each one it receives as a line "kill-bdenc WPARAM LPARAM" in
// C:\tamber_bdenc.txt before it quits. It gives up after two minutes, so a
// test that never sends the message cannot leave it behind.
#include <windows.h>

#include <cstdio>

namespace {

UINT g_kill = 0;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == g_kill && g_kill != 0) {
        if (FILE* f = fopen("C:\\tamber_bdenc.txt", "a")) {
            fprintf(f, "kill-bdenc %lu %ld\n", static_cast<unsigned long>(wParam), static_cast<long>(lParam));
            fclose(f);
        }
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int wmain() {
    g_kill = RegisterWindowMessageW(L"kill-bdenc");
    WNDCLASSW cls = {};
    cls.lpfnWndProc = WindowProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"TamberBdEncStandIn";
    if (!RegisterClassW(&cls)) return 1;
    HWND window = CreateWindowW(cls.lpszClassName, L"bdenc stand-in", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                nullptr, cls.hInstance, nullptr);
    if (!window) return 1;
    // Ready: the test waits for this file before it starts the upgrade.
    if (FILE* f = fopen("C:\\tamber_bdenc_ready.txt", "w")) fclose(f);
    SetTimer(window, 1, 120000, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER) break;
        DispatchMessageW(&msg);
    }
    DestroyWindow(window);
    return 0;
}
