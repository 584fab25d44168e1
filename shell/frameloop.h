// The message loop's rule for frames, with no Win32 in it, so that tests
// run it on a clock, a queue and a swap of their own.
//
// A swap that returns at once (a software renderer, vertical sync off in
// the driver, a minimized or covered window) would let a loop that draws
// whenever its queue is empty spin a core or more on frames nobody sees
// better. So a frame starts at most once per FramePace interval, the wait
// between frames is a wait for messages (one that comes is handled at
// once, not after the frame's wait), and while the scene cannot be seen
// the loop only waits for messages. The scene's own clock measures the
// time between the frames it draws, so the first frame after a pause moves
// the scene by the whole pause.
#pragma once

#include <stdint.h>

// A wait with no time limit.
const uint32_t WAIT_FOREVER = 0xFFFFFFFFu;

// The display's rate when the system tells none.
const int DEFAULT_REFRESH_HZ = 60;

// Frames a second on a software renderer: its frame costs some 11 ms of
// a core, so 25 of them keep the scene near a quarter of one core while the
// motion stays smooth.
const int SOFTWARE_FRAMES_PER_SECOND = 25;

// What the loop does, each through a call of its own.
struct LoopCalls {
    // Removes and handles the oldest waiting message; false when none waits.
    bool (*handleMessage)();
    // True while nothing of the scene can be seen (the main window minimized).
    bool (*hidden)();
    // Milliseconds on a clock that never goes back.
    double (*now)();
    // Returns once a message waits, or after `milliseconds` (WAIT_FOREVER:
    // only once a message waits).
    void (*waitForMessage)(uint32_t milliseconds);
    // Draws one frame and shows it.
    void (*drawFrame)();
};

// When the next frame may start.
struct FramePace {
    double interval;  // milliseconds from one frame's start to the next's, at least
    double due;       // the next frame's earliest start on the loop's clock; 0 at first
};

// The shortest time between frames: one refresh of the display at
// `refreshHz` (0 or 1, as the system says when it does not know: 60 a
// second), and on a software renderer not less than a
// SOFTWARE_FRAMES_PER_SECOND frame.
double FrameInterval(int refreshHz, bool softwareRenderer);

// Whole milliseconds still to wait at `now` before the next frame may
// start, rounded up; 0: it may start now.
uint32_t TimeToNextFrame(const FramePace* pace, double now);

// A frame starts at `now`: the next one is due an interval later.
void NoteFrameStarted(FramePace* pace, double now);

// Runs the loop until `*quit` is not 0 (checked after every message
// handled and every wait or frame): the waiting messages first, one by
// one; with none waiting, a wait for messages while hidden, else a wait
// until the next frame is due, else that frame.
void RunFrameLoop(const LoopCalls* calls, FramePace* pace, const int* quit);
