#include "options.h"

#include <errno.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "jobparameters.h"
#include "console.h"
#include "listing.h"

// LICENSE_FILE: the licence's name as the package holds it, set by the build.
const char VERSION_TEXT[] =
    "modextract 1.0.0\n"
    "Copyright (c) the Kessarandolin Mod Extractor authors.\n"
    "MIT licence: see " LICENSE_FILE "; THIRD-PARTY-NOTICES.txt names the parts of\n"
    "others that the programs carry.\n";

// Every line within 80 columns: a usage error points here, and the text
// must read well in a plain console window.
const char HELP_TEXT[] =
    "usage: modextract [-nqvz] [--removed] [--stale] [--jobs=N]\n"
    "                  [--exclude=PATTERN]... [--exclude-from=FILE]...\n"
    "                  ORIGINAL MODDED DESTINATION\n"
    "\n"
    "Copies every file of MODDED that is new or differs from the file at the same\n"
    "relative path in ORIGINAL into DESTINATION/Data, at that path: one mod that\n"
    "holds every change. ORIGINAL and MODDED are only read.\n"
    "\n"
    "  -n, --dry-run     write nothing; list what would be copied on standard output,\n"
    "                    'A path' for a new file, 'M path' for a changed one\n"
    "  -q, --quiet       no progress line, warnings or summary\n"
    "  -v, --verbose     list what the run copies, as -n lists what it would copy\n"
    "  -z, --null        end each listed entry with NUL, not a line break, and quote\n"
    "                    no name\n"
    "      --removed     also list the files of ORIGINAL that MODDED no longer has,\n"
    "                    as 'D path' (a mod cannot carry a removal)\n"
    "      --stale       also list the files already in DESTINATION/Data that this\n"
    "                    run neither copies nor would copy, as 'S path' (left there\n"
    "                    by an earlier run; nothing is deleted)\n"
    "      --exclude=PATTERN, --exclude PATTERN\n"
    "                    leave out what PATTERN matches, in both trees: '*' and '?'\n"
    "                    within a name, '[a-z]' '[!a]' one of a class, '**' any\n"
    "                    folders; '\\' quotes the next character (not on Windows);\n"
    "                    without '/' a name at any depth; a trailing '/' folders\n"
    "                    only; a leading '!' takes back what an earlier pattern\n"
    "                    left out (not below a folder left out)\n"
    "      --exclude-from=FILE, --exclude-from FILE\n"
    "                    the patterns in FILE ('-': standard input), one a line; a\n"
    "                    line whose first non-blank character is '#' is a comment,\n"
    "                    a '#' anywhere else is part of the pattern\n"
    "      --jobs=N, --jobs N\n"
    "                    compare N file pairs at once (1 to 8, default 4); --jobs=1\n"
    "                    reads one file at a time, best on a spinning hard disk\n"
    "  -h, --help        this text\n"
    "      --version     the program's version and licence\n"
    "\n"
    "Lists are sorted by path, with '/' between names ('\\' on Windows, sorted as\n"
    "'/'). A long option may be shortened to a prefix that names it alone.\n"
    "Exit status: 0 all went well, 1 some paths failed (each is named on standard\n"
    "error), 2 usage error or unusable folders (nothing written), 128 + the signal\n"
    "when stopped by SIGINT, SIGTERM, SIGHUP or SIGQUIT (130, 143, 129, 131).\n"
    "A name with a control character, a '\"', a '\\' or bytes that are not UTF-8 is\n"
    "shown quoted, as git does: \"a\\nb.txt\".\n"
    "The manual page modextract(1) tells the rest (on Windows: README.txt).\n";

__attribute__((format(printf, 2, 3)))
static void Refuse(CliOptions* options, const char* format, ...) {
    if (options->action == CLI_USAGE) return;  // the first fault is the one told
    options->action = CLI_USAGE;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(options->why, sizeof options->why, format, arguments);
    va_end(arguments);
}

// The long options; each may be shortened to a prefix that names it alone.
enum LongOption {
    OPTION_DRY_RUN, OPTION_QUIET, OPTION_NULL, OPTION_VERBOSE, OPTION_REMOVED, OPTION_STALE, OPTION_EXCLUDE,
    OPTION_EXCLUDE_FROM, OPTION_JOBS, OPTION_HELP, OPTION_VERSION, OPTION_COUNT, OPTION_NONE = OPTION_COUNT,
};
static const struct {
    const char* name;
    bool takesValue;
} LONG_OPTIONS[OPTION_COUNT] = {
    {"dry-run", false}, {"quiet", false}, {"null", false},    {"verbose", false}, {"removed", false},
    {"stale", false},   {"exclude", true}, {"exclude-from", true}, {"jobs", true}, {"help", false},
    {"version", false},
};

