#include "promptDialog.h"

#include <cstdint>

#include "../restart/requestRestart.h"
#include "../startup/processValues.h"
#include "applyLanguage.h"
#include "dialogPromptWindow.h"
#include "postponementPolicy.h"
#include "resource.h"

namespace {

// Each language named in itself; an entry's position is its language index.
const wchar_t *const languageNames[] = {L"English", L"Fran\u00E7ais", L"Deutsch"};

INT_PTR onCommand(HWND dialog, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case IDM_EXIT:
        DestroyWindow(dialog); // WM_DESTROY posts the quit message
        return FALSE;
    case IDC_RESTART_LATER:
        onPostponeCommand(launchSettings, dialogPromptWindow);
        return FALSE;
    case IDC_LANGUAGE:
        if (HIWORD(wParam) == CBN_SELENDOK) {
            LRESULT selection = SendMessageW(GetDlgItem(dialog, IDC_LANGUAGE), CB_GETCURSEL, 0, 0);
            applyLanguage(dialog, static_cast<int32_t>(selection));
        }
        return FALSE;
    case IDC_RESTART_NOW:
        // The run ends whether or not the system accepted the restart.
        requestRestart();
        PostQuitMessage(0);
        return FALSE;
    default:
        return DefWindowProcW(dialog, WM_COMMAND, wParam, lParam);
    }
}

} // namespace

INT_PTR CALLBACK promptDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        HWND language = GetDlgItem(dialog, IDC_LANGUAGE);
        applyLanguage(dialog, 0);
        for (const wchar_t *name : languageNames)
            SendMessageW(language, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        SendMessageW(language, CB_SETCURSEL, 0, 0);
        return TRUE; // let the dialog manager choose the focus
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return FALSE;
    case WM_CLOSE:
        // Postpones or is ignored; never destroys the prompt.
        onCloseRequest(launchSettings, dialogPromptWindow);
        return FALSE;
    case WM_TIMER:
        // Only timer 111 is ours; anything else sent from outside is ignored.
        if (wParam != IDT_POSTPONE)
            return FALSE;
        onPostponeTimer(launchSettings, dialogPromptWindow);
        return DefWindowProcW(dialog, WM_TIMER, wParam, lParam);
    case WM_COMMAND:
        return onCommand(dialog, wParam, lParam);
    default:
        return FALSE;
    }
}
