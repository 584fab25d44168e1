#include "frameloop.h"

#include <math.h>

double FrameInterval(int refreshHz, bool softwareRenderer) {
    if (refreshHz <= 1) refreshHz = DEFAULT_REFRESH_HZ;
    double interval = 1000.0 / refreshHz;
    double software = 1000.0 / SOFTWARE_FRAMES_PER_SECOND;
    return softwareRenderer && software > interval ? software : interval;
}

uint32_t TimeToNextFrame(const FramePace* pace, double now) {
    if (now >= pace->due) return 0;
    return (uint32_t)ceil(pace->due - now);
}

// From the frame's start, not from when it was due: after a pause, a late
// frame or a message that took long, frames do not come faster to catch up.
void NoteFrameStarted(FramePace* pace, double now) {
    pace->due = now + pace->interval;
}

void RunFrameLoop(const LoopCalls* calls, FramePace* pace, const int* quit) {
    while (*quit == 0) {
        if (calls->handleMessage()) continue;
        if (calls->hidden()) {
            calls->waitForMessage(WAIT_FOREVER);
            continue;
        }
        double now = calls->now();
        uint32_t wait = TimeToNextFrame(pace, now);
        if (wait > 0) {
            calls->waitForMessage(wait);
            continue;
        }
        NoteFrameStarted(pace, now);
        calls->drawFrame();
    }
}
