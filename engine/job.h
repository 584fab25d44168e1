// One extraction: from the three folder paths to the finished mod folder.
#pragma once

#include <atomic>
#include <stddef.h>
#include <stdint.h>

#include "exclusions.h"
#include "jobstate.h"
#include "problems.h"
#include "report.h"

// What a user interface hands one job. Made on the heap by the front end;
// the job reads it once at its start and frees it (with free()).
struct JobParameters {
    void* mainWindow;                 // receives the status reports
    void* createModButton;            // disabled while the job runs
    void* progressBar;                // receives range and position
    std::atomic<int32_t>* jobRunning; // set to 1 while the job runs; may be null
    void* instance;                   // unused by the job
    const char* originalPath;         // backup of the untouched tree
    const char* moddedPath;           // the tree with the mods installed
    const char* destinationPath;      // the mod lands in its "Data" folder
    const ReportOps* report;          // how the user interface takes the reports; may be null
    JobResult* result;                // where the job leaves its findings; may be null
    int dryRun;                       // 1: decide what to copy, write nothing
    unsigned comparers;               // reads in flight while comparing; 0: the default, 1: one at a time
    const ExclusionList* exclusions;  // what to leave out of both trees; may be null. The
                                      // caller keeps it unchanged until the job returns.
};

// Runs one whole extraction on the calling thread and returns 1. Takes over
// `parameters` (a JobParameters made with malloc). Every phase runs to its
// end whatever the file system answers; what failed is in the result.
// Front ends check the folders with CheckJobFolders first.
uint32_t ExtractionJob(void* parameters);
