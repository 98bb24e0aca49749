// What the postponement policy needs from the window side. A record of plain
// operations, so that the policy runs against the real dialog or against a
// recorder in the tests.
#pragma once

#include <cstdint>

struct PromptWindow {
    void (*hidePrompt)();
    void (*showPromptInactive)();
    void (*disablePostponeButton)();
    // Arms (or re-arms) the postponement timer; false when the platform
    // refused, so that the prompt is never hidden with nothing to bring it back.
    bool (*armPostponeTimer)(uint32_t periodMs);
    void (*killPostponeTimer)();
};
