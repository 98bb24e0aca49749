#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "prompt/postponementPolicy.h"

namespace {

// What the policy has asked of the window side. The PromptWindow operations
// are plain functions, so the recorder is file-wide and the fixture resets it.
struct Recorder {
    bool visible;
    bool armed;
    uint32_t periodMs;
    bool buttonEnabled;
    bool refuseTimer;
    std::vector<std::string> calls;
};
Recorder recorder;

void recordHide()
{
    recorder.visible = false;
    recorder.calls.push_back("hide");
}

void recordShow()
{
    recorder.visible = true;
    recorder.calls.push_back("show");
}

void recordDisable()
{
    recorder.buttonEnabled = false;
    recorder.calls.push_back("disable");
}

bool recordArm(uint32_t periodMs)
{
    recorder.calls.push_back("arm " + std::to_string(periodMs));
    if (recorder.refuseTimer) {
        return false;
    }
    // Arming an armed timer replaces it: there is still only one.
    recorder.armed = true;
    recorder.periodMs = periodMs;
    return true;
}

void recordKill()
{
    recorder.armed = false;
    recorder.calls.push_back("kill");
}

const PromptWindow recordingWindow = {recordHide, recordShow, recordDisable, recordArm, recordKill};

enum class Event { Start, Postpone, Close, Expiry };

struct Step {
    Event event;
    int32_t countAfter;
    bool buttonEnabled;
    bool visible;
    bool armed;
    std::vector<std::string> calls;
};

class PostponementPolicy : public testing::Test {
protected:
    void SetUp() override
    {
        recorder = Recorder{true, false, 0, true, false, {}};
        settings = LaunchSettings{1800000, 3, 1};
    }

    void deliver(Event event)
    {
        switch (event) {
        case Event::Start:
            applyZeroValueRules(settings, recordingWindow);
            break;
        case Event::Postpone:
            onPostponeCommand(settings, recordingWindow);
            break;
        case Event::Close:
            onCloseRequest(settings, recordingWindow);
            break;
        case Event::Expiry:
            // Only an armed timer can expire.
            ASSERT_TRUE(recorder.armed);
            onPostponeTimer(settings, recordingWindow);
            break;
        }
    }

    void run(const std::vector<Step> &steps)
    {
        for (size_t i = 0; i < steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i));
            const Step &step = steps[i];
            recorder.calls.clear();
            deliver(step.event);
            EXPECT_EQ(recorder.calls, step.calls);
            EXPECT_EQ(settings.postponeCount, step.countAfter);
            EXPECT_EQ(recorder.buttonEnabled, step.buttonEnabled);
            EXPECT_EQ(recorder.visible, step.visible);
            EXPECT_EQ(recorder.armed, step.armed);
        }
    }

    LaunchSettings settings;
};

using Calls = std::vector<std::string>;
const Calls arm30 = {"arm 1800000", "hide"};
const Calls comesBack = {"kill", "show"};
const Calls comesBackDisabled = {"kill", "disable", "show"};
const Calls nothing = {};

TEST_F(PostponementPolicy, DefaultRun)
{
    run({
        {Event::Start, 1, true, true, false, nothing},
        {Event::Postpone, 1, true, false, true, arm30},
        {Event::Expiry, 2, true, true, false, comesBack},
        {Event::Postpone, 2, true, false, true, arm30},
        {Event::Expiry, 3, true, true, false, comesBack},
        {Event::Close, 3, true, false, true, arm30},
        {Event::Expiry, 4, false, true, false, comesBackDisabled},
        {Event::Close, 4, false, true, false, nothing},
    });
    EXPECT_EQ(settings.delayMs, 1800000);
    EXPECT_EQ(settings.postponeLimit, 3);
}

TEST_F(PostponementPolicy, LimitOne)
{
    settings.postponeLimit = 1;
    run({
        {Event::Start, 1, true, true, false, nothing},
        {Event::Close, 1, true, false, true, arm30},
        {Event::Expiry, 2, false, true, false, comesBackDisabled},
        {Event::Close, 2, false, true, false, nothing},
    });
}

TEST_F(PostponementPolicy, LimitZeroAllowsNoPostponement)
{
    settings.postponeLimit = 0;
    run({
        {Event::Start, 999, false, true, false, {"disable"}},
        {Event::Close, 999, false, true, false, nothing},
        {Event::Close, 999, false, true, false, nothing},
    });
}

