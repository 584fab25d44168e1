// Helpers of the scene's tests and benchmark under Wine: a window laid out as
// the program's, frames read back from it, and where scene points land.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <functional>
#include <vector>

// Creates a main window and an OpenGL child as the program does, sets the
// program-wide window state, runs SetUpSurface, shows both windows and starts
// the clock. Once per process; later calls do nothing.
void SetUpScene();

// One frame as read back, bottom row first (OpenGL's order), RGB.
struct Frame {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* At(int x, int y) const { return &rgb[((size_t)y * width + x) * 3]; }
};

// Draws one frame from the current animation state (clock step of a few ms
// at most) and reads back the picture just shown.
Frame DrawAndRead();

// Writes `frame` as NAME.bmp into the folder SCENE_FRAMES_DIR.
void SaveFrame(const Frame& frame, const char* name);

// Window pixel (x from the left, y from the bottom) of scene point (x, y, z)
// under the frame's fixed camera and projection.
struct Spot {
    double x, y;
};
Spot Project(double x, double y, double z);

// The pixels inside the box between two spots (clipped to the frame) for
// which `match(x, y)` holds: their count and bounding box.
struct Ink {
    int count = 0;
    int left = 1 << 30, right = -1, bottom = 1 << 30, top = -1;
};
Ink Scan(const Frame& frame, Spot from, Spot to, const std::function<bool(int, int)>& match);

// Whether a pixel is within `tolerance` of `colour` in every channel.
bool Near(const uint8_t* pixel, const int colour[3], int tolerance);
