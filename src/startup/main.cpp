// The whole life of one run: kiosk gate, options, the prompt, the message loop.
#include <windows.h>

#include "../prompt/dialogPromptWindow.h"
#include "../prompt/postponementPolicy.h"
#include "../prompt/promptDialog.h"
#include "kioskGate.h"
#include "launchOptions.h"
#include "processValues.h"
#include "resource.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showCommand)
{
    char workBuffer[workBufferSize];
    if (isKioskMachine(workBuffer))
        return 0;

    parseLaunchOptions(commandLine, launchSettings);

    // Stored first: the dialog's initialisation already loads the texts.
    moduleInstance = instance;
    HWND dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_RESTART_PROMPT), nullptr,
                                     promptDialogProc, 0);
    if (dialog == nullptr)
        return 0;
    promptDialogHandle = dialog;

    // Comes into view over the user's work without taking the keyboard.
    ShowWindow(dialog, showCommand != 0 ? SW_SHOWNA : SW_HIDE);
    UpdateWindow(dialog);
    applyZeroValueRules(launchSettings, dialogPromptWindow);

    // No IsDialogMessageW: the prompt is worked with the mouse alone.
    MSG message = {};
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // GetMessageW fails (-1) only on bad arguments; never loop on it.
    return got == 0 ? static_cast<int>(message.wParam) : 0;
}
