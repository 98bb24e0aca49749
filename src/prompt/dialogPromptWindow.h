// The postponement policy's window operations, carried out on the prompt dialog.
#pragma once

#include "promptWindow.h"

extern const PromptWindow dialogPromptWindow;
