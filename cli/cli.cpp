#include "cli.h"

#include <algorithm>
#include <chrono>
#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "console.h"
#include "exclusions.h"
#include "foldercheck.h"
#include "interrupt.h"
#include "job.h"
#include "listing.h"
#include "options.h"
#include "rootpath.h"

typedef std::chrono::steady_clock Clock;

// All output goes through WriteText, which shows UTF-8 on a console as it is.
__attribute__((format(printf, 2, 3)))
static void Print(FILE* stream, const char* format, ...) {
    char small[1024];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(small, sizeof small, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    if ((size_t)length < sizeof small) {
        WriteText(stream, small, (size_t)length);
        return;
    }
    char* large = (char*)malloc((size_t)length + 1);
    if (!large) {
        WriteText(stream, small, sizeof small - 1);  // cut rather than nothing
        return;
    }
    va_start(arguments, format);
    vsnprintf(large, (size_t)length + 1, format, arguments);
    va_end(arguments);
    WriteText(stream, large, (size_t)length);
    free(large);
}

static void Put(FILE* stream, const char* text) {
    WriteText(stream, text, strlen(text));
}

// What the progress line shows; the reporting operations' handles point here.
struct Progress {
    FILE* err;
    bool live;
    int status;
    uint32_t range;
    uint32_t position;
    JobResult* result;
    Clock::time_point start;
    Clock::time_point lastDrawn;
    bool drawn;
};

static const char* PhaseName(int status) {
    switch (status) {
    case STATUS_ORIGINAL_INDEX: return "indexing original";
    case STATUS_MODDED_INDEX: return "indexing modded";
    case STATUS_DEEP_SCAN: return "comparing";
    case STATUS_CREATING_MOD: return "copying";
    }
    return "";
}

static void Draw(Progress* progress, bool force) {
    if (!progress->live || progress->status == STATUS_IDLE) return;
    Clock::time_point now = Clock::now();
    if (!force && progress->drawn && now - progress->lastDrawn < std::chrono::milliseconds(100)) return;
    progress->lastDrawn = now;
    progress->drawn = true;
    double seconds = std::chrono::duration<double>(now - progress->start).count();
    double bytes = (double)(progress->result->bytesRead + progress->result->bytesCopied);
    double rate = seconds > 0 ? bytes / seconds / (1024.0 * 1024.0) : 0;
    if (progress->status == STATUS_DEEP_SCAN || progress->status == STATUS_CREATING_MOD)
        Print(progress->err, "\r%-18s %u/%u files  %.1f MiB/s      ", PhaseName(progress->status),
              progress->position, progress->range, rate);
    else
        Print(progress->err, "\r%-18s %-40s", PhaseName(progress->status), "");
    fflush(progress->err);
}

static void ClearLine(Progress* progress) {
    if (!progress->drawn) return;
    Print(progress->err, "\r%70s\r", "");
    fflush(progress->err);
    progress->drawn = false;
}

static void OnStatus(void* handle, int status) {
    Progress* progress = (Progress*)handle;
    progress->status = status;
    progress->position = 0;
    if (status == STATUS_IDLE) ClearLine(progress);
    else Draw(progress, true);
}

static void OnRange(void* handle, uint32_t maximum) {
    Progress* progress = (Progress*)handle;
    progress->range = maximum;
    Draw(progress, true);
}

static void OnPosition(void* handle, uint32_t position) {
    Progress* progress = (Progress*)handle;
    progress->position = position;
    Draw(progress, false);
}

static void OnStartCommand(void*, int) {}

static const ReportOps CliReport = {OnStatus, OnRange, OnPosition, OnStartCommand};

// Everything for standard output is written: a failure to write it (a full
// disk, a closed pipe) is the run's failure, named once.
static int FinishOutput(FILE* out, FILE* err, int status) {
    errno = 0;
    if (fflush(out) == 0 && !ferror(out)) return status;
    int error = errno;
    Print(err, "modextract: write error: %s\n", error ? strerror(error) : "output failed");
    return status == EXIT_CLEAN ? EXIT_SOME_FAILED : status;
}

// One line that says what is wrong, and where to look.
static int UsageError(FILE* err, const char* why) {
    Print(err, "modextract: %s\n", why);
    Put(err, "Try 'modextract --help' for more information.\n");
    return EXIT_REFUSED;
}

// One listed entry: its letter and the relative path of `file` of `tree`.
static void ListEntry(FILE* out, char letter, const FileTree* tree, uint32_t file, bool null) {
    char path[PATH_BUFFER_SIZE];
    FilePath(tree, file, path);
    Print(out, "%c ", letter);
    const char* relative = path + tree->rootLength;
    while (IsPathSeparator(*relative)) ++relative;
    if (null) Put(out, relative);
    else PutQuoted(out, relative);
    WriteText(out, null ? "" : "\n", 1);
}

// One of the sorted lists that make up standard output.
struct Listed {
    char letter;
    const FileTree* tree;
    uint32_t* files;  // sorted by path
    uint32_t count;
    uint32_t next;
    const BlockList* changed;  // for 'A'/'M': `files` are places in it
};

static uint32_t ListedFile(const Listed* list, uint32_t at) {
    return list->changed ? ChangedAt(list->changed, list->files[at])->file : list->files[at];
}

static char ListedLetter(const Listed* list, uint32_t at) {
    if (!list->changed) return list->letter;
    return (ChangedAt(list->changed, list->files[at])->flags & CHANGED_NEW) ? 'A' : 'M';
}

// The lists merged into one, by path; of equal paths (a removed file that
// an earlier run left in the destination) the earlier list's goes first.
static void ListMerged(FILE* out, Listed* lists, int count, bool null) {
    for (;;) {
        Listed* least = nullptr;
        for (int i = 0; i < count; ++i) {
            Listed* list = &lists[i];
            if (list->next == list->count) continue;
            if (!least || CompareFilePaths(list->tree, ListedFile(list, list->next), least->tree,
                                           ListedFile(least, least->next), false) < 0)
                least = list;
        }
        if (!least) return;
        ListEntry(out, ListedLetter(least, least->next), least->tree, ListedFile(least, least->next), null);
        ++least->next;
    }
}

// Appends `format` to the summary line being built in `line` (`size` bytes).
__attribute__((format(printf, 3, 4)))
static void AddToLine(char* line, size_t size, const char* format, ...) {
    size_t used = strlen(line);
    if (used + 1 >= size) return;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line + used, size - used, format, arguments);
    va_end(arguments);
}

