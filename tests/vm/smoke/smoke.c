/* Smallest 32-bit GUI program that proves the test VM's chain: a window,
 * a timer, and the shutdown request whose call Wine traces. */
#include <windows.h>

#define IDT_SMOKE 1

static LRESULT CALLBACK smokeWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_TIMER:
        KillTimer(hwnd, IDT_SMOKE);
        /* Wine only traces this call; a real system would restart. */
        InitiateSystemShutdownExW(NULL, L"x", 0, TRUE, TRUE, 0x80020003);
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE prev, LPSTR cmdLine, int show)
{
    WNDCLASSW wc = {0};
    HWND hwnd;
    MSG msg;

    (void)prev;
    (void)cmdLine;
    wc.lpfnWndProc = smokeWndProc;
    wc.hInstance = instance;
    wc.lpszClassName = L"SmokeWindow";
    if (!RegisterClassW(&wc))
        return 1;
    hwnd = CreateWindowW(L"SmokeWindow", L"smoke", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                         NULL, NULL, instance, NULL);
    if (!hwnd)
        return 2;
    ShowWindow(hwnd, show);
    if (!SetTimer(hwnd, IDT_SMOKE, 200, NULL))
        return 3;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return (int)msg.wParam;
}
