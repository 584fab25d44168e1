// One extraction through the real window, as a player starts it: the three
// folders set, Create MOD pressed, the job on its worker thread reporting
// to the controls while the GUI thread runs the message loop and draws.
//
//   windowjob ORIGINAL MODDED DESTINATION
//
// Prints the job's time from the press to the window taking in its end,
// and the frames drawn meanwhile. Boxes the window would show are printed
// on standard error instead.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "appstate.h"
#include "display.h"
#include "mainwindow.h"
#include "program.h"
#include "services.h"

static LARGE_INTEGER Frequency, Pressed, Finished;
static int Frames;

static double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    return (double)(to.QuadPart - from.QuadPart) / (double)Frequency.QuadPart;
}

static void Idle() {
    DrawFrame();
    ++Frames;
    if (Pressed.QuadPart && !Finished.QuadPart && !JobStarted) {
        QueryPerformanceCounter(&Finished);
        DestroyWindow(MainWindow);
    }
}

static int WINAPI PrintBox(HWND, LPCSTR text, LPCSTR caption, UINT) {
    fprintf(stderr, "windowjob: box \"%s\": %s\n", caption ? caption : "", text ? text : "");
    return IDOK;
}

static int WINAPI PrintWideBox(HWND, LPCWSTR text, LPCWSTR caption, UINT) {
    fwprintf(stderr, L"windowjob: box \"%ls\": %ls\n", caption ? caption : L"", text ? text : L"");
    return IDOK;
}

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: windowjob ORIGINAL MODDED DESTINATION\n");
        return 2;
    }
    const int first = 1;
    QueryPerformanceFrequency(&Frequency);
    Services.messageBox = PrintBox;
    Services.messageBoxW = PrintWideBox;
    if (!RegisterWindowClasses(GetModuleHandleA(NULL)) || !CreateWindows()) return 1;
    SetUpSurface();
    ShowWindow(MainWindow, SW_SHOWDEFAULT);
    ShowWindow(SurfaceWindow, SW_SHOWDEFAULT);
    StartClock();

    char* paths[3] = {OriginalPath, ModdedPath, DestinationPath};
    char* jobPaths[3] = {OriginalJobPath, ModdedJobPath, DestinationJobPath};
    int* chosen[3] = {&OriginalChosen, &ModdedChosen, &DestinationChosen};
    for (int i = 0; i < 3; ++i) {
        // The benchmark's folders are plain ASCII: the same in both forms.
        snprintf(paths[i], FOLDER_PATH_SIZE, "%s", argv[first + i]);
        snprintf(jobPaths[i], JOB_PATH_SIZE, "%s", argv[first + i]);
        *chosen[i] = 1;
    }
    // The press goes through the queue, as a click would.
    PostMessageA(MainWindow, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), (LPARAM)CreateModButton);
    QueryPerformanceCounter(&Pressed);
    RunMessageLoop(Idle);
    if (!Finished.QuadPart) {
        fprintf(stderr, "windowjob: the job did not run\n");
        return 1;
    }
    double seconds = Seconds(Pressed, Finished);
    printf("job %.3f s, %d frames (%.0f per second)\n", seconds, Frames, Frames / seconds);
    return 0;
}
