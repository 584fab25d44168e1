// The end-of-job box and word: what the window says at a job's end, a
// word in its own text after a job that went well, or one box after a job
// that lost files, or whose mod folder holds files it did not make, or
// that met files a mod cannot take away. Texts name paths as they are:
// they are wide.
#pragma once

#include <windows.h>

#include <stddef.h>

#include "boxfit.h"
#include "jobresult.h"

// A wide text being put together, cut where it would overflow its buffer.
struct WideText {
    WCHAR* text;
    size_t size;  // in units, the NUL included
    size_t used;
    const BoxFit* fit;  // cuts the paths to the box's width; null: nothing cut
};

// Appends one of the program's own texts (Windows-1252), formatted.
__attribute__((format(printf, 2, 3))) void AppendText(WideText* out, const char* format, ...);

// Appends a path or a system's text (UTF-8, as the engine holds them), cut
// in its middle to the box's width when `out` has a fit.
void AppendPath(WideText* out, const char* path);

// True when the job's end needs the box: failures, stale or removed files.
// A job refused before it wrote anything is told apart by the caller.
bool JobNeedsBox(const JobResult* result);

// The box's text: the failures, the stale files, the removed files (each
// list up to JOB_FAILURES_LISTED paths and how many more), then what the
// mod holds and where. Lists are shortened further, down to none, until
// the text fits `fit`'s height.
void JobBoxText(const JobResult* result, const BoxFit* fit, WCHAR* text, size_t size);

// The word after a job that needs no box: what the mod holds (new,
// changed, already in place) and the Data folder's path, or that there
// was nothing to copy.
void JobDoneText(const JobResult* result, WCHAR* text, size_t size);
