// The job's result: its figures, what it could not do (path by path), and
// the lists a front end shows. The job runs to its end whatever fails;
// this is where it says what did.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "filetree.h"
#include "platform.h"

enum ProblemKind : uint8_t {
    PROBLEM_LIST,           // a folder could not be listed
    PROBLEM_EXAMINE,        // an entry could not be examined
    PROBLEM_PASSED_OVER,    // an entry was left out (too long, a link loop, not a file)
    PROBLEM_COMPARE,        // a pair could not be compared; copied as changed
    PROBLEM_CREATE_FOLDER,  // a destination folder could not be made
    PROBLEM_COPY,           // a changed file could not be copied
    PROBLEM_REFUSED,        // the job's folders were unusable; nothing ran
    PROBLEM_NOT_LOCKED,     // the destination could not be locked: a second job was not kept out
    PROBLEM_KINDS           // how many kinds there are
};

// The files below a Data folder that an earlier run filled and that this
// job neither copied nor would copy.
struct StaleFiles {
    FileTree tree;         // every entry found below the folder (its root), links as entries
    uint32_t* files;       // the stale ones, indices of `tree`, sorted by path; null when none
    uint32_t count;
    uint32_t unlisted;     // folders that could not be listed whole
    char firstUnlisted[PATH_BUFFER_SIZE];  // the first of them, for the warning
    SysError unlistedError;
};

// The job's lists, filled at its end (SortJobLists).
struct JobLists {
    uint32_t* changed;      // places in the result's changedList, sorted by path; when kept
    uint32_t changedCount;
    uint32_t* removed;      // files of the result's originalTree, sorted by path; when kept
    uint32_t removedCount;
    StaleFiles stale;       // when staleKnown
    bool staleKnown;        // the Data folder was there before the job, which walked it to its end
    bool incomplete;        // memory ran out: a list is shorter than it should be
};

struct Problem {
    Problem* next;
    char* path;      // the path concerned, stored after the node
    SysError error;
    ProblemKind kind;
    bool failure;    // false: a warning, nothing of the mod was lost
};

struct JobResult {
    uint32_t originalFiles;
    uint32_t moddedFiles;
    uint32_t newFiles;       // modded files without an original
    uint32_t changedFiles;   // modded files whose contents differ
    uint32_t removedFiles;   // original files with no modded file at their relative path; 0 when the
                             // scan did not end (abandoned). Not counted: files below a modded
                             // folder that could not be listed whole
    uint32_t excludedOriginal;  // entries a pattern left out, a folder once with all it holds
    uint32_t excludedModded;
    uint32_t copiedFiles;
    uint32_t inPlace;        // new or changed files whose target held their bytes already: not
                             // written (at most their times set), not counted in copiedFiles
    uint32_t notCopied;      // new or changed files neither copied nor in place: the job was
                             // abandoned before their copy ended (in flight included), or it
                             // failed (named among the problems). In a dry run, 0
    uint32_t unscanned;      // modded files the scan never decided, because the job was abandoned
                             // first (pairs being compared at the stop included). copiedFiles +
                             // inPlace + notCopied + unchanged ones + unscanned = moddedFiles
    uint32_t uncompared;     // new or changed files taken without a comparison, because the
                             // original tree could not be read there (the original file, or
                             // the folder that would hold it); copied all the same
    bool abandoned;          // a stop (StopJob, AbandonJob) ended the job early
    bool declined;           // the user stopped it at its question (report.h); abandoned too
    bool refused;            // the job's folders were unusable (PROBLEM_REFUSED); nothing was written
    uint32_t failures;
    uint32_t warnings;
    uint64_t bytesRead;      // compared, both trees together
    uint64_t bytesCopied;
    Problem* problems;       // in the order they happened
    Problem** lastProblem;   // where the next one goes; null before the first

    // Asked for by the caller: the job then hands over its changed list
    // (ChangedFile, copy order from the end) and the modded tree its
    // entries refer to, instead of releasing them.
    bool keepChangedList;
    BlockList changedList;
    FileTree moddedTree;

    // Asked for by the caller: the job then hands over the removed files
    // (uint32_t file indices, in the order the index met them) and the
    // original tree they refer to.
    bool keepRemovedList;
    BlockList removedList;
    FileTree originalTree;

    // The lists above sorted by path, and the stale files, which the job
    // finds itself whenever the Data folder was there before it (and it
    // ran to its end): files there that it neither copied nor would copy.
    JobLists lists;
    char dataFolder[PATH_BUFFER_SIZE];  // DESTINATION/Data as the job used it; "" when refused early
};

// Appends a problem with the path `first`, joined with the platform's
// separator to `second` when that is given. Counts it as a failure or a
// warning. A problem that cannot be stored is still counted.
void RecordProblem(JobResult* result, ProblemKind kind, bool failure, SysError error,
                   const char* first, const char* second = nullptr);

// "cannot copy: Permission denied" and the like, without the path.
void DescribeProblem(const Problem* problem, char* out, size_t outSize);

// Frees the stale files' tree and list; they are empty afterwards.
void ReleaseStaleFiles(StaleFiles* stale);

// Frees the sorted lists and the stale files; they are empty afterwards.
void ReleaseJobLists(JobLists* lists);

// Frees the problems, any handed-over list and the sorted lists; the
// figures stay.
void ReleaseJobResult(JobResult* result);