// The option that `arg` ("--name" or "--name=value") names, or OPTION_NONE
// after refusing it.
static LongOption FindLongOption(CliOptions* options, const char* arg) {
    const char* name = arg + 2;
    size_t length = strcspn(name, "=");
    LongOption found = OPTION_NONE;
    if (length == 0) {
        Refuse(options, "unknown option '%.200s'", arg);
        return OPTION_NONE;
    }
    int candidates = 0;
    for (int i = 0; i < OPTION_COUNT; ++i) {
        if (strncmp(LONG_OPTIONS[i].name, name, length) != 0) continue;
        if (LONG_OPTIONS[i].name[length] == '\0') return (LongOption)i;  // exact: --exclude, not --exclude-from
        found = (LongOption)i;
        ++candidates;
    }
    if (candidates == 1) return found;
    if (candidates == 0) {
        Refuse(options, "unknown option '%.200s'", arg);
        return OPTION_NONE;
    }
    char names[256] = "";
    for (int i = 0; i < OPTION_COUNT; ++i)
        if (strncmp(LONG_OPTIONS[i].name, name, length) == 0)
            snprintf(names + strlen(names), sizeof names - strlen(names), " '--%s'", LONG_OPTIONS[i].name);
    Refuse(options, "option '--%.*s' is ambiguous; it could be%s", (int)(length > 100 ? 100 : length), name, names);
    return OPTION_NONE;
}

// Windows names cannot hold '"', so an argument that does is cmd.exe's
// trailing backslash at work: in "D:\" the '\' escapes the closing quote.
static bool HoldsQuote(CliOptions* options, const char* arg) {
    if (!IsPathSeparator('\\') || !strchr(arg, '"')) return false;
    Refuse(options,
           "'%.200s' holds a '\"', which no Windows name can: a '\\' before a closing quote makes the quote part "
           "of the argument (\"D:\\\" arrives as D:\"); write \"D:\\\\\" or leave out the trailing '\\'",
           arg);
    return true;
}

static void AddPattern(CliOptions* options, const char* value, bool isFile) {
    if (options->patternCount == (int)(sizeof options->patterns / sizeof options->patterns[0])) {
        Refuse(options, "%s", "too many --exclude and --exclude-from options (256 at most)");
        return;
    }
    options->patterns[options->patternCount] = value;
    options->patternIsFile[options->patternCount++] = isFile;
}

// Takes the value of a long option that wants one.
static void TakeValue(CliOptions* options, LongOption option, const char* value) {
    if (option == OPTION_EXCLUDE) {
        if (!value || !value[0]) Refuse(options, "%s", "--exclude takes a pattern");
        else AddPattern(options, value, false);
    } else if (option == OPTION_EXCLUDE_FROM) {
        if (!value || !value[0]) Refuse(options, "%s", "--exclude-from takes a file ('-' for standard input)");
        else AddPattern(options, value, true);
    } else if (option == OPTION_JOBS) {
        char* end = nullptr;
        unsigned long n = value ? strtoul(value, &end, 10) : 0;
        if (!value || !value[0] || *end || n < 1 || n > MAX_COMPARERS)
            Refuse(options, "%s", "--jobs takes a number from 1 to 8");
        else options->comparers = (unsigned)n;
    }
}

void ParseOptions(int argc, char** argv, CliOptions* options) {
    memset(options, 0, sizeof *options);
    options->action = CLI_RUN;
    bool help = false, version = false, optionsEnded = false;
    int folderCount = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (HoldsQuote(options, arg)) {
            // refused; the other arguments are still read, as after any usage error
        } else if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
            if (folderCount < 3) options->folders[folderCount] = arg;
            ++folderCount;
        } else if (strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (arg[1] == '-') {
            LongOption option = FindLongOption(options, arg);
            if (option == OPTION_NONE) continue;
            const char* equals = strchr(arg, '=');
            if (!LONG_OPTIONS[option].takesValue) {
                if (equals) Refuse(options, "option '--%s' takes no value", LONG_OPTIONS[option].name);
            } else if (equals) {
                TakeValue(options, option, equals + 1);
            } else {
                const char* value = i + 1 < argc ? argv[++i] : nullptr;
                if (value && HoldsQuote(options, value)) continue;
                TakeValue(options, option, value);
            }
            if (option == OPTION_DRY_RUN) options->dryRun = true;
            else if (option == OPTION_QUIET) options->quiet = true;
            else if (option == OPTION_NULL) options->null = true;
            else if (option == OPTION_VERBOSE) options->verbose = true;
            else if (option == OPTION_REMOVED) options->listRemoved = true;
            else if (option == OPTION_STALE) options->listStale = true;
            else if (option == OPTION_HELP) help = true;
            else if (option == OPTION_VERSION) version = true;
        } else {
            for (const char* flag = arg + 1; *flag; ++flag) {
                char letter[2] = {*flag, '\0'};
                if (*flag == 'n') options->dryRun = true;
                else if (*flag == 'q') options->quiet = true;
                else if (*flag == 'z') options->null = true;
                else if (*flag == 'v') options->verbose = true;
                else if (*flag == 'h') help = true;
                else Refuse(options, "unknown option '-%s'", letter);
            }
        }
    }
    if (options->action == CLI_USAGE) return;
    if (help) options->action = CLI_HELP;
    else if (version) options->action = CLI_VERSION;
    else if (folderCount < 3) Refuse(options, "%s", "three folders are needed: ORIGINAL MODDED DESTINATION");
    else if (folderCount > 3) Refuse(options, "too many folders: '%.200s' is a fourth", argv[argc - 1]);
}

