// When the prompt hides, when it comes back and when the postpone button is
// disabled. The policy keeps no state of its own: the counter lives in
// LaunchSettings, visibility, timer and button on the window side.
#include "postponementPolicy.h"

namespace {

// The timer takes the period as unsigned with the same bits: a negative
// delay becomes a very long one.
uint32_t timerPeriod(const LaunchSettings &settings)
{
    return static_cast<uint32_t>(settings.delayMs);
}

void postpone(const LaunchSettings &settings, const PromptWindow &window)
{
    // Without a timer nothing would bring the prompt back: keep it up.
    if (window.armPostponeTimer(timerPeriod(settings))) {
        window.hidePrompt();
    }
}

} // namespace

void applyZeroValueRules(LaunchSettings &settings, const PromptWindow &window)
{
    if (settings.delayMs == 0) {
        settings.delayMs = zeroDelayReplacementMs;
    }
    if (settings.postponeLimit == 0) {
        settings.postponeCount = noPostponementCount;
        window.disablePostponeButton();
    }
}

void onPostponeCommand(const LaunchSettings &settings, const PromptWindow &window)
{
    // No test of the limit: the disabled button is what stops the user.
    postpone(settings, window);
}

void onCloseRequest(const LaunchSettings &settings, const PromptWindow &window)
{
    if (settings.postponeCount > settings.postponeLimit) {
        return;
    }
    postpone(settings, window);
}

void onPostponeTimer(LaunchSettings &settings, const PromptWindow &window)
{
    // The window timer repeats; one arming is one expiry.
    window.killPostponeTimer();
    const int32_t shown = settings.postponeCount;
    // The count stops at INT32_MAX rather than wrapping to negative, which
    // would let close requests postpone again.
    if (shown < INT32_MAX) {
        settings.postponeCount = shown + 1;
    }
    // Disabled before the prompt is visible again, so it never shows a
    // usable button past the limit.
    if (shown >= settings.postponeLimit) {
        window.disablePostponeButton();
    }
    window.showPromptInactive();
}
