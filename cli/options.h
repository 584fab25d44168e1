// modextract's command line read into a plain record, apart from running
// the job, so that every argument is looked at before anything happens.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "exclusions.h"

enum CliAction {
    CLI_RUN,      // three folders and options: run the job
    CLI_HELP,     // -h or --help
    CLI_VERSION,  // --version
    CLI_USAGE,    // the arguments are wrong: `why` says how
};

// Options and folders as given; the strings point into argv.
struct CliOptions {
    CliAction action;
    bool dryRun;
    bool quiet;
    bool null;
    bool listRemoved;
    bool listStale;
    bool verbose;
    unsigned comparers;     // 0: the engine's default
    const char* folders[3]; // ORIGINAL, MODDED, DESTINATION
    const char* patterns[256];  // the --exclude and --exclude-from values, in order
    bool patternIsFile[256];
    int patternCount;
    uint32_t patternEnd[256];   // after LoadPatterns: one past the last list entry each gave
    char why[512];          // for CLI_USAGE: one line, no program name, no line end
};

// Reads every argument of argv (argv[0] is the program's name) into
// `options`. A long option may be shortened to any prefix that names one
// option alone; an exact name always wins. An unknown or ambiguous option,
// a missing value, or, where names cannot hold '"' (Windows), an argument
// that holds one, is CLI_USAGE wherever it stands, --help and --version
// included; otherwise --help wins over --version, which wins over running. Patterns are only collected here:
// LoadPatterns reads and checks them.
void ParseOptions(int argc, char** argv, CliOptions* options);

// Adds the collected patterns to `list`, in the order given, and notes in
// patternEnd which entries of the list each option gave; a --exclude-from
// value "-" reads `in`, and one that names a pipe or a device is read to
// its end as `in` is. False, with one line in
// options->why, when a pattern is malformed or a file cannot be read.
bool LoadPatterns(CliOptions* options, FILE* in, ExclusionList* list);

// Writes to `err` one warning line for each pattern of `list` that matched
// nothing in the run just done, naming the option or the file and line
// that gave it, with a word on cmd.exe for one wrapped in single quotes.
void WarnUnmatchedPatterns(const CliOptions* options, const ExclusionList* list, FILE* err);

// The version line and the help text of --version and --help.
extern const char VERSION_TEXT[];
extern const char HELP_TEXT[];
