// Shared helpers of the engine's tests: temporary trees, a recording user
// interface, and a fault-injecting platform layer.
#pragma once

#include <stdint.h>

#include <atomic>

#include <string>
#include <vector>

#include "job.h"
#include "platform.h"

// A fresh folder of the test's own, removed with everything in it at the end.
struct TempDir {
    TempDir();
    ~TempDir();
    std::string path;
    // path + separator + relative ('/' in `relative` becomes the platform's separator).
    std::string operator/(const std::string& relative) const;
};

// Writes `contents` at `path`, creating the folders above it.
void WriteFile(const std::string& path, const std::string& contents);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Every regular file below `root`, relative, with '/' separators, sorted.
std::vector<std::string> ListTree(const std::string& root);
// `relative` with '/' turned into the platform's separator.
std::string Native(const std::string& relative);

// Records every reporting operation as a line: "status 2", "range 5",
// "position 1", "start 0", "running 1".
struct Recorder {
    std::vector<std::string> events;
    std::atomic<int32_t> running{0};
    // Not 0: the job is told to stop the first time the progress position
    // reaches it (during the scan, on the job's own thread).
    uint32_t stopAtPosition = 0;
    std::vector<std::string> Only(const char* kind) const;  // events starting with kind
};
extern const ReportOps RecordingReport;

// Runs one job on the three folders with a Recorder, the result left in `result`;
// `comparers` as JobParameters takes it (0: the default).
void RunJob(const std::string& original, const std::string& modded, const std::string& destination,
            Recorder* recorder, JobResult* result, bool dryRun = false, unsigned comparers = 0);

// A temporary original and modded folder (both made, empty) and a
// destination path (not made), with a recorder and a result for one job.
struct JobTrees {
    TempDir dir;
    std::string original = dir / "orig";
    std::string modded = dir / "mod";
    std::string destination = dir / "dest";
    Recorder recorder;
    JobResult result = {};

    JobTrees();
    ~JobTrees();
    // One job on the three folders, into `recorder` and `result`.
    void Run(bool dryRun = false, unsigned comparers = 0);
    // Writes `relative` ('/' separators) in both trees, with these contents.
    void Both(const std::string& relative, const std::string& inOriginal, const std::string& inModded) const;
};

// A listing's entry as a test invents it: `name` (kept by the caller), its kind and error.
FolderEntry InventedEntry(const char* name, EntryKind kind, SysError error = 0);

// Keeps the Sys table as it was and puts it back when it goes out of
// scope, so that a test that swaps entries of it leaves it whole even when
// an assertion ends the test early.
struct SysSwap {
    SysCalls saved = Sys;
    ~SysSwap() { Sys = saved; }
};

// While it lives, listings show in the folder `parent` one folder more,
// "junction", with the identity of the folder `target`: what a junction, a
// folder link or a volume mounted in a folder shows, whatever its path says.
struct FakeJunction {
    SysSwap restore;
    FakeJunction(const std::string& parent, const std::string& target);
};

// Fails the Nth call (1-based) of one platform operation with `error`, or
// every call from the Nth on when `sticky`. Puts the real calls back when it
// goes out of scope.
// FAULT_CREATE_FOLDERS stands for both ways of making folders.
enum FaultOp { FAULT_LIST, FAULT_OPEN, FAULT_READ, FAULT_CREATE_FOLDERS, FAULT_COPY, FAULT_OP_COUNT };
struct FaultInjector {
    FaultInjector();
    ~FaultInjector();
    void Fail(FaultOp op, int nth, SysError error, bool sticky = false);
    // Only calls whose path contains `fragment` count (and fail).
    void OnlyPaths(FaultOp op, const std::string& fragment);
    int Calls(FaultOp op) const;
};

// Sys.copyFile with nothing expected of the source and no stop.
SysError CopyPlain(const char* source, const char* target, uint64_t* copied);

// The paths of the result's failures, in order.
std::vector<std::string> FailedPaths(const JobResult& result);
// Every problem as a line "failure|warning PATH: text", for messages and matching.
std::string ProblemText(const JobResult& result);

// The size and stamp of the file `path` as its open handle tells them;
// false when it cannot be opened.
bool SizeAndStampOf(const std::string& path, uint64_t* size, uint64_t* stamp);

// Whether this platform's listing tells each file's size and stamp
// (Win32), or leaves them to its open handle (POSIX): what a file costs
// in calls depends on it.
bool ListingTellsSizes();

// Replaces the platform's listing with one that hands the real entries
// over in the order of `names` (names not given come last, by name), each
// file with its size and stamp, as a listing that tells them does.
struct OrderedListing {
    explicit OrderedListing(std::vector<std::string> names);
    ~OrderedListing();
};

// The paths of a tree's files in list order (newest first), relative to
// `root` with '/' separators.
std::vector<std::string> RelativePaths(const FileTree* tree, const std::string& root);

struct PrefetchWalk;

// Indexes `root` as the job would (IndexTree, through `walk` when given),
// as the original tree when `original`: its files' paths relative to
// `relativeTo` (else `root`), the files counted, and the result.
struct IndexRun {
    JobResult result = {};
    std::vector<std::string> paths;
    uint32_t counted = 0;

    IndexRun(const std::string& root, bool original, const std::string& relativeTo = "",
             PrefetchWalk* walk = nullptr);
    ~IndexRun();
};

// A handed-over changed list in copy order, as "A /path" (new) or
// "M /path" (changed), relative to `root` with '/' separators.
std::vector<std::string> ChangedPaths(const JobResult& result, const std::string& root);
