#include "job.h"

#include <stdlib.h>
#include <string.h>

#include "comparepool.h"
#include "copyqueue.h"
#include "deepscan.h"
#include "destinationhold.h"
#include "fileindex.h"
#include "treewalk.h"
#include "foldercheck.h"
#include "folderguard.h"
#include "holdwait.h"
#include "modassembly.h"
#include "joblists.h"
#include "jobstate.h"
#include "jobstop.h"
#include "paths.h"
#include "stalefiles.h"

static void IgnoreStatus(void*, int) {}
static void IgnoreCount(void*, uint32_t) {}
static void IgnoreEnabled(void*, int) {}
// For a caller that wants no reports at all.
static const ReportOps NoReports = {IgnoreStatus, IgnoreCount, IgnoreCount, IgnoreEnabled, nullptr, nullptr};

// Takes a root path into the snapshot in its absolute form (paths.h),
// which every path of the job is built on. A root that is empty or too
// long is refused rather than cut: an empty root would name the whole drive.
static bool TakeRoot(const char* path, char* root, size_t* length) {
    root[0] = '\0';
    *length = 0;
    if (!path || !path[0]) return false;
    if (AbsolutePath(path, root, PATH_BUFFER_SIZE) != 0) return false;
    *length = strlen(root);
    return true;
}

// Takes the record into the job's state and frees it; the roots in their
// absolute form, the Data folder's path and its resolved form. False, with
// the refusal recorded, when a root or the Data folder cannot be used.
static bool TakeParameters(JobParameters* record, JobResult* ownResult) {
    Job.MainWindow = record->mainWindow;
    Job.CreateModButton = record->createModButton;
    Job.ProgressBar = record->progressBar;
    Job.JobRunning = record->jobRunning;
    Job.Report = record->report ? record->report : &NoReports;
    Job.Result = record->result ? record->result : ownResult;
    Job.DryRun = record->dryRun;
    Job.Comparers = record->comparers;
    Job.Exclusions = record->exclusions && record->exclusions->count ? record->exclusions : nullptr;
    Job.Hold = record->destinationHold;
    bool rootsUsable = TakeRoot(record->originalPath, Job.OriginalRoot, &Job.OriginalRootLength);
    rootsUsable &= TakeRoot(record->moddedPath, Job.ModdedRoot, &Job.ModdedRootLength);
    rootsUsable &= TakeRoot(record->destinationPath, Job.DestinationRoot, &Job.DestinationRootLength);
    free(record);
    JobResult* result = Job.Result;
    ReleaseJobLists(&result->lists);  // an earlier job's, in a result used again
    result->dataFolder[0] = '\0';
    result->refused = !rootsUsable;
    result->declined = false;
    if (Job.Hold && Job.Hold->lockError)  // the job writes all the same; a second one is not kept out
        RecordProblem(result, PROBLEM_NOT_LOCKED, false, Job.Hold->lockError, Job.Hold->folder);
    if (!rootsUsable) {
        RecordProblem(result, PROBLEM_REFUSED, true, ENGINE_PATH_TOO_LONG, "a folder path is empty or too long");
        return false;
    }
    // The Data folder as it resolves now: a folder link met later inside it
    // must not lead the copies elsewhere.
    SysError error = ENGINE_PATH_TOO_LONG;
    Job.DataPathLength = DataFolderPath(Job.DestinationRoot, result->dataFolder, sizeof result->dataFolder);
    if (Job.DataPathLength == 0 || !ResolveLeniently(result->dataFolder, Job.DataRoot, &error)) {
        RecordProblem(result, PROBLEM_REFUSED, true, error, Job.DestinationRoot);
        result->refused = true;
        return false;
    }
    return true;
}

// The stale files of a Data folder that was there before the job: what
// it holds that this job neither copied nor would copy, into the result's
// lists. Not for a job stopped before: what it would copy is not known.
static void FindJobStaleFiles(JobResult* result) {
    uint32_t count = Job.ChangedList.count;
    uint32_t* files = (uint32_t*)malloc(((size_t)count + 1) * sizeof(uint32_t));
    bool found = files != nullptr;
    for (uint32_t at = 0; found && at < count; ++at) files[at] = ChangedAt(&Job.ChangedList, at)->file;
    found = found && FindStaleFiles(Job.DataRoot, &Job.ModdedTree, files, count, &result->lists.stale);
    free(files);
    result->lists.staleKnown = found;
    if (!found && !StopRequested()) result->lists.incomplete = true;  // memory ran out
    if (!found) ReleaseStaleFiles(&result->lists.stale);
}

// Hands the trees and lists the caller asked for over to the result, or
// releases them, and sorts what was handed over.
static void HandOver(JobResult* result, bool own) {
    if (result->keepRemovedList && !own) {
        ReleaseFileTree(&result->originalTree);  // the removed list's entries refer to it
        result->originalTree = Job.OriginalTree;
        InitFileTree(&Job.OriginalTree, false);
    } else {
        ReleaseFileTree(&Job.OriginalTree);
    }
    if (result->keepChangedList && !own) {
        // Handed over whole: the entries refer to the modded tree.
        ReleaseFileTree(&result->moddedTree);
        ReleaseBlockList(&result->changedList);
        result->moddedTree = Job.ModdedTree;
        result->changedList = Job.ChangedList;
        InitFileTree(&Job.ModdedTree, false);
        InitChangedList(&Job.ChangedList);
    } else {
        ReleaseFileTree(&Job.ModdedTree);
        ReleaseBlockList(&Job.ChangedList);
    }
    if (!own) SortJobLists(result);
}

