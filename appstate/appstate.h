// The program-wide state that the window, its controls and the scene share.
// Everything here is written on the GUI thread only, except JobRunning,
// which the extraction job writes while the renderer reads it.
#pragma once

#include <windows.h>

#include <atomic>
#include <stdint.h>

// The program's instance, kept at entry: window classes, controls, resources.
extern HINSTANCE Instance;

// The main window ("ClassePrincipale") and the OpenGL child ("Ogl32").
extern HWND MainWindow;
extern HWND SurfaceWindow;

// Size of the OpenGL child in pixels (W by H), computed once at start-up
// from the main window's border widths and the caption height.
extern int SurfaceWidth;
extern int SurfaceHeight;

// The display status 0 to 5 (see report.h's STATUS_* values); set only by the
// main window procedure when a status message arrives.
extern int StatusCode;

// 1 once the readiness rule has enabled Create MOD, 0 after a choice ended empty.
extern int FoldersReady;

// 1 while an extraction job runs; written by the job, read by every frame.
extern std::atomic<int32_t> JobRunning;

// Set to 1 by the main window's destroy handling; ends the message loop.
extern int QuitFlag;
