// The first step of a run: whether this machine is a kiosk, which gets no prompt.
#pragma once

#include <windows.h>

constexpr unsigned workBufferSize = 260;
constexpr DWORD probeOfferSize = 256; // of the work buffer, offered to the registry read

// Reads the patching group into workBuffer and compares it with the kiosk
// prefix. Any failure of the read counts as not a kiosk.
bool isKioskMachine(char (&workBuffer)[workBufferSize]);
