// Puts one language's four texts on the prompt.
#pragma once

#include <windows.h>

#include <cstdint>

// 1 French, 2 German, any other index English. Changes nothing but the texts.
void applyLanguage(HWND dialog, int32_t index);
