#include "options.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "comparepool.h"

const char VERSION_TEXT[] =
    "modextract 1.0.0\n"
    "Copyright (c) the Kessarandolin Mod Extractor authors.\n"
    "MIT licence: see LICENSE; THIRD-PARTY-NOTICES.txt names the parts of others\n"
    "that the programs carry.\n";

// Every line within 80 columns: a usage error points here, and the text
// must read well in a plain console window.
const char HELP_TEXT[] =
    "usage: modextract [-nqz] [--removed] [--stale] [--jobs=N] [--exclude=PATTERN]...\n"
    "                  [--exclude-from=FILE]... ORIGINAL MODDED DESTINATION\n"
    "\n"
    "Copies every file of MODDED that is new or differs from the file at the same\n"
    "relative path in ORIGINAL into DESTINATION/Data, at that path: one mod that\n"
    "holds every change. ORIGINAL and MODDED are only read.\n"
    "\n"
    "  -n, --dry-run     write nothing; list what would be copied on standard output,\n"
    "                    'A path' for a new file, 'M path' for a changed one\n"
    "  -q, --quiet       no progress line, warnings or summary\n"
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
    "Lists are sorted by path. Exit status: 0 all went well, 1 some paths failed\n"
    "(each is named on standard error), 2 usage error or unusable folders (nothing\n"
    "written), 128 + the signal when stopped by SIGINT, SIGTERM, SIGHUP or SIGQUIT\n"
    "(130, 143, 129, 131). A name with a control character, a '\"', a '\\' or bytes\n"
    "that are not UTF-8 is shown quoted, as git does: \"a\\nb.txt\".\n"
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

// The value of option `name` ("--jobs"), given as "--jobs=4" or as the next
// argument, or null when `arg` is another option. A missing value is null
// in `*value` with true returned.
static bool OptionValue(const char* name, int argc, char** argv, int* i, const char** value) {
    const char* arg = argv[*i];
    size_t length = strlen(name);
    if (strncmp(arg, name, length) != 0) return false;
    if (arg[length] == '=') *value = arg + length + 1;
    else if (arg[length] != '\0') return false;
    else *value = *i + 1 < argc ? argv[++*i] : nullptr;
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

void ParseOptions(int argc, char** argv, CliOptions* options) {
    memset(options, 0, sizeof *options);
    options->action = CLI_RUN;
    bool help = false, version = false, optionsEnded = false;
    int folderCount = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = nullptr;
        if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
            if (folderCount < 3) options->folders[folderCount] = arg;
            ++folderCount;
        } else if (strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (strcmp(arg, "--dry-run") == 0) {
            options->dryRun = true;
        } else if (strcmp(arg, "--quiet") == 0) {
            options->quiet = true;
        } else if (strcmp(arg, "--null") == 0) {
            options->null = true;
        } else if (strcmp(arg, "--removed") == 0) {
            options->listRemoved = true;
        } else if (strcmp(arg, "--stale") == 0) {
            options->listStale = true;
        } else if (strcmp(arg, "--help") == 0) {
            help = true;
        } else if (strcmp(arg, "--version") == 0) {
            version = true;
        } else if (OptionValue("--exclude", argc, argv, &i, &value)) {
            if (!value || !value[0]) Refuse(options, "%s", "--exclude takes a pattern");
            else AddPattern(options, value, false);
        } else if (OptionValue("--exclude-from", argc, argv, &i, &value)) {
            if (!value || !value[0]) Refuse(options, "%s", "--exclude-from takes a file ('-' for standard input)");
            else AddPattern(options, value, true);
        } else if (OptionValue("--jobs", argc, argv, &i, &value)) {
            char* end = nullptr;
            unsigned long n = value ? strtoul(value, &end, 10) : 0;
            if (!value || !value[0] || *end || n < 1 || n > MAX_COMPARERS)
                Refuse(options, "%s", "--jobs takes a number from 1 to 8");
            else options->comparers = (unsigned)n;
        } else if (arg[1] == '-') {
            Refuse(options, "unknown option '%.200s'", arg);
        } else {
            for (const char* flag = arg + 1; *flag; ++flag) {
                char letter[2] = {*flag, '\0'};
                if (*flag == 'n') options->dryRun = true;
                else if (*flag == 'q') options->quiet = true;
                else if (*flag == 'z') options->null = true;
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

bool LoadPatterns(CliOptions* options, FILE* in, ExclusionList* list) {
    InitExclusions(list);
    for (int i = 0; i < options->patternCount; ++i) {
        const char* value = options->patterns[i];
        char why[400];
        bool fine;
        if (!options->patternIsFile[i]) {
            fine = AddExclusion(list, value, why, sizeof why);
            if (!fine) {
                snprintf(options->why, sizeof options->why, "--exclude '%.200s': %.250s", value, why);
                return false;
            }
        } else if (strcmp(value, "-") == 0) {
            fine = AddExclusionsFromReader(list, "standard input", ReadStream, in, why, sizeof why);
        } else {
            fine = AddExclusionsFromFile(list, value, why, sizeof why);
        }
        if (!fine) {
            snprintf(options->why, sizeof options->why, "%s", why);
            return false;
        }
    }
    return true;
}