TEST_F(PostponementPolicy, NegativeLimitAllowsOnlyTheButton)
{
    settings.postponeLimit = -1;
    run({
        {Event::Start, 1, true, true, false, nothing},
        {Event::Close, 1, true, true, false, nothing},
        {Event::Postpone, 1, true, false, true, arm30},
        // Hidden and postponed, a close request does not restart the countdown.
        {Event::Close, 1, true, false, true, nothing},
        {Event::Expiry, 2, false, true, false, comesBackDisabled},
        {Event::Close, 2, false, true, false, nothing},
    });
}

TEST_F(PostponementPolicy, DelayPeriods)
{
    struct DelayCase {
        int32_t delayMs;
        int32_t delayAfterStart;
        uint32_t periodMs;
    };
    const DelayCase cases[] = {
        {0, 5400000, 5400000},
        {-1000, -1000, 4294966296u},
        {INT32_MIN, INT32_MIN, 2147483648u},
        {-1, -1, 4294967295u},
        {45000, 45000, 45000},
    };
    for (const DelayCase &c : cases) {
        SCOPED_TRACE(c.delayMs);
        SetUp();
        settings.delayMs = c.delayMs;
        deliver(Event::Start);
        EXPECT_EQ(settings.delayMs, c.delayAfterStart);
        deliver(Event::Postpone);
        EXPECT_TRUE(recorder.armed);
        EXPECT_EQ(recorder.periodMs, c.periodMs);
    }
}

TEST_F(PostponementPolicy, RepostponingRestartsTheOneTimer)
{
    run({
        {Event::Start, 1, true, true, false, nothing},
        {Event::Postpone, 1, true, false, true, arm30},
        {Event::Close, 1, true, false, true, arm30},
        {Event::Postpone, 1, true, false, true, arm30},
        // One expiry, one increment; nothing left armed to expire again.
        {Event::Expiry, 2, true, true, false, comesBack},
    });
}

TEST_F(PostponementPolicy, PostponeCommandWhileDisabled)
{
    settings.postponeLimit = 1;
    run({
        {Event::Start, 1, true, true, false, nothing},
        {Event::Postpone, 1, true, false, true, arm30},
        {Event::Expiry, 2, false, true, false, comesBackDisabled},
        // Sent by another program: still postpones.
        {Event::Postpone, 2, false, false, true, arm30},
        {Event::Expiry, 3, false, true, false, comesBackDisabled},
    });
}

TEST_F(PostponementPolicy, HiddenIdleStart)
{
    recorder.visible = false;
    run({
        {Event::Start, 1, true, false, false, nothing},
        {Event::Close, 1, true, false, true, arm30},
        {Event::Expiry, 2, true, true, false, comesBack},
    });
}

TEST_F(PostponementPolicy, HiddenIdleStartWithoutPostponements)
{
    recorder.visible = false;
    settings.postponeLimit = 0;
    run({
        {Event::Start, 999, false, false, false, {"disable"}},
        {Event::Close, 999, false, false, false, nothing},
        {Event::Postpone, 999, false, false, true, arm30},
        {Event::Expiry, 1000, false, true, false, comesBackDisabled},
    });
}

TEST_F(PostponementPolicy, RefusedTimerKeepsThePromptUp)
{
    recorder.refuseTimer = true;
    const Calls refused = {"arm 1800000"};
    run({
        {Event::Start, 1, true, true, false, nothing},
        {Event::Postpone, 1, true, true, false, refused},
        {Event::Close, 1, true, true, false, refused},
    });
    recorder.refuseTimer = false;
    run({
        {Event::Postpone, 1, true, false, true, arm30},
        {Event::Expiry, 2, true, true, false, comesBack},
    });
}

TEST_F(PostponementPolicy, CountStopsAtItsMaximum)
{
    settings.postponeLimit = INT32_MAX;
    settings.postponeCount = INT32_MAX - 1;
    run({
        {Event::Postpone, INT32_MAX - 1, true, false, true, arm30},
        {Event::Expiry, INT32_MAX, true, true, false, comesBack},
        {Event::Postpone, INT32_MAX, true, false, true, arm30},
        {Event::Expiry, INT32_MAX, false, true, false, comesBackDisabled},
    });

    SetUp();
    settings.postponeCount = INT32_MAX;
    run({
        {Event::Close, INT32_MAX, true, true, false, nothing},
        {Event::Postpone, INT32_MAX, true, false, true, arm30},
        {Event::Expiry, INT32_MAX, false, true, false, comesBackDisabled},
        {Event::Close, INT32_MAX, false, true, false, nothing},
    });
}

} // namespace
