#include "cli.h"

#include <chrono>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "console.h"
#include "exclusions.h"
#include "interrupt.h"
#include "job.h"
#include "joblists.h"
#include "listing.h"
#include "options.h"
#include "paths.h"
#include "summary.h"

typedef std::chrono::steady_clock Clock;

static void Put(FILE* stream, const char* text) {
    WriteText(stream, text, strlen(text));
}

// What the progress line shows; the reporting operations' handles point here.
struct Progress {
    FILE* err;
    bool live;
    int status;
    uint32_t range;
    bool rangeKnown;     // `range` is this phase's
    uint32_t nextRange;  // given before its phase began
    bool nextRangeKnown;
    uint32_t position;
    uint32_t found;      // while indexing
    JobResult* result;
    bool quiet;          // no warnings, the question's included
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
    bool counted = progress->status == STATUS_DEEP_SCAN || progress->status == STATUS_CREATING_MOD;
    if (counted && progress->rangeKnown)
        Print(progress->err, "\r%-18s %u/%u files  %.1f MiB/s      ", PhaseName(progress->status),
              progress->position, progress->range, rate);
    else if (!counted && progress->found)
        Print(progress->err, "\r%-18s %u files found %-26s", PhaseName(progress->status), progress->found, "");
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

// A range given before its phase began (the comparison's, at the end of the
// index) is that phase's; the copy phase's comes after it began, and until
// then no count is shown rather than the comparison's.
static void OnStatus(void* handle, int status) {
    Progress* progress = (Progress*)handle;
    progress->status = status;
    progress->position = 0;
    progress->found = 0;
    progress->range = progress->nextRange;
    progress->rangeKnown = progress->nextRangeKnown;
    progress->nextRangeKnown = false;
    if (status == STATUS_IDLE) ClearLine(progress);
    else Draw(progress, true);
}

static void OnRange(void* handle, uint32_t maximum) {
    Progress* progress = (Progress*)handle;
    if (progress->status == STATUS_DEEP_SCAN || progress->status == STATUS_CREATING_MOD) {
        progress->range = maximum;
        progress->rangeKnown = true;
        Draw(progress, true);
    } else {
        progress->nextRange = maximum;
        progress->nextRangeKnown = true;
    }
}

static void OnPosition(void* handle, uint32_t position) {
    Progress* progress = (Progress*)handle;
    progress->position = position;
    Draw(progress, false);
}

static void OnStartCommand(void*, int) {}

static void OnFound(void* handle, uint32_t found) {
    Progress* progress = (Progress*)handle;
    progress->found = found;
    Draw(progress, false);
}

// What a tree holds at its top, as "one folder, DATA" or "2 folders and
// 3 files: a, b, c, ...".
static void PutTop(FILE* err, const TreeTop& top) {
    uint32_t entries = top.folders + top.files;
    if (entries == 0) {
        Put(err, "nothing");
        return;
    }
    if (entries == 1) Put(err, top.folders ? "one folder" : "one file");
    else if (top.files == 0) Print(err, "%u folders", top.folders);
    else if (top.folders == 0) Print(err, "%u files", top.files);
    else Print(err, "%u folder%s and %u file%s", top.folders, top.folders == 1 ? "" : "s", top.files,
               top.files == 1 ? "" : "s");
    Put(err, entries == 1 ? ", " : ": ");
    for (uint32_t at = 0; at < top.named; ++at) {
        if (at) Put(err, ", ");
        PutQuoted(err, top.names[at]);
    }
    if (entries > top.named) Put(err, ", ...");
}

// The job's question, before a likely mistake: one warning, and the run
// goes on; a script has no one to answer.
static int OnQuestion(void* handle, const JobQuestion* question) {
    Progress* progress = (Progress*)handle;
    if (progress->quiet) return 1;
    ClearLine(progress);
    Print(progress->err,
          "modextract: warning: only %u of the original's %u files are found in the modded folder, the sign of a "
          "folder one level off: the original holds ",
          question->sharedFiles, question->originalFiles);
    PutTop(progress->err, question->tops[0]);
    Put(progress->err, "; the modded folder holds ");
    PutTop(progress->err, question->tops[1]);
    Put(progress->err, "\n");
    Draw(progress, true);
    return 1;
}

static const ReportOps CliReport = {OnStatus, OnRange, OnPosition, OnStartCommand, OnFound, OnQuestion};

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

// The job's merged list of the kinds `kinds`, one entry a line (or NUL-ended).
static void PrintList(FILE* out, const JobResult* result, unsigned kinds, bool null) {
    ListCursor cursor = {};
    ListedEntry entry;
    char path[PATH_BUFFER_SIZE];
    while (NextListed(result, kinds, &cursor, &entry)) {
        const char* relative = ListedPath(&entry, path);
        Print(out, "%c ", entry.letter);
        if (null) Put(out, relative);
        else PutQuoted(out, relative);
        WriteText(out, null ? "" : "\n", 1);
    }
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

// The patterns, held while a run lasts: too big for a stack.
static ExclusionList Exclusions;

// The refusal of PrepareJob, as modextract words it.
static int Refused(FILE* err, const CliOptions* options, const FolderRefusal& refusal, const char* reason) {
    Print(err, "modextract: ");
    if (refusal.kind == REFUSAL_NOT_ABSOLUTE) {
        PutQuoted(err, options->folders[refusal.role]);
        Print(err, ": ");
    } else if (refusal.kind == REFUSAL_OUT_OF_MEMORY) {
        Print(err, "%s\n", reason);
        return EXIT_SOME_FAILED;
    }
    Print(err, "%s\n", reason);
    return EXIT_REFUSED;
}

// What the run found, on standard error, and the exit status it makes.
static int Report(FILE* err, const CliOptions* options, const JobResult& result) {
    const StaleFiles& stale = result.lists.stale;
    bool staleKnown = result.lists.staleKnown;
    bool complete = !result.lists.incomplete;
    PrintProblems(err, options, &result);
    if (!options->quiet && !result.abandoned && !result.refused) WarnUnmatchedPatterns(options, &Exclusions, err);
    if (!complete) Print(err, "modextract: out of memory: the lists and counts above may be incomplete\n");
    if (staleKnown && stale.unlisted && !options->quiet) {
        char text[256];
        DescribeError(stale.unlistedError, text, sizeof text);
        Print(err, "modextract: warning: ");
        PutQuoted(err, stale.firstUnlisted);
        Print(err, ": cannot list: %s; stale files below it are not counted\n", text);
    }
    // A refusal found by the job is its problem, named above.
    if (!options->quiet && !result.abandoned && !result.refused)
        PrintSummary(err, options, &result, staleKnown ? stale.count : 0);

    int status = result.refused               ? EXIT_REFUSED
                 : result.failures || !complete ? EXIT_SOME_FAILED
                                                : EXIT_CLEAN;
    if (result.abandoned) {
        char failed[40] = "";
        if (result.failures) snprintf(failed, sizeof failed, ", %u failed", result.failures);
        if (options->dryRun)
            Print(err, "modextract: interrupted%s: the list above is incomplete\n", failed);
        else
            PrintInterrupted(err, result, failed);
        if (InterruptExitStatus()) status = InterruptExitStatus();
    }
    return status;
}

// Runs the job the options describe and reports it. The folders are made
// absolute once, by the job's preparation: the checks, the job and the
// summary see only that form.
static int RunJob(CliOptions* options, FILE* out, FILE* err, bool errIsTerminal) {
    // Listening before the preparation, which may make a probe file in the
    // destination: a signal then only asks the job to stop.
    WatchInterrupts();
    char reason[3 * PATH_BUFFER_SIZE + 256];  // a refusal between two folders names both
    FolderRefusal refusal = {};
    JobParameters* parameters = PrepareJob(options->folders, !options->dryRun, &refusal, reason, sizeof reason);
    if (!parameters) return Refused(err, options, refusal, reason);
    if (!options->quiet && NamedData(parameters->destinationPath)) {
        char data[PATH_BUFFER_SIZE];
        DataFolderPath(parameters->destinationPath, data, sizeof data);
        Put(err, "modextract: warning: ");
        PutQuoted(err, data);
        Put(err, ": the destination is itself named Data, so the mod goes into a Data folder inside it\n");
    }
    if (int status = InterruptExitStatus()) {  // stopped before the job began
        DiscardJobParameters(parameters);
        return status;
    }

    JobResult result = {};
    result.keepChangedList = options->dryRun || options->verbose;
    result.keepRemovedList = options->listRemoved;
    Progress progress = {};
    progress.err = err;
    progress.live = errIsTerminal && !options->quiet;
    progress.result = &result;
    progress.quiet = options->quiet;
    progress.start = Clock::now();

    parameters->mainWindow = &progress;
    parameters->createModButton = &progress;
    parameters->progressBar = &progress;
    parameters->report = &CliReport;
    parameters->result = &result;
    parameters->dryRun = options->dryRun;
    parameters->comparers = options->comparers;
    parameters->exclusions = &Exclusions;
    ExtractionJob(parameters);

    unsigned kinds = 0;
    if (options->dryRun || options->verbose) kinds |= LIST_CHANGED;
    if (options->listRemoved) kinds |= LIST_REMOVED;
    if (options->listStale) kinds |= LIST_STALE;
    PrintList(out, &result, kinds, options->null);
    int status = Report(err, options, result);
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
