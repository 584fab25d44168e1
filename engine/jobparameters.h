// What a front end hands one job: the record of its folders, its user
// interface and its options, and the limits of those options.
#pragma once

#include <atomic>
#include <stdint.h>

#include "exclusions.h"
#include "jobresult.h"
#include "report.h"

struct DestinationHold;

// Pairs of files compared at once (`comparers`): the default, enough to
// keep a solid-state or virtual disk busy, few enough that the pairs'
// reads do not crowd out the copiers; and the most a job takes. 1 is one
// read in flight, for a spinning disk.
enum { DEFAULT_COMPARERS = 4, MAX_COMPARERS = 8 };

// What a user interface hands one job. Made on the heap by the front end;
// the job reads it once at its start and frees it (with free()). One that
// is not handed to a job goes through DiscardJobParameters (job.h).
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
    DestinationHold* destinationHold; // PrepareJob's for a job that writes (destinationhold.h), which
                                      // the job releases at its end; may be null
};
