// When the prompt hides, when it comes back and when the postpone button is
// disabled.
#pragma once

#include "../startup/launchSettings.h"
#include "promptWindow.h"

constexpr int32_t zeroDelayReplacementMs = 5400000;
constexpr int32_t noPostponementCount = 999;

void applyZeroValueRules(LaunchSettings &settings, const PromptWindow &window);
void onPostponeCommand(const LaunchSettings &settings, const PromptWindow &window);
void onCloseRequest(const LaunchSettings &settings, const PromptWindow &window);
void onPostponeTimer(LaunchSettings &settings, const PromptWindow &window);
