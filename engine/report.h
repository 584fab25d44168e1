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

// What a tree holds at its top: its folders and files there, and the
// first few of their names (folders first, each kind by name bytes).
enum { TOP_NAMES_SHOWN = 3 };
struct TreeTop {
    uint32_t folders;
    uint32_t files;
    const char* names[TOP_NAMES_SHOWN];  // UTF-8 on every platform; valid during the question only
    uint32_t named;
};

// The question a job asks before a likely mistake, once, after both trees
// are indexed and before anything is compared or written: the two trees
// share few relative paths (fewer than a tenth of the original's files
// have a modded file at their path, or none do), the usual sign of a
// folder chosen one level above or below the tree it should be.
struct JobQuestion {
    uint32_t originalFiles;
    uint32_t moddedFiles;
    uint32_t sharedFiles;  // modded files with an original at their relative path
    TreeTop tops[2];       // the original's and the modded folder's
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
    // Asks the user whether the job goes on (nonzero) or stops (0) before
    // a likely mistake; synchronous like the rest. A job told to stop
    // ends as a stopped job does, having written nothing. May be null: the
    // job goes on without asking.
    int (*askQuestion)(void* mainWindow, const JobQuestion* question);
};
