// The running job's state, which every phase works on, and the reporting
// operations the phases call on it. The job itself (job.h) sets it up and
// runs the phases; the phases depend on this alone.
#pragma once

#include <atomic>
#include <stddef.h>
#include <stdint.h>

#include "exclusions.h"
#include "filelist.h"
#include "platform.h"
#include "problems.h"
#include "report.h"

// The job's own state. It exists once, so at most one job runs at a time;
// only the job's thread touches it while the job runs.
struct JobState {
    char OriginalRoot[PATH_BUFFER_SIZE];
    char ModdedRoot[PATH_BUFFER_SIZE];
    char DestinationRoot[PATH_BUFFER_SIZE];
    char DataRoot[PATH_BUFFER_SIZE];  // DestinationRoot's Data folder, resolved at the start
    size_t OriginalRootLength;
    size_t ModdedRootLength;
    size_t DestinationRootLength;

    void* MainWindow;
    void* CreateModButton;
    void* ProgressBar;
    std::atomic<int32_t>* JobRunning;
    const ReportOps* Report;
    JobResult* Result;   // never null while a job runs
    int DryRun;
    unsigned Comparers;  // for the comparison pool; 0: its default
    const ExclusionList* Exclusions;  // null: nothing is left out

    FileTree* CurrentTree;  // where IndexTree adds
    FileTree OriginalTree;
    FileTree ModdedTree;    // keeps stamps, for the copies
    BlockList ChangedList;  // ChangedFile: new and changed modded files, copy order from the end
    int CountingFiles;      // 1 while the original tree is indexed
    uint32_t OriginalCount;
    uint32_t ModdedCount;
    uint32_t ScanPosition;
    uint32_t ChangedCount;
    uint32_t CopyPosition;
};

extern JobState Job;

// Stopping the job. A stop must agree with the copies in flight (none may
// start after it), so these live with the copy queue (copyqueue.cpp).

// Asks the job to stop, from any thread, at any moment, without waiting:
// no copy starts after this call, and the job ends soon with its result's
// `abandoned` set (the index notices between two entries, a comparison or
// a copy between two chunks; the copies in flight remove their temporary
// files). A stop asked for before the job starts, or while it sets out, is
// kept: that job then does nothing. It stays until ClearJobStop.
void StopJob();

// StopJob, and then, when copies are in flight, waits until they have
// removed their temporary files (a copy notices between two chunks, so
// the wait is short): for a front end whose process ends once this
// returns. Files already copied stay. The job itself is not waited for.
// Safe to call twice.
void AbandonJob();

// Forgets a stop asked for earlier. A front end calls it before it starts
// taking the user's stops for its next job, never while a job runs.
void ClearJobStop();

// True once a stop was asked for (StopJob, AbandonJob) and not
// cleared since: nothing more is to be started.
bool JobAbandoned();

// The flag behind JobAbandoned, for loops that look at it between chunks.
const std::atomic<bool>* JobStopFlag();

// The relative path within a full path of a tree whose root has
// `rootLength` characters: what follows the root, starting with a separator.
inline const char* RelativePath(const char* path, size_t rootLength) {
    return path + rootLength;
}