// What the run found and did, in one line: a count for every kind of
// entry the run met, so that an exit status of 1 always comes with its
// failed count.
static void PrintSummary(FILE* err, const CliOptions* options, const JobResult* result, uint32_t staleCount) {
    char line[1024] = "";
    AddToLine(line, sizeof line, "modextract: %u files scanned", result->moddedFiles);
    if (result->excludedModded) AddToLine(line, sizeof line, ", %u excluded", result->excludedModded);
    bool nothing = result->newFiles + result->changedFiles == 0;
    if (nothing) AddToLine(line, sizeof line, ", nothing new or changed");
    else AddToLine(line, sizeof line, ", %u new, %u changed", result->newFiles, result->changedFiles);
    if (result->uncompared)
        AddToLine(line, sizeof line, ", %u of them not compared (original unreadable)", result->uncompared);
    if (result->failures || (!options->dryRun && !nothing)) AddToLine(line, sizeof line, ", %u failed", result->failures);
    if (result->inPlace) AddToLine(line, sizeof line, ", %u already in place", result->inPlace);
    if (result->removedFiles)
        AddToLine(line, sizeof line, ", %u removed (a mod cannot carry these%s)", result->removedFiles,
                  options->listRemoved ? "" : "; --removed lists them");
    if (staleCount)
        AddToLine(line, sizeof line, ", %u stale (left by an earlier run%s)", staleCount,
                  options->listStale ? "" : "; --stale lists them");
    if (nothing) {
        Print(err, "%s; nothing written\n", line);
        return;
    }
    const char* destination = options->folders[2];
    size_t length = strlen(destination);
    const char* separator = length && IsPathSeparator(destination[length - 1]) ? "" : PathSeparator() == '/' ? "/" : "\\";
    Print(err, "%s; %s ", line, options->dryRun ? "would go to" : "mod in");
    PutQuoted(err, destination);
    Print(err, "%sData%s\n", separator, options->dryRun ? " (dry run: nothing written)" : "");
}

static void PrintProblems(FILE* err, const CliOptions* options, const JobResult* result) {
    for (Problem* problem = result->problems; problem; problem = problem->next) {
        if (!problem->failure && options->quiet) continue;
        char text[512];
        DescribeProblem(problem, text, sizeof text);
        Print(err, "modextract: %s", problem->failure ? "" : "warning: ");
        PutQuoted(err, problem->path);
        Print(err, ": %s\n", text);
    }
    uint32_t listedProblems = 0;
    for (Problem* problem = result->problems; problem; problem = problem->next) ++listedProblems;
    if (listedProblems < result->failures + result->warnings)
        Print(err, "modextract: %u more problems could not be stored (out of memory)\n",
              result->failures + result->warnings - listedProblems);
}

