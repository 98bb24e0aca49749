// Reads the machine's patching group from the registry.
#pragma once

#include <windows.h>

#include <cstdint>

enum class ProbeResult : int32_t {
    Ok = 0,          // the value's data is in the buffer
    NotFound = 1,    // no key in either view, or no value
    OpenFailed = 2,  // the key could not be opened for another reason
    QueryFailed = 3, // the value could not be read, too large included
};

// Writes at most *size bytes of the value's data to buffer, adding no zero of
// its own; *size receives what the registry reports.
ProbeResult probePatchingGroup(char *buffer, DWORD *size);
