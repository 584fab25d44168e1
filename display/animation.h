// The scene's animation state and the rules that step it from one frame to
// the next. No OpenGL and no Win32 here, so that the motion is tested on any
// platform; the renderer reads the state, draws, and calls these in its order.
#pragma once

#include <stdint.h>

// Tick count (ms) at the previous frame; set by the clock's start.
extern uint32_t LastTick;
// Milliseconds between the last two frames.
extern double ElapsedMs;
// z offset of the background (0 to 2.9, passed by at most one step at either end).
extern float BackgroundDepth;
// y offset of the background; moves at half the depth's rate.
extern float BackgroundLift;
// 1: the background moves forward and up; 0: back and down.
extern int BackgroundDirection;
// Rotation of both arrows about the x axis, in degrees.
extern float ArrowAngle;
// How far the credit line has moved left, 0 up to 89 units.
extern float ScrollOffset;
// Phase of the credit line's bounce, in radians.
extern float WavePhase;

// Number of characters of CreditText drawn per scroller copy: the whole text.
const int CREDIT_LENGTH = 224;

// Number of translucent copies of the credit line.
const int SCROLLER_COPIES = 6;

// Puts every motion back to its start value (the state a program starts
// with); LastTick is left to StartAnimationClock.
void ResetAnimation();

// Starts the clock at tick count `now`.
void StartAnimationClock(uint32_t now);

// Reads the clock at tick count `now`: ElapsedMs becomes the unsigned 32-bit
// difference to LastTick (so a wrapped counter still gives the small step),
// LastTick becomes `now`. Returns that step rounded to single precision, the
// dt that every other step takes.
float AdvanceClock(uint32_t now);

// Moves the background by one frame of `dt` ms when `jobRunning` is 1; any
// other value leaves it where it is. At the far end the frame that finds it
// past 2.9 turns and already moves back; at the near end the frame that finds
// it below 0 only turns.
void StepBackground(float dt, int jobRunning);

// Turns the arrows by 0.1 degree per ms, bringing the angle down by 360 once
// when it reaches 360. Called only on frames that draw the arrows.
void StepArrow(float dt);

// Scrolls the credit line by one unit per second (back to exactly 0 when it
// reaches 89) and advances the bounce by dt / 700 radians (less 360 once when
// it reaches 360).
void StepScroller(float dt);

// Where scroller copy `copy` (0 to 5) is drawn this frame: its translation's x
// and y, from the current ScrollOffset and WavePhase.
float ScrollerX(int copy);
float ScrollerY(int copy);
