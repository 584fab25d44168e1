#include "cli.h"

#include <chrono>
#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "console.h"
#include "comparepool.h"
#include "exclusions.h"
#include "foldercheck.h"
#include "interrupt.h"
#include "job.h"
#include "rootpath.h"

static const char VERSION[] = "1.0.0";

static const char USAGE[] =
    "usage: modextract [-n|--dry-run] [-q|--quiet] [-z|--null] [--removed] [--jobs N]\n"
    "                  [--exclude PATTERN]... [--exclude-from FILE]... ORIGINAL MODDED DESTINATION\n";

static const char HELP[] =
    "\n"
    "Copies every file of MODDED that is new or differs from the file at the\n"
    "same relative path in ORIGINAL into DESTINATION/Data, at that path:\n"
    "one mod that holds every change. ORIGINAL and MODDED are only read.\n"
    "\n"
    "  -n, --dry-run  write nothing; list what would be copied on standard\n"
    "                 output, 'A path' for a new file, 'M path' for a changed one\n"
    "  -q, --quiet    no progress line, warnings or summary\n"
    "  -z, --null     end each listed entry with NUL instead of a line break,\n"
    "                 and quote no name\n"
    "      --removed  also list the files of ORIGINAL that MODDED no longer has,\n"
    "                 as 'D path' (a mod cannot carry a removal)\n"
    "      --exclude PATTERN\n"
    "                 leave out what PATTERN matches, in both trees: '*' and '?'\n"
    "                 within a name, '**' any folders; without '/' a name at any\n"
    "                 depth; a trailing '/' folders only\n"
    "      --exclude-from FILE\n"
    "                 the patterns in FILE, one a line ('#' starts a comment)\n"
    "      --jobs N   compare N file pairs at once (1 to 8, default 4); --jobs 1\n"
    "                 reads one file at a time, which suits a spinning hard disk\n"
    "                 best: there several reads at once only make it seek\n"
    "  -h, --help     this text\n"
    "      --version  the program's version\n"
    "\n"
    "Exit status: 0 all went well, 1 some paths failed (each is named on\n"
    "standard error), 2 usage error or unusable folders (nothing written),\n"
    "130 or 143 stopped by SIGINT or SIGTERM (a second one ends it at once).\n"
    "A name holding a control character or a double quote is shown C-quoted,\n"
    "as in \"a\\nb.txt\".\n"
    "The manual page modextract(1) tells the rest (on Windows: README.txt).\n";

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

static const char* WithoutLeadingSeparator(const char* relative) {
    return IsPathSeparator(relative[0]) ? relative + 1 : relative;
}

// Writes `path` as it is, or, when it holds a control character or a double
// quote, C-quoted ("a\nb.txt"), so that every entry stays on one line and
// an odd name cannot pass for another. Other bytes pass untouched.
static void PutPath(FILE* stream, const char* path) {
    bool plain = true;
    for (const unsigned char* at = (const unsigned char*)path; *at && plain; ++at)
        plain = *at >= 0x20 && *at != 0x7f && *at != '"';
    if (plain) {
        Put(stream, path);
        return;
    }
    // Built whole, so that a console gets every character in one piece.
    static const char ESCAPED[] = "\a\b\t\n\v\f\r\"\\";
    static const char LETTERS[] = "abtnvfr\"\\";
    size_t length = strlen(path);
    char* quoted = (char*)malloc(4 * length + 3);
    if (!quoted) {
        Put(stream, path);
        return;
    }
    size_t used = 0;
    quoted[used++] = '"';
    for (const unsigned char* at = (const unsigned char*)path; *at; ++at) {
        const char* escape = strchr(ESCAPED, *at);
        if (escape) used += (size_t)snprintf(quoted + used, 3, "\\%c", LETTERS[escape - ESCAPED]);
        else if (*at < 0x20 || *at == 0x7f) used += (size_t)snprintf(quoted + used, 5, "\\%03o", *at);
        else quoted[used++] = (char)*at;
    }
    quoted[used++] = '"';
    WriteText(stream, quoted, used);
    free(quoted);
}

// Everything for standard output is written: a failure to write it (a full
// disk, a closed pipe) is the run's failure, named once.
static int FinishOutput(FILE* out, FILE* err, int status) {
    errno = 0;
    if (fflush(out) == 0 && !ferror(out)) return status;
    int error = errno;
    Print(err, "modextract: write error: %s\n", error ? strerror(error) : "output failed");
    return status == EXIT_CLEAN ? EXIT_SOME_FAILED : status;
}

