// Whether the machine's patching group marks it as a kiosk.
#pragma once

constexpr char kioskGroupValue[] = "Tavrin_Kiosk";
constexpr unsigned kioskGroupLength = 12;

// Compares at most the first 12 bytes of `data` with kioskGroupValue,
// folding ASCII letters only. A zero byte on either side ends the comparison.
bool isKioskGroup(const char *data);
