// The animated scene on the OpenGL child window: set up once, then one frame
// whenever the message loop finds one due, all on the GUI thread.
#pragma once

#include <windows.h>

// Made by SetUpSurface, deleted by TearDownSurface (either may be null when
// set-up has not run or failed).
extern HFONT LabelFont;
extern HBITMAP BackgroundBitmap;

// Turns SurfaceWindow into an OpenGL surface and prepares the texture, the
// glyph lists and the arrow lists. Called once, after both windows exist and
// before they are shown. Failures are shown in message boxes; start-up goes on.
void SetUpSurface();

// Deletes what SetUpSurface made for the labels and the background (the
// font and the bitmap) and nulls them. Called when the main window goes;
// safe without a set-up and twice.
void TearDownSurface();

// Starts the animation clock. Called once, right before the message loop.
void StartClock();

// Draws one frame and swaps the buffers. Called by the message loop
// whenever a frame is due and the queue is empty.
void DrawFrame();

// True when the surface's context draws on the processor ("llvmpipe",
// "softpipe", or a name with "Software" or "GDI Generic" in it): its swap
// then paces nothing and a frame costs many milliseconds of a core. False
// without a current context.
bool SoftwareRenderer();
