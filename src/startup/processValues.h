// The values that live once per process: owned by the entry, used by the
// dialog procedure and the window side of the postponement policy.
#pragma once

#include <windows.h>

#include "launchSettings.h"

extern LaunchSettings launchSettings;
extern HINSTANCE moduleInstance;  // string table and dialog template come from here
extern HWND promptDialogHandle;   // the dialog the policy acts on
