#include "dialogPromptWindow.h"

#include "../startup/processValues.h"
#include "resource.h"

namespace {

void hidePrompt() { ShowWindow(promptDialogHandle, SW_HIDE); }

// Never activates: the user's own window keeps the keyboard.
void showPromptInactive() { ShowWindow(promptDialogHandle, SW_SHOWNA); }

void disablePostponeButton()
{
    EnableWindow(GetDlgItem(promptDialogHandle, IDC_RESTART_LATER), FALSE);
}

bool armPostponeTimer(uint32_t periodMs)
{
    return SetTimer(promptDialogHandle, IDT_POSTPONE, periodMs, nullptr) != 0;
}

void killPostponeTimer() { KillTimer(promptDialogHandle, IDT_POSTPONE); }

} // namespace

const PromptWindow dialogPromptWindow = {
    hidePrompt, showPromptInactive, disablePostponeButton, armPostponeTimer, killPostponeTimer,
};
