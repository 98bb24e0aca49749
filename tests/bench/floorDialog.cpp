// The floor of any dialog program: one dialog from a template, shown, and a
// message loop. The start-up clock measures the prompt against it.
#include <windows.h>

namespace {

INT_PTR CALLBACK floorDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    HWND dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(129), nullptr, floorDialogProc, 0);
    if (dialog == nullptr)
        return 1;
    ShowWindow(dialog, SW_SHOWNA);
    UpdateWindow(dialog);

    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
