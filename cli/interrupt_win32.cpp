// Interruptions on Windows: the console calls its handler on a thread of
// its own, where stopping the job may simply wait for the copies in flight.
#include "interrupt.h"

#include <windows.h>

#include <atomic>

#include "job.h"

static std::atomic<int> Caught{0};

static BOOL WINAPI OnConsoleEvent(DWORD event) {
    int status;
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) status = 130;
    else if (event == CTRL_CLOSE_EVENT) status = 143;
    else return FALSE;
    if (Caught.exchange(status) != 0) ExitProcess((UINT)status);  // asked twice: no more waiting
    // For a closed console Windows ends the process once this returns; the
    // copies in flight have removed their temporary files by then.
    AbandonJob();
    return TRUE;
}

void WatchInterrupts() {
    static std::atomic<bool> started{false};
    if (!started.exchange(true)) SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    Caught.store(0);
}

int InterruptExitStatus() {
    return Caught.load();
}
