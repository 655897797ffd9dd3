// The blink cycle of timer 2, tick by tick against a recording tray and timer host: the
// alternating phases, the balloon on the first lit phase, the re-adding after 26 more, and
// the stop once the user is back.
#include "monitor/TrayIcon.h"
#include "monitor/check/TimerHost.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sentorix::ui
{
namespace
{

class RecordingTray final : public TrayHost
{
public:
    bool available() const override { return true; }
    void addTrayIcon() override { calls.push_back("add"); }
    void updateTrayIcon(int iconId, bool balloon) override
    {
        calls.push_back(std::to_string(iconId) + (balloon ? "+balloon" : ""));
    }
    void removeTrayIcon() override { calls.push_back("remove"); }
    std::vector<std::string> calls;
};

class RecordingTimers final : public TimerHost
{
public:
    void armTimer(int id, long long) override { armed.push_back(id); }
    void stopTimer(int id) override { stopped.push_back(id); }
    std::vector<int> armed;
    std::vector<int> stopped;
};

TEST(BlinkCycle, AlternatesAndShowsTheBalloonOnceEvery27LitPhases)
{
    RecordingTray tray;
    RecordingTimers timers;
    BlinkCycle blink(tray, timers);

    std::vector<std::string> expected;
    for (int round = 0; round < 2; ++round) {
        expected.push_back("140");
        expected.push_back("162+balloon"); // counter 0
        for (int counter = 1; counter <= 25; ++counter) {
            expected.push_back("140");
            expected.push_back("162");
        }
        expected.push_back("140");
        expected.push_back("remove"); // counter 26: withdraw the balloon
        expected.push_back("add");
    }
    for (int tick = 0; tick < 2 * 54; ++tick)
        blink.tick(1);
    EXPECT_EQ(tray.calls, expected);
    EXPECT_TRUE(timers.stopped.empty());
    EXPECT_EQ(blink.counter(), 0);
    EXPECT_EQ(blink.phase(), 0);
}

TEST(BlinkCycle, StopsAtTheFirstTickAfterTheUserCameBackAndLeavesTheIcon)
{
    const struct {
        int litTicks; // ticks with trayMode 1 before the user comes back
        int phaseAfter;
    } cases[] = {{0, 0}, {1, 1}, {2, 0}, {3, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.litTicks);
        RecordingTray tray;
        RecordingTimers timers;
        BlinkCycle blink(tray, timers);
        for (int i = 0; i < c.litTicks; ++i)
            blink.tick(1);
        tray.calls.clear();
        blink.tick(0);
        EXPECT_EQ(tray.calls, (std::vector<std::string>{"162"}));
        EXPECT_EQ(timers.stopped, (std::vector<int>{kBlinkTimer}));
        EXPECT_EQ(blink.counter(), 0);
        // The phase is left as it was.
        EXPECT_EQ(blink.phase(), c.phaseAfter);
    }
}

TEST(BlinkCycle, TheBalloonComesBackOnTheFirstLitPhaseOfTheNextBlink)
{
    RecordingTray tray;
    RecordingTimers timers;
    BlinkCycle blink(tray, timers);
    blink.tick(1); // 140
    blink.tick(1); // 162 + balloon, counter 1
    blink.tick(1); // 140
    blink.tick(0); // user back: counter 0, phase stays 1
    tray.calls.clear();
    blink.tick(1); // phase 1, counter 0: lit with the balloon at once
    EXPECT_EQ(tray.calls, (std::vector<std::string>{"162+balloon"}));
}

} // namespace
} // namespace sentorix::ui