// DESTINATION/Data in `out`; false when that path is too long to be one.
static bool DataFolder(const char* destination, char* out) {
    size_t length = strlen(destination);
    bool separated = length && IsPathSeparator(destination[length - 1]);
    if (length + 5 > PathLimit()) return false;
    snprintf(out, PATH_BUFFER_SIZE, "%s%s%s", destination, separated ? "" : (PathSeparator() == '/' ? "/" : "\\"),
             "Data");
    return true;
}

// The run's lists, each sorted by path.
struct SortedLists {
    uint32_t* changed;  // places in the changed list
    uint32_t changedCount;
    uint32_t* removed;  // files of the original tree
    uint32_t removedCount;
    StaleFiles stale;
    bool staleKnown;
};

// Sorts the indices of the job's lists, never copies of their paths, so
// that memory stays a few bytes per entry whatever the names; finds the
// stale files below `data` (null: none can be, for it was not there). False
// when memory ran out and a list is shorter than it should be.
static bool SortLists(const JobResult* result, const char* data, SortedLists* sorted) {
    bool complete = true;
    sorted->changedCount = result->changedList.count;
    sorted->changed = (uint32_t*)malloc(((size_t)sorted->changedCount + 1) * sizeof(uint32_t));
    if (!sorted->changed) complete = false, sorted->changedCount = 0;
    for (uint32_t at = 0; at < sorted->changedCount; ++at) sorted->changed[at] = at;
    const FileTree* modded = &result->moddedTree;
    const BlockList* changed = &result->changedList;
    std::sort(sorted->changed, sorted->changed + sorted->changedCount, [modded, changed](uint32_t x, uint32_t y) {
        return CompareFilePaths(modded, ChangedAt(changed, x)->file, modded, ChangedAt(changed, y)->file, false) < 0;
    });

    sorted->removedCount = result->removedList.count;  // empty when the job was stopped before it knew
    sorted->removed = (uint32_t*)malloc(((size_t)sorted->removedCount + 1) * sizeof(uint32_t));
    if (!sorted->removed) complete = false, sorted->removedCount = 0;
    for (uint32_t at = 0; at < sorted->removedCount; ++at)
        sorted->removed[at] = *(const uint32_t*)ItemAt(&result->removedList, at);
    SortFiles(&result->originalTree, sorted->removed, sorted->removedCount, false);

    sorted->staleKnown = data && !result->abandoned;
    if (!sorted->staleKnown) return complete;
    uint32_t* files = (uint32_t*)malloc(((size_t)sorted->changedCount + 1) * sizeof(uint32_t));
    for (uint32_t at = 0; files && at < sorted->changedCount; ++at)
        files[at] = ChangedAt(changed, sorted->changed[at])->file;
    if (!files || !sorted->changed || !FindStaleFiles(data, modded, files, sorted->changedCount, &sorted->stale)) {
        sorted->staleKnown = false;
        complete = false;
    }
    free(files);
    return complete;
}

// The patterns, held while a run lasts: too big for a stack.
static ExclusionList Exclusions;

