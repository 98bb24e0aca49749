// The settings and the counter of one run. One record per process, owned by
// the entry; the prompt's policy reads and changes it.
#pragma once

#include <cstdint>

struct LaunchSettings {
    int32_t delayMs;       // one postponement; handed to the timer with the same bits
    int32_t postponeLimit; // postponements allowed
    int32_t postponeCount; // showings so far, from 1; 999 when no postponement is allowed
};

constexpr int32_t defaultDelayMs = 1800000;
constexpr int32_t defaultPostponeLimit = 3;
