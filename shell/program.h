// The program's entry: start-up, the message loop with its idle hook, end.
#pragma once

#include <windows.h>

// Prepares the common controls and COM and registers "ClassePrincipale"
// and "Ogl32". False, after the "erreur register class" box, when a
// registration fails (the second is then not tried).
bool RegisterWindowClasses(HINSTANCE instance);

// Creates the main window (which builds its controls), computes the
// surface size and creates the hidden OpenGL child. False, after the
// "erreur CreateWindow" box, when either creation fails.
bool CreateWindows();

// Removes and dispatches one message at a time; with the queue empty,
// calls `idle` to draw a frame once the next frame is due (frameloop.h:
// at most the display's refresh rate, less on a software renderer), else
// waits for a message till then, or with no time limit while the main
// window is minimized. Returns once the quit flag is set.
void RunMessageLoop(void (*idle)());

// The whole program: start-up, the surface, the loop with `idle` as its
// idle hook. Returns the process exit code. When a job still runs at the
// end, the process ends here, at once, with that code.
int RunProgram(HINSTANCE instance, void (*idle)());
