// The dialog procedure of the prompt, template IDD_RESTART_PROMPT.
#pragma once

#include <windows.h>

INT_PTR CALLBACK promptDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
