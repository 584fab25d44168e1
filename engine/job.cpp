#include "job.h"

#include <stdlib.h>
#include <string.h>

#include "copyqueue.h"
#include "deepscan.h"
#include "fileindex.h"
#include "foldercheck.h"
#include "modassembly.h"

JobState Job;

static void IgnoreStatus(void*, int) {}
static void IgnoreCount(void*, uint32_t) {}
static void IgnoreEnabled(void*, int) {}
// For a caller that wants no reports at all.
static const ReportOps NoReports = {IgnoreStatus, IgnoreCount, IgnoreCount, IgnoreEnabled};

void ReportStatus(int statusCode) {
    Job.Report->reportStatus(Job.MainWindow, statusCode);
}

void SetProgressRange(uint32_t maximum) {
    Job.Report->setProgressRange(Job.ProgressBar, maximum);
}

void SetProgressPosition(uint32_t position) {
    Job.Report->setProgressPosition(Job.ProgressBar, position);
}

void EnableStartCommand(int enabled) {
    Job.Report->enableStartCommand(Job.CreateModButton, enabled);
}

void SetJobRunning(int running) {
    if (Job.JobRunning) Job.JobRunning->store(running, std::memory_order_relaxed);
}

// Copies a root path into the snapshot. A root that is empty or too long
// is refused rather than cut: an empty root would name the whole drive.
static bool TakeRoot(const char* path, char* root, size_t* length) {
    root[0] = '\0';
    *length = 0;
    if (!path || !path[0]) return false;
    size_t n = strlen(path);
    if (n > PathLimit()) return false;
    memcpy(root, path, n + 1);
    *length = n;
    return true;
}

static void NewList(FileList* list) {
    *list = NewFileList();
    if (!*list) RecordProblem(Job.Result, PROBLEM_REFUSED, true, ENGINE_OUT_OF_MEMORY, "");
}

uint32_t ExtractionJob(void* parameters) {
    JobResult ownResult = {};

    Job.OriginalCount = 0;
    Job.ModdedCount = 0;
    Job.ScanPosition = 0;
    Job.ChangedCount = 0;
    Job.CopyPosition = 0;

    JobParameters* record = (JobParameters*)parameters;
    Job.MainWindow = record->mainWindow;
    Job.CreateModButton = record->createModButton;
    Job.ProgressBar = record->progressBar;
    Job.JobRunning = record->jobRunning;
    Job.Report = record->report ? record->report : &NoReports;
    Job.Result = record->result ? record->result : &ownResult;
    Job.DryRun = record->dryRun;
    Job.Comparers = record->comparers;
    bool rootsUsable = TakeRoot(record->originalPath, Job.OriginalRoot, &Job.OriginalRootLength);
    rootsUsable &= TakeRoot(record->moddedPath, Job.ModdedRoot, &Job.ModdedRootLength);
    rootsUsable &= TakeRoot(record->destinationPath, Job.DestinationRoot, &Job.DestinationRootLength);
    free(record);
    if (!rootsUsable)
        RecordProblem(Job.Result, PROBLEM_REFUSED, true, ENGINE_PATH_TOO_LONG, "a folder path is empty or too long");
    if (rootsUsable) {
        // Fixed now: a folder link met later inside it must not lead the copies elsewhere.
        char data[PATH_BUFFER_SIZE];
        SysError error = ENGINE_PATH_TOO_LONG;
        if (BuildTargetPath(Job.DestinationRoot, "", data) == 0 || !ResolveLeniently(data, Job.DataRoot, &error)) {
            RecordProblem(Job.Result, PROBLEM_REFUSED, true, error, Job.DestinationRoot);
            rootsUsable = false;
        }
    }
    BeginAbandonable();

    SetJobRunning(1);
    NewList(&Job.ChangedList);
    EnableStartCommand(0);

    NewList(&Job.CurrentList);
    Job.CountingFiles = 1;
    ReportStatus(STATUS_ORIGINAL_INDEX);
    if (rootsUsable && Job.CurrentList) IndexTree(Job.OriginalRoot);
    Job.OriginalList = Job.CurrentList;
    Job.CountingFiles = 0;
    SetProgressPosition(0);

    NewList(&Job.CurrentList);
    ReportStatus(STATUS_MODDED_INDEX);
    if (rootsUsable && Job.CurrentList && !JobAbandoned()) IndexTree(Job.ModdedRoot);
    Job.ModdedList = Job.CurrentList;
    Job.CurrentList = nullptr;
    Job.ModdedCount = CountFiles(Job.ModdedList);

    // The scan advances once per modded file, so that is its range.
    SetProgressRange(Job.ModdedCount);
    ReportStatus(STATUS_DEEP_SCAN);
    bool listsMade = Job.OriginalList && Job.ModdedList && Job.ChangedList;
    StartCopies(Job.DryRun ? 0 : DefaultCopierCount());
    if (listsMade) DeepScan();

    ReportStatus(STATUS_CREATING_MOD);
    SetProgressRange(Job.ChangedCount);
    if (listsMade) CreateMod();
    StopCopies();

    EndAbandonable();

    ReportStatus(STATUS_IDLE);
    JobResult* result = Job.Result;
    result->abandoned = JobAbandoned();
    result->originalFiles = Job.OriginalCount;
    result->moddedFiles = Job.ModdedCount;
    if (Job.OriginalList) ReleaseFileList(&Job.OriginalList);
    if (Job.ModdedList) ReleaseFileList(&Job.ModdedList);
    if (result->keepChangedList && result != &ownResult) {
        result->changedList = Job.ChangedList;
        Job.ChangedList = nullptr;
    } else if (Job.ChangedList) {
        ReleaseFileList(&Job.ChangedList);
    }
    EnableStartCommand(1);
    SetProgressPosition(0);
    Job.Result = nullptr;
    ReleaseJobResult(&ownResult);
    SetJobRunning(0);
    return 1;
}
