// The timer: it runs only with an interval, Enabled and a handler; every change restarts
// the period; a failing handler does not stop it; a destroyed timer never fires.
#include "nrtimer.h"
#include "testenv.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <memory>

using namespace std::chrono_literals;

TEST(Timer, RunsOnlyWithIntervalEnabledAndHandler) {
    TnrTimer timer;
    EXPECT_EQ(timer.Interval(), 1000u);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_FALSE(timer.Running()); // no handler yet
    int fired = 0;
    timer.SetOnTimer([&](QObject* sender) {
        EXPECT_EQ(sender, &timer);
        ++fired;
    });
    EXPECT_TRUE(timer.Running());
    timer.SetInterval(0);
    EXPECT_FALSE(timer.Running());
    timer.SetEnabled(false);
    timer.SetEnabled(true);
    EXPECT_FALSE(timer.Running()); // interval 0 never fires, whatever Enabled says
    ProcessEventsFor(100ms);
    EXPECT_EQ(fired, 0);
    timer.SetInterval(20);
    EXPECT_TRUE(WaitUntil([&] { return fired >= 3; }, 2s));
}

TEST(Timer, EveryChangeRestartsThePeriod) {
    TnrTimer timer;
    timer.SetInterval(200);
    QElapsedTimer clock;
    qint64 firedAt = -1;
    timer.SetOnTimer([&](QObject*) {
        if (firedAt < 0)
            firedAt = clock.elapsed();
    });
    clock.start();
    ProcessEventsFor(120ms);
    const qint64 restart = clock.elapsed();
    timer.SetEnabled(false);
    timer.SetEnabled(true);
    ASSERT_TRUE(WaitUntil([&] { return firedAt >= 0; }, 2s));
    // Without the restart it would have fired about 200 ms after the start.
    EXPECT_GE(firedAt - restart, 190);
}

TEST(Timer, SettingTheSameIntervalDoesNotRestart) {
    TnrTimer timer;
    timer.SetInterval(300);
    QElapsedTimer clock;
    qint64 firedAt = -1;
    timer.SetOnTimer([&](QObject*) {
        if (firedAt < 0)
            firedAt = clock.elapsed();
    });
    clock.start();
    ProcessEventsFor(200ms);
    timer.SetInterval(300);
    ASSERT_TRUE(WaitUntil([&] { return firedAt >= 0; }, 2s));
    // A restart would have moved the firing to about 500 ms.
    EXPECT_LT(firedAt, 450);
}

TEST(Timer, FailingHandlerDoesNotStopIt) {
    TnrTimer timer;
    timer.SetInterval(10);
    int fired = 0;
    timer.SetOnTimer([&](QObject*) {
        ++fired;
        throw std::runtime_error("handler failed");
    });
    EXPECT_TRUE(WaitUntil([&] { return fired >= 3; }, 2s));
}

TEST(Timer, DestroyedTimerNeverFires) {
    int fired = 0;
    auto timer = std::make_unique<TnrTimer>();
    timer->SetInterval(30);
    timer->SetOnTimer([&](QObject*) { ++fired; });
    ProcessEventsFor(10ms);
    timer.reset();
    ProcessEventsFor(150ms);
    EXPECT_EQ(fired, 0);
}
