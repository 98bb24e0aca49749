#include "dialogPromptWindow.h"

#include "../startup/processValues.h"
#include "resource.h"

namespace {

void hidePrompt() { ShowWindow(promptDialog, SW_HIDE); }

// Never activates: the user's own window keeps the keyboard.
void showPromptInactive() { ShowWindow(promptDialog, SW_SHOWNA); }

void disablePostponeButton() { EnableWindow(GetDlgItem(promptDialog, IDC_RESTART_LATER), FALSE); }

bool armPostponeTimer(uint32_t periodMs)
{
    return SetTimer(promptDialog, IDT_POSTPONE, periodMs, nullptr) != 0;
}

void killPostponeTimer() { KillTimer(promptDialog, IDT_POSTPONE); }

} // namespace

const PromptWindow dialogPromptWindow = {
    hidePrompt, showPromptInactive, disablePostponeButton, armPostponeTimer, killPostponeTimer,
};
