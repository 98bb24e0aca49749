#include "processValues.h"

LaunchSettings launchSettings = {defaultDelayMs, defaultPostponeLimit, 1};
HINSTANCE moduleInstance = nullptr;
HWND promptDialogHandle = nullptr;
