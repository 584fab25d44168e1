// The command-line front end: one extraction job on three folders.
#pragma once

#include <stdio.h>

// Exit statuses.
enum {
    EXIT_CLEAN = 0,      // the job ran and nothing failed
    EXIT_SOME_FAILED = 1,  // the job ran to its end, some paths failed
    EXIT_REFUSED = 2,    // usage error or unusable folders; nothing written
};

// Runs `modextract` with its arguments (argv[0] is the program's name).
// `--exclude-from -` reads `in`. The lists, and --help and --version, go
// to `out`; progress, problems and the summary to `err`. The live progress
// line is drawn only when `errIsTerminal`.
int RunModExtract(int argc, char** argv, FILE* in, FILE* out, FILE* err, bool errIsTerminal);
