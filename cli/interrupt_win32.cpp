// Interruptions on Windows: the console calls its handler on a thread of
// its own for each event, so a second Ctrl-C comes through while the job
// is still stopping.
#include "interrupt.h"

#include <windows.h>

#include <atomic>
#include <mutex>

#include "jobstop.h"

static std::atomic<int> Caught{0};
// Held while an interruption is taken or forgotten, so that the exit
// status and the job's stop always agree.
static std::mutex Taking;

static BOOL WINAPI OnConsoleEvent(DWORD event) {
    int status;
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) status = 130;
    else if (event == CTRL_CLOSE_EVENT) status = 143;
    else return FALSE;
    {
        std::lock_guard<std::mutex> hold(Taking);
        if (Caught.exchange(status) != 0) ExitProcess((UINT)status);  // asked twice: no more waiting
        StopJob();
    }
    // For a closed console Windows ends the process once this returns: the
    // copies in flight remove their temporary files first. Ctrl-C and
    // Ctrl-Break leave the job to end on its own.
    if (event == CTRL_CLOSE_EVENT) AbandonJob();
    return TRUE;
}

void WatchInterrupts() {
    static std::atomic<bool> started{false};
    if (!started.exchange(true)) SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    std::lock_guard<std::mutex> hold(Taking);
    Caught.store(0);
    ClearJobStop();
}

int InterruptExitStatus() {
    return Caught.load();
}
