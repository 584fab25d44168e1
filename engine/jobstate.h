// The running job's state, which every phase works on, and the reporting
// operations the phases call on it. The job itself (job.cpp) sets it up
// and runs the phases; what a user interface takes is in report.h.
#pragma once

#include <atomic>
#include <stddef.h>
#include <stdint.h>

#include "exclusions.h"
#include "filetree.h"
#include "jobstop.h"
#include "platform.h"
#include "jobresult.h"
#include "report.h"

struct DestinationHold;

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
    size_t DataPathLength;  // of DataFolderPath(DestinationRoot), which every target path begins with
    bool DataExisted;       // the Data folder stood before the job: its files may be stale, its targets in place

    void* MainWindow;
    void* CreateModButton;
    void* ProgressBar;
    std::atomic<int32_t>* JobRunning;
    const ReportOps* Report;
    JobResult* Result;   // never null while a job runs
    int DryRun;
    unsigned Comparers;  // for the comparison pool; 0: its default
    const ExclusionList* Exclusions;  // null: nothing is left out
    DestinationHold* Hold;            // keeps a second writing job out until the end; may be null

    FileTree OriginalTree;
    FileTree ModdedTree;    // keeps stamps, for the copies
    BlockList ChangedList;  // ChangedFile: new and changed modded files, copy order from the end
    uint32_t OriginalCount;
    uint32_t ModdedCount;
    uint32_t ScanPosition;
    uint32_t ChangedCount;
    uint32_t CopyPosition;
};

extern JobState Job;

// The relative path within a full path of a tree whose root has
// `rootLength` characters: what follows the root, starting with a separator.
inline const char* RelativePath(const char* path, size_t rootLength) {
    return path + rootLength;
}

// The reporting operations as the engine's phases call them, on the
// running job's handles. SetJobRunning writes the user interface's flag.
void ReportStatus(int statusCode);
void SetProgressRange(uint32_t maximum);
void SetProgressPosition(uint32_t position);
void EnableStartCommand(int enabled);
void ReportFound(uint32_t found);  // nothing when the operation is null
void SetJobRunning(int running);
// True when the user goes on after `question` (or is not asked: no such
// operation); false when the user stops the job there.
bool AskQuestion(const JobQuestion* question);
