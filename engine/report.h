// How a job tells its user interface what it is doing: a status code, a
// progress range and position, and whether the start command may be used.
// The engine knows nothing else of any user interface.
#pragma once

#include <stdint.h>

// The display status. The job reports 2, 3, 4, 5 and finally 0; 1 is the
// user interface's own ("all three folders chosen").
enum StatusCode {
    STATUS_IDLE = 0,
    STATUS_READY = 1,
    STATUS_ORIGINAL_INDEX = 2,
    STATUS_MODDED_INDEX = 3,
    STATUS_DEEP_SCAN = 4,
    STATUS_CREATING_MOD = 5,
};

// The user interface's side of the reporting operations. Each call is
// synchronous: it returns once the user interface has taken it in. They are
// made on the job's thread, with the opaque handles of JobParameters.
struct ReportOps {
    void (*reportStatus)(void* mainWindow, int statusCode);
    // The minimum is always 0; the maximum travels whole, all 32 bits.
    void (*setProgressRange)(void* progressBar, uint32_t maximum);
    void (*setProgressPosition)(void* progressBar, uint32_t position);
    void (*enableStartCommand)(void* createModButton, int enabled);
    // The files the index has found so far in the tree being indexed, now
    // and then and once at the tree's end. May be null: the window's bar
    // does not move while the trees are indexed.
    void (*reportFound)(void* progressBar, uint32_t found);
};
