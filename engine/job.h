// One extraction: from the three folder paths to the finished mod folder.
#pragma once

#include <atomic>
#include <stddef.h>
#include <stdint.h>

#include "exclusions.h"
#include "filelist.h"
#include "platform.h"
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

// Runs one whole extraction on the calling thread and returns 1. Takes over
// `parameters` (a JobParameters made with malloc). Every phase runs to its
// end whatever the file system answers; what failed is in the result.
// Front ends check the folders with CheckJobFolders first.
uint32_t ExtractionJob(void* parameters);

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

// The relative path within a full path of a tree whose root has
// `rootLength` characters: what follows the root, starting with a separator.
inline const char* RelativePath(const char* path, size_t rootLength) {
    return path + rootLength;
}
