#include "animation.h"

#include <math.h>

uint32_t LastTick;
double ElapsedMs;
float BackgroundDepth;
float BackgroundLift;
int BackgroundDirection = 1;
float ArrowAngle;
float ScrollOffset;
float WavePhase;


void ResetAnimation() {
    ElapsedMs = 0;
    BackgroundDepth = 0;
    BackgroundLift = 0;
    BackgroundDirection = 1;
    ArrowAngle = 0;
    ScrollOffset = 0;
    WavePhase = 0;
}

void StartAnimationClock(uint32_t now) { LastTick = now; }

float AdvanceClock(uint32_t now) {
    ElapsedMs = (double)(uint32_t)(now - LastTick);
    LastTick = now;
    return (float)ElapsedMs;
}

void StepBackground(float dt, int jobRunning) {
    if (jobRunning != 1) {
        return;
    }
    if (BackgroundDirection == 1 && BackgroundDepth <= 2.9f) {
        BackgroundLift += 0.00005f * dt;
        BackgroundDepth += 0.0001f * dt;
        return;
    }
    BackgroundDirection = 0;
    if (BackgroundDepth >= 0) {
        BackgroundLift -= 0.00005f * dt;
        BackgroundDepth -= 0.0001f * dt;
    } else {
        BackgroundDirection = 1;
    }
}

void StepArrow(float dt) {
    ArrowAngle += 0.1f * dt;
    if (ArrowAngle >= 360) {
        ArrowAngle -= 360;
    }
}

void StepScroller(float dt) {
    ScrollOffset += dt / 1000;
    if (ScrollOffset >= 89) {
        ScrollOffset = 0;
    }
    WavePhase += dt / 700;
    if (WavePhase >= 360) {
        WavePhase -= 360;
    }
}

float ScrollerX(int copy) { return 6 - ScrollOffset - copy / 25.0f; }

float ScrollerY(int copy) {
    return (float)(-4.3f - fabs(sin(0.125f * copy + WavePhase)) / 1.3f);
}
