#include "jobbox.h"

#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

#include "joblists.h"
#include "paths.h"
#include "textconvert_win32.h"
#include "texts.h"

void AppendText(WideText* out, const char* format, ...) {
    char part[512];
    va_list arguments;
    va_start(arguments, format);
    int written = vsnprintf(part, sizeof part, format, arguments);
    va_end(arguments);
    if (written < 0 || out->used >= out->size - 1) return;
    int got = MultiByteToWideChar(TEXTS_CODE_PAGE, 0, part, -1, out->text + out->used, (int)(out->size - out->used));
    if (got > 0) out->used += (size_t)got - 1;
    else out->text[out->used] = L'\0';
}

void AppendPath(WideText* out, const char* path) {
    WCHAR line[PATH_BUFFER_SIZE + 64];
    // A text cut inside a character (a long system text) still shows, with
    // a stand-in for the cut character: this is a message, not a name.
    if (!WideFromUtf8(path, line, sizeof line / sizeof line[0]) &&
        MultiByteToWideChar(CP_UTF8, 0, path, -1, line, (int)(sizeof line / sizeof line[0])) <= 0)
        line[0] = L'\0';
    line[sizeof line / sizeof line[0] - 1] = L'\0';
    if (out->fit) CutToWidth(out->fit, line);
    size_t length = wcslen(line);
    if (out->used + length >= out->size) length = out->size - 1 - out->used;
    wmemcpy(out->text + out->used, line, length);
    out->used += length;
    out->text[out->used] = L'\0';
}

bool JobNeedsBox(const JobResult* result) {
    uint32_t stale = result->lists.staleKnown ? result->lists.stale.count : 0;
    return result->failures > 0 || stale > 0 || result->removedFiles > 0;
}

static void AppendMore(WideText* out, uint32_t count, uint32_t listed) {
    if (count <= listed) return;
    AppendText(out, "\n");
    AppendText(out, JOB_MORE_FAILURES_FORMAT, count - listed, count - listed);
}

// The first `limit` entries of the job's list `kind`, each on a line of
// its own, indented, and how many more there are.
static void AppendListed(WideText* out, const JobResult* result, ListKinds kind, uint32_t count, uint32_t limit) {
    ListCursor cursor = {};
    ListedEntry entry;
    char path[PATH_BUFFER_SIZE];
    uint32_t listed = 0;
    while (listed < limit && NextListed(result, kind, &cursor, &entry)) {
        AppendText(out, "\n    ");
        AppendPath(out, ListedPath(&entry, path));
        ++listed;
    }
    AppendMore(out, count, listed);
}

static void AppendFailures(WideText* out, const JobResult* result, uint32_t limit) {
    AppendText(out, JOB_FAILURES_FORMAT, result->failures, result->failures);
    if (result->warnings > 0) {
        AppendText(out, "\n");
        AppendText(out, JOB_WARNINGS_FORMAT, result->warnings, result->warnings);
    }
    AppendText(out, "\n");
    uint32_t listed = 0;
    for (const Problem* problem = result->problems; problem && listed < limit; problem = problem->next) {
        if (!problem->failure) continue;
        char why[300];
        DescribeProblem(problem, why, sizeof why);
        AppendText(out, "\n");
        AppendPath(out, problem->path);
        AppendText(out, "\n    ");
        AppendPath(out, why);  // system texts come in UTF-8 too
        ++listed;
    }
    AppendMore(out, result->failures, listed);
}

// What the mod holds and where, or that nothing was new or changed.
static void AppendOutcome(WideText* out, const JobResult* result) {
    if (result->newFiles + result->changedFiles == 0) {
        AppendText(out, JOB_NOTHING_FORMAT, result->moddedFiles, result->moddedFiles);
        return;
    }
    AppendText(out, JOB_DONE_FORMAT, result->newFiles, result->changedFiles, result->inPlace, result->newFiles,
               result->changedFiles, result->inPlace);
    AppendText(out, "\n");
    AppendPath(out, result->dataFolder);
}

static void BuildJobBox(WideText* out, const JobResult* result, uint32_t limit) {
    uint32_t stale = result->lists.staleKnown ? result->lists.stale.count : 0;
    out->used = 0;
    out->text[0] = L'\0';
    if (result->failures > 0) AppendFailures(out, result, limit);
    if (stale > 0) {
        if (out->used) AppendText(out, "\n\n");
        AppendText(out, JOB_STALE_FORMAT, stale, stale);
        AppendText(out, "\n");
        AppendPath(out, result->dataFolder);
        AppendListed(out, result, LIST_STALE, stale, limit);
        AppendText(out, "\n");
        AppendText(out, "%s", JOB_STALE_ADVICE);
    }
    if (result->removedFiles > 0) {
        if (out->used) AppendText(out, "\n\n");
        AppendText(out, JOB_REMOVED_FORMAT, result->removedFiles, result->removedFiles);
        AppendListed(out, result, LIST_REMOVED, result->removedFiles, limit);
    }
    if (!result->refused) {
        if (out->used) AppendText(out, "\n\n");
        AppendOutcome(out, result);
    }
}

void JobBoxText(const JobResult* result, const BoxFit* fit, WCHAR* text, size_t size) {
    WideText out = {text, size, 0, fit};
    for (uint32_t limit = JOB_FAILURES_LISTED;; --limit) {
        BuildJobBox(&out, result, limit);
        if (limit == 0 || BoxTextHeight(fit, text) <= fit->textHeight) return;
    }
}

void JobDoneText(const JobResult* result, WCHAR* text, size_t size) {
    WideText out = {text, size, 0, nullptr};
    text[0] = L'\0';
    AppendOutcome(&out, result);
}