// Runs the job the options describe and reports it. The folders are made
// absolute once, here: the checks, the job and the summary see only that form.
static int RunJob(CliOptions* options, FILE* out, FILE* err, bool errIsTerminal) {
    static char absolute[3][PATH_BUFFER_SIZE];
    for (int i = 0; i < 3; ++i) {
        if (SysError error = AbsolutePath(options->folders[i], absolute[i], PATH_BUFFER_SIZE)) {
            char why[256];
            DescribeError(error, why, sizeof why);
            Print(err, "modextract: ");
            PutQuoted(err, options->folders[i]);
            Print(err, ": the folder cannot be made absolute: %s\n", why);
            return EXIT_REFUSED;
        }
        options->folders[i] = absolute[i];
    }
    char reason[1024];
    if (!CheckJobFolders(options->folders[0], options->folders[1], options->folders[2], reason, sizeof reason,
                         nullptr, !options->dryRun)) {
        Print(err, "modextract: %s\n", reason);
        return EXIT_REFUSED;
    }
    // Stale files are those of a folder that was there before this run.
    char data[PATH_BUFFER_SIZE];
    EntryKind kind = ENTRY_OTHER;
    FolderId id;
    bool dataExisted = DataFolder(options->folders[2], data) && Sys.examine(data, &kind, &id) == 0 &&
                       kind == ENTRY_FOLDER;

    WatchInterrupts();
    if (int status = InterruptExitStatus()) return status;  // stopped before the job began

    JobResult result = {};
    result.keepChangedList = options->dryRun || dataExisted;
    result.keepRemovedList = options->listRemoved;
    Progress progress = {};
    progress.err = err;
    progress.live = errIsTerminal && !options->quiet;
    progress.result = &result;
    progress.start = Clock::now();

    JobParameters* parameters = (JobParameters*)calloc(1, sizeof(JobParameters));
    if (!parameters) {
        Print(err, "modextract: out of memory\n");
        return EXIT_SOME_FAILED;
    }
    parameters->mainWindow = &progress;
    parameters->createModButton = &progress;
    parameters->progressBar = &progress;
    parameters->originalPath = options->folders[0];
    parameters->moddedPath = options->folders[1];
    parameters->destinationPath = options->folders[2];
    parameters->report = &CliReport;
    parameters->result = &result;
    parameters->dryRun = options->dryRun;
    parameters->comparers = options->comparers;
    parameters->exclusions = &Exclusions;
    ExtractionJob(parameters);

    SortedLists sorted = {};
    bool complete = SortLists(&result, dataExisted ? data : nullptr, &sorted);
    StaleFiles& stale = sorted.stale;
    bool staleKnown = sorted.staleKnown;
    Listed lists[3] = {};
    int listCount = 0;
    if (options->dryRun)
        lists[listCount++] = {'A', &result.moddedTree, sorted.changed, sorted.changedCount, 0, &result.changedList};
    if (options->listRemoved)
        lists[listCount++] = {'D', &result.originalTree, sorted.removed, sorted.removedCount, 0, nullptr};
    if (options->listStale && staleKnown) lists[listCount++] = {'S', &stale.tree, stale.files, stale.count, 0, nullptr};
    ListMerged(out, lists, listCount, options->null);

    PrintProblems(err, options, &result);
    if (!complete) Print(err, "modextract: out of memory: the lists and counts above may be incomplete\n");
    if (staleKnown && stale.unlisted && !options->quiet) {
        char text[256];
        DescribeError(stale.unlistedError, text, sizeof text);
        Print(err, "modextract: warning: ");
        PutQuoted(err, stale.firstUnlisted);
        Print(err, ": cannot list: %s; stale files below it are not counted\n", text);
    }
    // A refusal found by the job is its problem, named above.
    if (!options->quiet && !result.abandoned && !result.refused) PrintSummary(err, options, &result, staleKnown ? stale.count : 0);

    int status = result.refused               ? EXIT_REFUSED
                 : result.failures || !complete ? EXIT_SOME_FAILED
                                                : EXIT_CLEAN;
    if (result.abandoned) {
        char failed[40] = "";
        if (result.failures) snprintf(failed, sizeof failed, ", %u failed", result.failures);
        if (options->dryRun)
            Print(err, "modextract: interrupted%s: the list above is incomplete\n", failed);
        else {
            char inPlace[40] = "";
            if (result.inPlace) snprintf(inPlace, sizeof inPlace, ", %u already in place", result.inPlace);
            Print(err, "modextract: interrupted: %u files copied%s, %u not copied%s; no partial file left\n",
                  result.copiedFiles, inPlace, result.notCopied, failed);
        }
        if (InterruptExitStatus()) status = InterruptExitStatus();
    }
    free(sorted.changed);
    free(sorted.removed);
    ReleaseStaleFiles(&stale);
    ReleaseJobResult(&result);
    return status;
}

int RunModExtract(int argc, char** argv, FILE* in, FILE* out, FILE* err, bool errIsTerminal) {
    CliOptions* options = (CliOptions*)calloc(1, sizeof(CliOptions));
    if (!options) {
        Put(err, "modextract: out of memory\n");
        return EXIT_REFUSED;
    }
    ParseOptions(argc, argv, options);
    int status;
    if (options->action == CLI_USAGE) {
        status = UsageError(err, options->why);
    } else if (options->action == CLI_HELP) {
        Put(out, HELP_TEXT);
        status = FinishOutput(out, err, EXIT_CLEAN);
    } else if (options->action == CLI_VERSION) {
        Put(out, VERSION_TEXT);
        status = FinishOutput(out, err, EXIT_CLEAN);
    } else if (!LoadPatterns(options, in, &Exclusions)) {
        Print(err, "modextract: %s\n", options->why);
        status = EXIT_REFUSED;
    } else {
        status = FinishOutput(out, err, RunJob(options, out, err, errIsTerminal));
    }
    free(options);
    return status;
}
