// The main window ("ClassePrincipale"): its controls, the readiness rule,
// starting a job, the help box and the tear-down. The folder browser
// behind the BROWSE buttons is in folderchoice.h.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include "platform.h"

enum { FOLDER_PATH_SIZE = MAX_PATH };  // 259 characters and the NUL
enum { JOB_PATH_SIZE = PATH_BUFFER_SIZE };  // as long as the engine's paths

// The chosen folders, as the folder browser gave them in the code page;
// empty when none.
extern char OriginalPath[FOLDER_PATH_SIZE];
extern char ModdedPath[FOLDER_PATH_SIZE];
extern char DestinationPath[FOLDER_PATH_SIZE];
// The same folders exactly, in UTF-8, from the browser's wide call: what
// the fields show (they are wide), what the pairwise test compares, and
// what the folder check and the job get. Empty whenever the matching path above
// is, or when the wide call gives none.
extern char OriginalJobPath[JOB_PATH_SIZE];
extern char ModdedJobPath[JOB_PATH_SIZE];
extern char DestinationJobPath[JOB_PATH_SIZE];
// 1 when the matching path is non-empty after a browse.
extern int OriginalChosen;
extern int ModdedChosen;
extern int DestinationChosen;

// The controls, made at creation; all have the identifier 0.
extern HWND OriginalField, ModdedField, DestinationField;
extern HWND OriginalBrowse, ModdedBrowse, DestinationBrowse;
extern HWND CreateModButton;
extern HWND ProgressBar;
// The word at a job's end: a wide static text below Create MOD, hidden but
// between the end of a job that needed no box and the next command.
extern HWND JobWord;

// The main window's information record, filled at creation: its border
// widths size the path fields and the OpenGL surface.
extern WINDOWINFO MainWindowInfo;

// 1 from the start of a job's thread until the main window has taken the
// job's end (MSG_JOB_FINISHED): while it is 1, Create MOD starts nothing.
// Read and written on the GUI thread only.
extern int JobStarted;

// The code the message loop returns: the one given with the quit message.
extern int QuitCode;

// The window procedure of "ClassePrincipale". Handles creation, the
// commands, help, the status messages, the job's end and the tear-down;
// everything else goes to DefWindowProcA.
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
