// Where the window's folder fields are filled: a BROWSE click opens the
// folder browser and puts the chosen folder in its buffers (mainwindow.h's
// paths) and its field, or clears the choice and the window's readiness.
#pragma once

#include <windows.h>
#include <shlobj.h>

// One of the three folders the user chooses: its buffers and flag, its
// controls and its browser record, which is used again on every click.
struct FolderChoice {
    char* path;      // FOLDER_PATH_SIZE bytes
    char* jobPath;   // JOB_PATH_SIZE bytes
    int* chosen;
    HWND* field;
    HWND* browse;
    const char* title;
    bool ownedByWindow;  // the destination's browser is not modal to the window
    BROWSEINFOA browser;
};

// The original, modded and destination folders, in that order (a
// refusal's role indexes them).
extern FolderChoice Folders[3];

// When `control` is one of the three BROWSE buttons, runs the folder
// browser for its folder: the path in the code page and the same folder
// exactly in UTF-8 for the job, the field showing it, and the matching
// Chosen flag set. An empty result (cancelled, or a choice that is no
// folder on disk) clears the choice, disables Create MOD and takes the
// window out of readiness. Any other control is left alone.
void BrowseFolderOf(HWND control);
