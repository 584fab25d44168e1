#include "folderguard.h"

#include <string.h>

#include "jobstate.h"

// A path of PATH_BUFFER_SIZE bytes has at most half as many folders.
enum { MAX_GUARDED = PATH_BUFFER_SIZE / 2 + 1 };

// Only the job's thread (or the one setting it up) touches these.
static FolderId Guarded[MAX_GUARDED];
static size_t GuardedCount;

void GuardDataFolder(const char* data) {
    GuardedCount = 0;
    char folder[PATH_BUFFER_SIZE];
    size_t length = strlen(data);
    if (length >= sizeof folder) return;
    memcpy(folder, data, length + 1);
    while (length > 0 && GuardedCount < MAX_GUARDED) {
        EntryKind kind;
        FolderId id;
        if (Sys.examine(folder, &kind, &id) == 0 && kind == ENTRY_FOLDER && id.index != 0) Guarded[GuardedCount++] = id;
        // One folder up; a root ("/", "C:\") keeps its separator and ends the walk.
        size_t up = length;
        while (up > 0 && !IsPathSeparator(folder[up - 1])) --up;
        if (up == 0) break;
        if (up <= 2 && IsPathSeparator(folder[0]) && IsPathSeparator(folder[1])) break;  // "\\server" is no folder
        size_t kept = up;
        while (kept > 1 && IsPathSeparator(folder[kept - 1])) --kept;
        if (kept > 0 && folder[kept - 1] == ':') ++kept;  // "C:" + separator
        if (kept >= length) break;
        folder[kept] = '\0';
        length = kept;
    }
}

bool IsGuardedFolder(const FolderId& id) {
    if (id.index == 0) return false;
    for (size_t i = 0; i < GuardedCount; ++i)
        if (Guarded[i].index == id.index && Guarded[i].volume == id.volume) return true;
    return false;
}

void ForgetGuardedFolders() {
    GuardedCount = 0;
}

bool GuardMet(const FolderId& id) {
    if (!IsGuardedFolder(id)) return false;
    if (!Job.Result->refused) {
        Job.Result->refused = true;
        RecordProblem(Job.Result, PROBLEM_REFUSED, true, ENGINE_DATA_IN_INPUT, Job.DataRoot);
    }
    return true;
}
