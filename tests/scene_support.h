// Helpers of the scene's tests under Wine: a window like the program's, frames
// read back from the surface, and where scene points land on it.
#pragma once

#include <windows.h>

#include <GL/gl.h>
#include <stdint.h>

#include <vector>

// Creates a main window and an OpenGL child laid out as the program does,
// shows them and sets the program-wide window state. Once per process.
void MakeProgramWindows();

// MakeProgramWindows, then SetUpSurface. Once per process.
void SetUpScene();

// One frame as read back, bottom row first (OpenGL's order).
struct Frame {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* At(int x, int y) const { return &rgb[((size_t)y * width + x) * 3]; }
};

// Draws one frame from the current animation state (with a clock step of a
// few ms at most) and reads the shown picture back.
Frame DrawAndRead();

// Writes `frame` as NAME.bmp into the build tree's scene-frames folder.
void SaveFrame(const Frame& frame, const char* name);

// Window pixel (x from the left, y from the bottom) of scene point (x, y, z)
// under the frame's fixed camera.
struct Spot {
    double x, y;
};
Spot Project(double x, double y, double z);

// Pixels of `frame` within `tolerance` of colour (r, g, b) inside the box
// [x0, x1) x [y0, y1), clipped to the frame; with their bounding box.
struct Ink {
    int count = 0;
    int left = 1 << 30, right = -1, bottom = 1 << 30, top = -1;
};
Ink FindColour(const Frame& frame, int x0, int y0, int x1, int y1, int r, int g, int b,
               int tolerance);
// Pixels that differ between two frames by more than `tolerance` in a channel.
Ink FindChange(const Frame& a, const Frame& b, int x0, int y0, int x1, int y1, int tolerance);
