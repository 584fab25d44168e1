// The message loop's pacing of frames on a clock, a queue and a swap of the
// test's own: no real time passes.
#include <gtest/gtest.h>

#include <vector>

#include "animation.h"
#include "frameloop.h"

namespace {

enum Event { MINIMIZE, RESTORE, OTHER };

struct Arrival {
    double at;
    Event event;
};

// The fake world: time moves only in waits and frames.
struct World {
    double now = 0;
    double frameCost = 0;  // the swap returns at once, after this much drawing
    double end = 1000;     // the loop is told to quit once the clock passes it
    bool minimized = false;
    int quit = 0;
    std::vector<Arrival> arrivals;  // in time order
    size_t next = 0;                // first arrival not handled yet
    std::vector<double> frames;     // when each frame started
    std::vector<float> steps;       // each frame's animation step
    std::vector<double> handled;    // when each message was handled
    int waits = 0;
};

World* Now;

void QuitWhenOver() {
    if (Now->now >= Now->end) Now->quit = 1;
}

bool FakeHandle() {
    World* w = Now;
    if (w->next == w->arrivals.size() || w->arrivals[w->next].at > w->now) return false;
    Event event = w->arrivals[w->next++].event;
    if (event == MINIMIZE) w->minimized = true;
    if (event == RESTORE) w->minimized = false;
    w->handled.push_back(w->now);
    return true;
}

bool FakeHidden() { return Now->minimized; }
double FakeNow() { return Now->now; }

void FakeWait(uint32_t milliseconds) {
    World* w = Now;
    ++w->waits;
    double until = milliseconds == WAIT_FOREVER ? w->end : w->now + milliseconds;
    if (w->next < w->arrivals.size() && w->arrivals[w->next].at < until) until = w->arrivals[w->next].at;
    if (until > w->now) w->now = until;
    QuitWhenOver();
}

void FakeDraw() {
    World* w = Now;
    w->frames.push_back(w->now);
    w->steps.push_back(AdvanceClock((uint32_t)w->now));
    w->now += w->frameCost;
    QuitWhenOver();
}

const LoopCalls FAKE_CALLS = {FakeHandle, FakeHidden, FakeNow, FakeWait, FakeDraw};

void RunLoop(World* world, double interval) {
    Now = world;
    StartAnimationClock((uint32_t)world->now);
    FramePace pace = {interval, 0};
    RunFrameLoop(&FAKE_CALLS, &pace, &world->quit);
}

TEST(FrameLoop, IntervalIsOneRefreshAndAtLeastTheSoftwareFrameOnASoftwareRenderer) {
    struct Case {
        int hz;
        bool software;
        double interval;
    } cases[] = {
        {60, false, 1000.0 / 60}, {0, false, 1000.0 / 60}, {1, false, 1000.0 / 60},  // rate unknown
        {144, false, 1000.0 / 144}, {60, true, 40}, {144, true, 40},
        {20, true, 50},  // a display slower than the software rate keeps its own
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(FrameInterval(c.hz, c.software), c.interval) << c.hz << " Hz, software " << c.software;
    }
}

TEST(FrameLoop, FramesNeverComeFasterThanTheIntervalWhateverAFrameCosts) {
    for (double cost : {0.0, 11.0, 39.5, 55.0}) {
        World world;
        world.frameCost = cost;
        RunLoop(&world, 40);
        ASSERT_GE(world.frames.size(), 10u) << "cost " << cost;
        EXPECT_EQ(world.frames[0], 0) << "the first pass draws at once";
        for (size_t i = 1; i < world.frames.size(); ++i) {
            double gap = world.frames[i] - world.frames[i - 1];
            EXPECT_GE(gap, 40) << "cost " << cost << ", frame " << i;
            EXPECT_LE(gap, cost > 40 ? cost : 41) << "cost " << cost << ", frame " << i;  // and no slower
        }
    }
}

TEST(FrameLoop, MinimizedWindowDrawsNoFrameAndTheRestoredOneDrawsAtOnceWithTheWholePause) {
    World world;
    world.frameCost = 11;
    world.end = 5300;
    world.arrivals = {{100, MINIMIZE}, {5100, RESTORE}};
    RunLoop(&world, 40);
    size_t before = 0;
    while (before < world.frames.size() && world.frames[before] < 100) ++before;
    ASSERT_GT(before, 0u);
    ASSERT_LT(before, world.frames.size()) << "no frame after the restore";
    EXPECT_EQ(world.frames[before], 5100) << "a frame drawn while minimized, or none at the restore";
    EXPECT_EQ(world.steps[before], (float)(5100 - world.frames[before - 1])) << "the scene skips the pause";
    // Minimized, one wait without a time limit: no frames, no polling.
    World counted;
    counted.end = 5000;
    counted.arrivals = {{0, MINIMIZE}};
    RunLoop(&counted, 40);
    EXPECT_TRUE(counted.frames.empty());
    EXPECT_EQ(counted.waits, 1);
}

TEST(FrameLoop, MessageArrivingDuringAPacedWaitIsHandledAtOnceAndTheFrameStaysDue) {
    World world;
    world.frameCost = 11;
    world.end = 100;
    world.arrivals = {{7, OTHER}, {19.5, OTHER}, {40, OTHER}};
    RunLoop(&world, 40);
    ASSERT_EQ(world.handled.size(), 3u);
    EXPECT_EQ(world.handled[0], 11) << "the first came while the first frame drew";
    EXPECT_EQ(world.handled[1], 19.5);
    EXPECT_EQ(world.handled[2], 40) << "handled before the frame due at the same time";
    ASSERT_GE(world.frames.size(), 3u);
    EXPECT_EQ(world.frames[1], 40);
    EXPECT_EQ(world.frames[2], 80);
}

TEST(FrameLoop, TimeToNextFrameRoundsUpSoAFrameIsNeverEarly) {
    FramePace pace = {40, 0};
    NoteFrameStarted(&pace, 10);
    EXPECT_EQ(TimeToNextFrame(&pace, 10), 40u);
    EXPECT_EQ(TimeToNextFrame(&pace, 49.25), 1u);
    EXPECT_EQ(TimeToNextFrame(&pace, 50), 0u);
    EXPECT_EQ(TimeToNextFrame(&pace, 900), 0u);
}

}  // namespace