// Standard input as a pattern file reads it.
static bool ReadStream(void* context, void* buffer, size_t size, size_t* got, SysError* error) {
    FILE* in = (FILE*)context;
    *got = fread(buffer, 1, size, in);
    *error = 0;  // the C library's errno is no SysError: said as "cannot read"
    return !ferror(in);
}

// A pattern file that is a pipe, a FIFO or a device (process substitution,
// /dev/null) is read as a stream to its end: the engine's file reads take
// regular files only.
static bool AddExclusionsFromStream(ExclusionList* list, const char* path, char* why, size_t whySize) {
    FILE* stream = fopen(path, "rb");
    if (!stream) {
        snprintf(why, whySize, "%.300s: cannot read: %s", path, strerror(errno));
        return false;
    }
    bool fine = AddExclusionsFromReader(list, path, ReadStream, stream, why, whySize);
    fclose(stream);
    return fine;
}

bool LoadPatterns(CliOptions* options, FILE* in, ExclusionList* list) {
    InitExclusions(list);
    for (int i = 0; i < options->patternCount; ++i) {
        const char* value = options->patterns[i];
        char why[400];
        bool fine;
        EntryKind kind = ENTRY_FILE;
        FolderId id;
        if (!options->patternIsFile[i]) {
            fine = AddExclusion(list, value, why, sizeof why);
            if (!fine) {
                snprintf(options->why, sizeof options->why, "--exclude '%.200s': %.250s", value, why);
                return false;
            }
        } else if (strcmp(value, "-") == 0) {
            fine = AddExclusionsFromReader(list, "standard input", ReadStream, in, why, sizeof why);
        } else if (Sys.examine(value, &kind, &id) == 0 && kind == ENTRY_OTHER) {
            fine = AddExclusionsFromStream(list, value, why, sizeof why);
        } else {
            fine = AddExclusionsFromFile(list, value, why, sizeof why);
        }
        if (!fine) {
            snprintf(options->why, sizeof options->why, "%s", why);
            return false;
        }
        options->patternEnd[i] = list->count;
    }
    return true;
}

static void Put(FILE* stream, const char* text) {
    WriteText(stream, text, strlen(text));
}

void WarnUnmatchedPatterns(const CliOptions* options, const ExclusionList* list, FILE* err) {
    uint32_t first = 0;
    for (int i = 0; i < options->patternCount; first = options->patternEnd[i++]) {
        for (uint32_t at = first; at < options->patternEnd[i]; ++at) {
            if (list->matches[at].load(std::memory_order_relaxed)) continue;
            const char* pattern = GivenPattern(list, at);
            Put(err, "modextract: warning: ");
            if (!options->patternIsFile[i]) {
                Put(err, "--exclude");
            } else {
                char line[32];
                snprintf(line, sizeof line, ", line %u", list->patterns[at].line);
                if (strcmp(options->patterns[i], "-") == 0) Put(err, "standard input");
                else PutQuoted(err, options->patterns[i]);
                Put(err, line);
            }
            // In single quotes as the usage errors have it, unless it holds one.
            const char* quote = strchr(pattern, '\'') ? "\"" : "'";
            Put(err, options->patternIsFile[i] ? ": " : " ");
            Put(err, quote);
            Put(err, pattern);
            Put(err, quote);
            Put(err, " matched nothing");
            size_t length = strlen(pattern);
            // cmd.exe passes single quotes on as part of the argument.
            if (length > 2 && pattern[0] == '\'' && pattern[length - 1] == '\'') {
                Put(err, "; cmd.exe keeps single quotes as part of the pattern: write \"");
                WriteText(err, pattern + 1, length - 2);
                Put(err, "\" there");
            }
            Put(err, "\n");
        }
    }
}
