#include "modassembly.h"

#include <string.h>

#include "contract.h"
#include "copyqueue.h"
#include "originalindex.h"
#include "jobstate.h"
#include "report.h"
#include "paths.h"

// What stands in the way of the target of modded file `file` in the Data
// folder's listing `data` (`index` over it): a file where one of its
// folders is needed (ENGINE_NOT_A_FOLDER, as the folder's making fails),
// or a folder where it goes; 0 when nothing does. A file standing for a
// folder is asked once more what it leads to: a link to a folder is gone through.
static SysError InTheWay(const OriginalIndex* index, const FileTree* data, uint32_t file, ProblemKind* kind) {
    const FileTree* modded = &Job.ModdedTree;
    uint32_t chain[PATH_BUFFER_SIZE / 2];
    uint32_t depth = 0;
    for (uint32_t at = FileAt(modded, file)->folder; at != ROOT_FOLDER && depth < PATH_BUFFER_SIZE / 2;
         at = FolderAt(modded, at)->parent)
        chain[depth++] = at;
    uint32_t folder = ROOT_FOLDER;
    while (depth > 0) {
        const char* name = NameAt(modded, FolderAt(modded, chain[--depth])->name);
        uint32_t found = FindOriginalFolder(index, folder, name, strlen(name));
        if (found != NO_INDEX) {
            folder = found;
            continue;
        }
        uint32_t standing = FindOriginal(index, folder, name, strlen(name));
        if (standing == NO_INDEX) return 0;  // the folders from here on are made
        EntryKind what;
        FolderId id;
        char path[PATH_BUFFER_SIZE];
        if (FilePath(data, standing, path) == 0 || (Sys.examine(path, &what, &id) == 0 && what == ENTRY_FOLDER))
            return 0;
        *kind = PROBLEM_CREATE_FOLDER;
        return ENGINE_NOT_A_FOLDER;
    }
    const char* name = NameAt(modded, FileAt(modded, file)->name);
    if (FindOriginalFolder(index, folder, name, strlen(name)) == NO_INDEX) return 0;
    *kind = PROBLEM_COPY;
    return ENGINE_FOLDER_IN_THE_WAY;
}

// Whether a folder on the way from the Data folder to `target` leads
// outside the Data folder once resolved, as the real run's copy asks of
// each folder that stands: the dry run's verdict is then the same. The
// folders of the last target found clear (`*clear`, the folder's path)
// are not asked again; neighbours share them.
static bool LeadsOutside(const char* target, char* clear) {
    size_t folderLength = strlen(target);
    while (folderLength > Job.DataPathLength && !IsPathSeparator(target[folderLength - 1])) --folderLength;
    if (folderLength <= Job.DataPathLength + 1) return false;  // in the Data folder itself
    --folderLength;
    if (strncmp(clear, target, folderLength) == 0 && clear[folderLength] == '\0') return false;
    char folder[PATH_BUFFER_SIZE];
    char resolved[PATH_BUFFER_SIZE];
    memcpy(folder, target, folderLength);
    folder[folderLength] = '\0';
    for (size_t end = Job.DataPathLength + 1; end <= folderLength; ++end) {
        if (end < folderLength && !IsPathSeparator(folder[end])) continue;
        bool known = strncmp(clear, folder, end) == 0 && (clear[end] == '\0' || IsPathSeparator(clear[end]));
        if (known) continue;
        char kept = folder[end];
        folder[end] = '\0';
        SysError error = Sys.resolvePath(folder, resolved, sizeof resolved);
        folder[end] = kept;
        if (error) break;  // missing: the real run makes it, and the rest below it
        if (strcmp(resolved, Job.DataRoot) != 0 && !PathInside(resolved, Job.DataRoot)) return true;
    }
    memcpy(clear, folder, folderLength + 1);
    return false;
}

// The dry run's part: names what the real run would fail for certain.
// `clear`: see LeadsOutside.
static void NameCertainFailures(const ChangedFile* changed, const OriginalIndex* index, const FileTree* data,
                                char* source, char* target, char* clear) {
    JobResult* result = Job.Result;
    FilePath(&Job.ModdedTree, changed->file, source);
    if (changed->flags & CHANGED_CLASH) {
        RecordProblem(result, PROBLEM_COPY, true, ENGINE_NAME_CLASH, source);
        return;
    }
    if (BuildTargetPath(Job.DestinationRoot, RelativePath(source, Job.ModdedRootLength), target) == 0) {
        RecordProblem(result, PROBLEM_COPY, true, ENGINE_PATH_TOO_LONG, source);
        return;
    }
    ProblemKind kind = PROBLEM_COPY;
    SysError error = data ? InTheWay(index, data, changed->file, &kind) : 0;
    if (!error && data && LeadsOutside(target, clear)) error = ENGINE_OUTSIDE_DATA;
    if (error) RecordProblem(result, kind, true, error, target);  // named by the target, as the real run names it
}

// How one awaited copy ended, into the result.
static void TakeCopyOutcome(const CopyOutcome& outcome, const ChangedFile* changed, char* source, char* target) {
    JobResult* result = Job.Result;
    if (outcome.error) ++result->notCopied;
    if (outcome.error == ENGINE_ABANDONED) {
        // not a failure: the user asked for it
    } else if (outcome.error) {
        FilePath(&Job.ModdedTree, changed->file, source);
        // Named where it failed: a target that cannot be written is not the source's fault.
        const char* named = source;
        if (outcome.targetSide &&
            BuildTargetPath(Job.DestinationRoot, RelativePath(source, Job.ModdedRootLength), target) != 0)
            named = target;
        RecordProblem(result, outcome.kind, true, outcome.error, named);
    } else if (outcome.inPlace) {
        ++result->inPlace;
    } else {
        ++result->copiedFiles;
        result->bytesCopied += outcome.copied;
    }
}

void CreateMod(CopyQueue* copies, const FileTree* data) {
    char target[PATH_BUFFER_SIZE];
    char source[PATH_BUFFER_SIZE];
    char clear[PATH_BUFFER_SIZE] = "";
    OriginalIndex index = {};
    if (Job.DryRun && data) BuildOriginalIndex(data, &index);
    // Copy order: the changed list from its end, the order the index met the files.
    for (uint32_t at = Job.ChangedList.count; at-- > 0;) {
        const ChangedFile* changed = ChangedAt(&Job.ChangedList, at);
        if (Job.DryRun) {
            ENGINE_ASSERT(changed->slot == NOT_QUEUED);  // a dry run queues no copy
            NameCertainFailures(changed, &index, data, source, target, clear);
        } else if (changed->flags & CHANGED_CLASH) {
            FilePath(&Job.ModdedTree, changed->file, source);
            RecordProblem(Job.Result, PROBLEM_COPY, true, ENGINE_NAME_CLASH, source);
            ++Job.Result->notCopied;
        } else {
            CopyOutcome outcome;
            AwaitCopy(copies, changed, &outcome);
            TakeCopyOutcome(outcome, changed, source, target);
        }
        ++Job.CopyPosition;
        SetProgressPosition(Job.CopyPosition);
    }
    if (Job.DryRun && data) ReleaseOriginalIndex(&index);
}