// The index of both trees, the original first, with the read-ahead walk
// beside it; the statuses and positions of both phases. False when nothing
// may be compared after it: refused, or the roots unusable.
static bool IndexBothTrees(bool rootsUsable, FolderGuard* guard) {
    JobResult* result = Job.Result;
    InitFileTree(&Job.OriginalTree, false);
    ReportStatus(STATUS_ORIGINAL_INDEX);
    // A tree not in memory costs a disk read per folder and per few entries,
    // one after another; walking both trees ahead of the index keeps several
    // in flight. Listing reads are small, so twice as many walkers as
    // comparers. Not with one read at a time (a spinning disk).
    unsigned comparers = Job.Comparers ? Job.Comparers : (unsigned)DEFAULT_COMPARERS;
    if (comparers > MAX_COMPARERS) comparers = MAX_COMPARERS;
    // A stop asked for before the job, or while it resolved its folders, is kept: nothing is read then.
    rootsUsable &= !StopRequested();
    PrefetchWalk* walk = nullptr;
    if (rootsUsable && comparers > 1)
        walk = StartTreePrefetch(Job.OriginalRoot, Job.ModdedRoot, 2 * comparers, Job.Comparers == 0);
    if (rootsUsable) IndexTree(Job.OriginalRoot, &Job.OriginalTree, TREE_ORIGINAL, walk, guard);
    SetProgressPosition(0);

    InitFileTree(&Job.ModdedTree, true);  // the copies check the stamps
    ReportStatus(STATUS_MODDED_INDEX);
    rootsUsable &= !result->refused;
    if (rootsUsable && !StopRequested()) IndexTree(Job.ModdedRoot, &Job.ModdedTree, TREE_MODDED, walk, guard);
    StopTreePrefetch(walk);
    Job.ModdedCount = FileCount(&Job.ModdedTree);
    return rootsUsable && !result->refused;
}

// The job's end: its figures and lists into the result, everything else
// released, and the user interface told.
static void FinishJob(JobResult* result, JobResult* ownResult) {
    // Nothing is written any more: a next job may begin as soon as it is told this one ended.
    ReleaseDestination(Job.Hold);
    Job.Hold = nullptr;
    ReportStatus(STATUS_IDLE);
    result->abandoned = StopRequested();
    result->originalFiles = Job.OriginalCount;
    result->moddedFiles = Job.ModdedCount;
    result->unscanned = Job.ModdedCount - Job.ScanPosition;  // all of them when nothing was compared
    if (result->abandoned) {
        ReleaseStaleFiles(&result->lists.stale);
        result->lists.staleKnown = false;
    }
    Job.Exclusions = nullptr;
    HandOver(result, result == ownResult);
    EnableStartCommand(1);
    SetProgressPosition(0);
    Job.Result = nullptr;
    ReleaseJobResult(ownResult);
    SetJobRunning(0);
}

uint32_t ExtractionJob(void* parameters) {
    JobResult ownResult = {};

    Job.OriginalCount = 0;
    Job.ModdedCount = 0;
    Job.ScanPosition = 0;
    Job.ChangedCount = 0;
    Job.CopyPosition = 0;

    bool rootsUsable = TakeParameters((JobParameters*)parameters, &ownResult);
    JobResult* result = Job.Result;
    // Asked once, before anything is written: stale files and targets in
    // place can only be those of a Data folder that was there before.
    EntryKind dataKind = ENTRY_OTHER;
    FolderId dataId;
    Job.DataExisted = rootsUsable && Sys.examine(Job.DataRoot, &dataKind, &dataId) == 0 && dataKind == ENTRY_FOLDER;
    // Met while indexing an input, the Data folder or one above it refuses the job (GuardMet).
    FolderGuard guard = {};
    if (rootsUsable) GuardDataFolder(&guard, Job.DataRoot);
    StartHoldBudget();

    SetJobRunning(1);
    InitChangedList(&Job.ChangedList);  // allocates nothing yet
    ReleaseBlockList(&result->removedList);
    InitBlockList(&result->removedList, sizeof(uint32_t), 12);
    EnableStartCommand(0);

    rootsUsable = IndexBothTrees(rootsUsable, &guard);
    // The scan advances once per modded file, so that is its range.
    SetProgressRange(Job.ModdedCount);
    ReportStatus(STATUS_DEEP_SCAN);
    // Refused while indexing, or for an input folder standing in Data:
    // nothing may be written, so nothing is compared either.
    rootsUsable = rootsUsable && !DataHoldsInputFolder(&guard);
    ForgetGuardedFolders(&guard);
    CopyQueue copies;
    StartCopies(&copies, Job.DryRun ? 0 : DefaultCopierCount());
    if (rootsUsable) DeepScan(&copies);
    // Once the scan knows what this job copies; while the copies run, whose
    // own names (and temporary ones) are never stale.
    if (rootsUsable && Job.DataExisted && result != &ownResult && !StopRequested()) FindJobStaleFiles(result);

    ReportStatus(STATUS_CREATING_MOD);
    SetProgressRange(Job.ChangedCount);
    CreateMod(&copies, result->lists.staleKnown ? &result->lists.stale.tree : nullptr);
    StopCopies(&copies);
    FinishJob(result, &ownResult);
    return 1;
}
