// One extraction: from the three folder paths to the finished mod folder.
#pragma once

#include <atomic>
#include <stddef.h>
#include <stdint.h>

#include "exclusions.h"
#include "foldercheck.h"
#include "jobstate.h"
#include "jobresult.h"
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

// The one preparation of a job, for every front end: takes the three
// folders as the user gave them (`folders`: original, modded, destination),
// makes each absolute (AbsolutePath) and checks them (CheckJobFolders, with
// `willWrite` for a run that writes). Returns the job's parameters, made
// with malloc, whose three paths are the absolute forms, held in the same
// block; the caller fills in the rest and hands it to ExtractionJob.
// Otherwise null, with `refusal` filled and a one-line reason in `reason`
// (for REFUSAL_NOT_ABSOLUTE: "the folder cannot be made absolute: <why>",
// to follow the path as given).
JobParameters* PrepareJob(const char* const folders[3], bool willWrite, FolderRefusal* refusal, char* reason,
                          size_t reasonSize);

// Runs one whole extraction on the calling thread and returns 1. Takes over
// `parameters` (a JobParameters made with malloc). Every phase runs to its
// end whatever the file system answers; what failed is in the result.
// Front ends prepare it with PrepareJob.
uint32_t ExtractionJob(void* parameters);
