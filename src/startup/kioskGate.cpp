#include "kioskGate.h"

#include <cstring>

#include "kioskGroup.h"
#include "patchingGroupProbe.h"

bool isKioskMachine(char (&workBuffer)[workBufferSize])
{
    // Cleared, so that a value shorter than the prefix and without its zero
    // never compares against bytes the read did not write.
    std::memset(workBuffer, 0, workBufferSize);
    DWORD size = probeOfferSize;
    return probePatchingGroup(workBuffer, &size) == ProbeResult::Ok && isKioskGroup(workBuffer);
}
