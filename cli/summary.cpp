#include "summary.h"

#include <stdarg.h>
#include <string.h>

#include "listing.h"

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

void PrintSummary(FILE* err, const CliOptions* options, const JobResult* result, uint32_t staleCount) {
    char line[512] = "";
    AddToLine(line, sizeof line, "%u files", result->moddedFiles);
    if (result->excludedModded) AddToLine(line, sizeof line, ", %u excluded", result->excludedModded);
    bool nothing = result->newFiles + result->changedFiles == 0;
    if (nothing) AddToLine(line, sizeof line, ", nothing new or changed");
    else AddToLine(line, sizeof line, ", %u new, %u changed", result->newFiles, result->changedFiles);
    if (result->uncompared) AddToLine(line, sizeof line, ", %u not compared", result->uncompared);
    AddToLine(line, sizeof line, ", %u failed", result->failures);
    if (result->inPlace) AddToLine(line, sizeof line, ", %u already in place", result->inPlace);
    if (result->removedFiles) AddToLine(line, sizeof line, ", %u removed", result->removedFiles);
    if (staleCount) AddToLine(line, sizeof line, ", %u stale", staleCount);
    if (nothing) {
        Print(err, "%s; nothing written\n", line);
    } else {
        Print(err, "%s; %s ", line, options->dryRun ? "would go to" : "mod in");
        PutQuoted(err, result->dataFolder);  // as the job built it, quoted whole
        Print(err, "%s\n", options->dryRun ? " (dry run)" : "");
    }

    char hints[512] = "";
    if (result->uncompared)
        AddToLine(hints, sizeof hints, "; not compared: their original could not be read, so they count as changed");
    if (result->removedFiles)
        AddToLine(hints, sizeof hints, "; removed: a mod cannot carry these%s",
                  options->listRemoved ? "" : ", --removed lists them");
    if (staleCount)
        AddToLine(hints, sizeof hints, "; stale: left in Data by an earlier run%s",
                  options->listStale ? "" : ", --stale lists them");
    if (hints[0]) Print(err, "%s\n", hints + 2);
}

void PrintInterrupted(FILE* err, const JobResult& result, const char* failed) {
    char line[256] = "";
    AddToLine(line, sizeof line, "%u files copied", result.copiedFiles);
    if (result.inPlace) AddToLine(line, sizeof line, ", %u already in place", result.inPlace);
    AddToLine(line, sizeof line, ", %u not copied%s", result.notCopied, failed);
    uint32_t decided = result.moddedFiles - result.unscanned;
    uint32_t found = result.newFiles + result.changedFiles;
    if (decided > found) AddToLine(line, sizeof line, ", %u unchanged", decided - found);
    if (result.unscanned) AddToLine(line, sizeof line, ", %u never compared", result.unscanned);
    Print(err, "modextract: interrupted: %s; no partial file left\n", line);
}