static int Usage(FILE* err, const char* why) {
    Print(err, "modextract: %s\n%s", why, USAGE);
    return EXIT_REFUSED;
}

// The value of option `name` ("--jobs"), given as "--jobs=4" or as the next
// argument, or null when `arg` is another option. A missing value is "".
static const char* OptionValue(const char* name, int argc, char** argv, int* i) {
    const char* arg = argv[*i];
    size_t length = strlen(name);
    if (strncmp(arg, name, length) != 0) return nullptr;
    if (arg[length] == '=') return arg + length + 1;
    if (arg[length] != '\0') return nullptr;
    return *i + 1 < argc ? argv[++*i] : "";
}

// One listed entry: its letter and the relative path of `file` of `tree`.
static void ListEntry(FILE* out, char letter, const FileTree* tree, uint32_t file, bool null) {
    char path[PATH_BUFFER_SIZE];
    FilePath(tree, file, path);
    Print(out, "%c ", letter);
    const char* relative = WithoutLeadingSeparator(RelativePath(path, tree->rootLength));
    if (null) Put(out, relative);
    else PutPath(out, relative);
    WriteText(out, null ? "" : "\n", 1);
}

// The patterns, held while a run lasts.
static ExclusionList Exclusions;

int RunModExtract(int argc, char** argv, FILE* out, FILE* err, bool errIsTerminal) {
    bool dryRun = false;
    bool quiet = false;
    bool null = false;
    bool listRemoved = false;
    const char* folders[3];
    int folderCount = 0;
    bool optionsEnded = false;
    unsigned comparers = 0;
    InitExclusions(&Exclusions);

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
            if (folderCount == 3) return Usage(err, "too many folders");
            folders[folderCount++] = arg;
        } else if (strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (strcmp(arg, "--dry-run") == 0) {
            dryRun = true;
        } else if (strcmp(arg, "--quiet") == 0) {
            quiet = true;
        } else if (strcmp(arg, "--null") == 0) {
            null = true;
        } else if (strcmp(arg, "--removed") == 0) {
            listRemoved = true;
        } else if (const char* pattern = OptionValue("--exclude", argc, argv, &i)) {
            char why[200], whole[4300];
            if (!pattern[0]) return Usage(err, "--exclude takes a pattern");
            if (!AddExclusion(&Exclusions, pattern, why, sizeof why)) {
                snprintf(whole, sizeof whole, "--exclude '%.4000s': %s", pattern, why);
                return Usage(err, whole);
            }
        } else if (const char* file = OptionValue("--exclude-from", argc, argv, &i)) {
            char why[4200];
            if (!file[0]) return Usage(err, "--exclude-from takes a file");
            if (!AddExclusionsFromFile(&Exclusions, file, why, sizeof why)) return Usage(err, why);
        } else if (const char* count = OptionValue("--jobs", argc, argv, &i)) {
            char* end;
            unsigned long n = strtoul(count, &end, 10);
            if (!count[0] || *end || n < 1 || n > MAX_COMPARERS) return Usage(err, "--jobs takes a number from 1 to 8");
            comparers = (unsigned)n;
        } else if (strcmp(arg, "--help") == 0) {
            Print(out, "%s%s", USAGE, HELP);
            return FinishOutput(out, err, EXIT_CLEAN);
        } else if (strcmp(arg, "--version") == 0) {
            Print(out, "modextract %s\n", VERSION);
            return FinishOutput(out, err, EXIT_CLEAN);
        } else if (arg[1] == '-') {
            char why[300];
            snprintf(why, sizeof why, "unknown option '%.200s'", arg);
            return Usage(err, why);
        } else {
            for (const char* flag = arg + 1; *flag; ++flag) {
                if (*flag == 'n') dryRun = true;
                else if (*flag == 'q') quiet = true;
                else if (*flag == 'z') null = true;
                else if (*flag == 'h') {
                    Print(out, "%s%s", USAGE, HELP);
                    return FinishOutput(out, err, EXIT_CLEAN);
                } else {
                    char why[64];
                    snprintf(why, sizeof why, "unknown option '-%c'", *flag);
                    return Usage(err, why);
                }
            }
        }
    }
    if (folderCount != 3) return Usage(err, "three folders are needed");

    // Made absolute once, here: the checks, the job and the summary see only that form.
    static char absolute[3][PATH_BUFFER_SIZE];
    for (int i = 0; i < 3; ++i) {
        if (SysError error = AbsolutePath(folders[i], absolute[i], PATH_BUFFER_SIZE)) {
            char why[256];
            DescribeError(error, why, sizeof why);
            Print(err, "modextract: ");
            PutPath(err, folders[i]);
            Print(err, ": the folder cannot be made absolute: %s\n", why);
            return EXIT_REFUSED;
        }
        folders[i] = absolute[i];
    }

    char reason[1024];
    if (!CheckJobFolders(folders[0], folders[1], folders[2], reason, sizeof reason, nullptr, !dryRun)) {
        Print(err, "modextract: %s\n", reason);
        return EXIT_REFUSED;
    }

    WatchInterrupts();
    if (int status = InterruptExitStatus()) return status;  // stopped before the job began

    JobResult result = {};
    result.keepChangedList = dryRun;
    result.keepRemovedList = listRemoved;
    Progress progress = {};
    progress.err = err;
    progress.live = errIsTerminal && !quiet;
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
    parameters->originalPath = folders[0];
    parameters->moddedPath = folders[1];
    parameters->destinationPath = folders[2];
    parameters->report = &CliReport;
    parameters->result = &result;
    parameters->dryRun = dryRun;
    parameters->comparers = comparers;
    parameters->exclusions = &Exclusions;
    ExtractionJob(parameters);

    if (dryRun) {
        // Copy order: the changed list from its end.
        for (uint32_t at = result.changedList.count; at-- > 0;) {
            const ChangedFile* changed = ChangedAt(&result.changedList, at);
            ListEntry(out, (changed->flags & CHANGED_NEW) ? 'A' : 'M', &result.moddedTree, changed->file, null);
        }
    }
    if (listRemoved)  // empty when the job was stopped before it knew
        for (uint32_t at = 0; at < result.removedList.count; ++at)
            ListEntry(out, 'D', &result.originalTree, *(const uint32_t*)ItemAt(&result.removedList, at), null);

    for (Problem* problem = result.problems; problem; problem = problem->next) {
        if (!problem->failure && quiet) continue;
        char text[512];
        DescribeProblem(problem, text, sizeof text);
        Print(err, "modextract: %s", problem->failure ? "" : "warning: ");
        PutPath(err, problem->path);
        Print(err, ": %s\n", text);
    }
    uint32_t listedProblems = 0;
    for (Problem* problem = result.problems; problem; problem = problem->next) ++listedProblems;
    if (listedProblems < result.failures + result.warnings)
        Print(err, "modextract: %u more problems could not be stored (out of memory)\n",
              result.failures + result.warnings - listedProblems);

    if (!quiet) {
        const char* destination = folders[2];
        size_t length = strlen(destination);
        char separator[2] = {PathSeparator(), '\0'};
        if (length && IsPathSeparator(destination[length - 1])) separator[0] = '\0';
        char excluded[32] = "";
        if (result.excludedModded) snprintf(excluded, sizeof excluded, ", %u excluded", result.excludedModded);
        char uncompared[80] = "";
        if (result.uncompared)
            snprintf(uncompared, sizeof uncompared, ", %u of them not compared (original unreadable)", result.uncompared);
        char removed[96] = "";
        if (result.removedFiles)
            snprintf(removed, sizeof removed, ", %u removed (a mod cannot carry these%s)", result.removedFiles,
                     listRemoved ? "" : "; --removed lists them");
        if (result.abandoned || result.refused) {
            // Said below, whatever --quiet asks; a refusal is its problem.
        } else if (result.newFiles + result.changedFiles == 0) {
            Print(err, "modextract: %u files scanned%s, nothing new or changed%s; nothing written\n",
                  result.moddedFiles, excluded, removed);
        } else if (dryRun) {
            Print(err, "modextract: %u files scanned%s, %u new, %u changed%s would go to ", result.moddedFiles,
                  excluded, result.newFiles, result.changedFiles, uncompared);
            PutPath(err, destination);
            Print(err, "%sData%s\n", separator, removed);
        } else {
            Print(err, "modextract: %u files scanned%s, %u new, %u changed%s, %u failed%s; mod in ",
                  result.moddedFiles, excluded, result.newFiles, result.changedFiles, uncompared, result.failures,
                  removed);
            PutPath(err, destination);
            Print(err, "%sData\n", separator);
        }
    }
    int status = result.refused ? EXIT_REFUSED : result.failures ? EXIT_SOME_FAILED : EXIT_CLEAN;
    if (result.abandoned) {
        if (dryRun)
            Print(err, "modextract: interrupted: the list above is incomplete\n");
        else
            Print(err, "modextract: interrupted: %u files copied, %u not copied; no partial file left\n",
                  result.copiedFiles, result.notCopied);
        if (InterruptExitStatus()) status = InterruptExitStatus();
    }
    ReleaseJobResult(&result);
    return FinishOutput(out, err, status);
}
