// One extraction through the real window, as a player starts it: the three
// folders set, Create MOD pressed, the job on its worker thread reporting
// to the controls while the GUI thread runs the message loop and draws.
//
//   windowjob [--busy-ms N] ORIGINAL MODDED DESTINATION
//
// Prints the job's time from the press to the window taking in its end.
// --busy-ms makes every idle pass also work N milliseconds, to stand in
// for frames that the scene does not draw yet (default 0). Boxes the
// window would show are printed on standard error instead.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "appstate.h"
#include "display.h"
#include "mainwindow.h"
#include "program.h"
#include "services.h"

static double BusySeconds;
static LARGE_INTEGER Frequency, Pressed, Finished;
static int Frames;

static double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    return (double)(to.QuadPart - from.QuadPart) / (double)Frequency.QuadPart;
}

static void Idle() {
    LARGE_INTEGER start, now;
    QueryPerformanceCounter(&start);
    do QueryPerformanceCounter(&now);
    while (Seconds(start, now) < BusySeconds);
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
    int first = 1;
    if (argc > 2 && strcmp(argv[1], "--busy-ms") == 0) {
        BusySeconds = atof(argv[2]) / 1000.0;
        first = 3;
    }
    if (argc - first != 3) {
        fprintf(stderr, "usage: windowjob [--busy-ms N] ORIGINAL MODDED DESTINATION\n");
        return 2;
    }
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
    printf("job %.3f s, %d idle passes (%.0f per second)\n", seconds, Frames, Frames / seconds);
    return 0;
}
