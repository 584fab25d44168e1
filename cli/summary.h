// The lines that end a modextract run on standard error: the summary of
// what the run found and did, and the counts of an interrupted run.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "jobresult.h"
#include "options.h"

// What the run found and did: every count on one line, the same in a dry
// run and a real one, so that an exit status of 1 always comes with its
// failed count; what the counts mean, when it needs saying, once on a line
// of its own. No program name in front, as the problems have: with a short
// destination the counts then fit 80 columns, removed and stale included.
// `staleCount` is the stale files found (0 when they were not looked for).
void PrintSummary(FILE* err, const CliOptions* options, const JobResult* result, uint32_t staleCount);

// An interrupted run's counts, which add up to the modded files: copied,
// already in place, to copy but not copied (in flight and failed
// included), unchanged, and never compared because the stop came first.
// `failed` is ", N failed" or "", put after the not-copied count.
void PrintInterrupted(FILE* err, const JobResult& result, const char* failed);
