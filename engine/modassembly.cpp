#include "modassembly.h"

#include <string.h>

#include "job.h"
#include "report.h"

static const char DATA_FOLDER[] = "Data";

size_t BuildTargetPath(const char* destinationRoot, const char* relativePath, char* out) {
    size_t rootLength = strlen(destinationRoot);
    size_t relativeLength = strlen(relativePath);
    size_t length = rootLength + 1 + (sizeof DATA_FOLDER - 1) + relativeLength;
    if (length > PathLimit()) return 0;
    char* at = out;
    memcpy(at, destinationRoot, rootLength);
    at += rootLength;
    *at++ = PathSeparator();
    memcpy(at, DATA_FOLDER, sizeof DATA_FOLDER - 1);
    at += sizeof DATA_FOLDER - 1;
    memcpy(at, relativePath, relativeLength + 1);
    return length;
}

// The folder part of a target path: up to its last separator, which lies in
// the relative path (that starts with one).
static size_t FolderLength(const char* target, size_t length) {
    while (length > 0 && !IsPathSeparator(target[length - 1])) --length;
    return length > 0 ? length - 1 : 0;
}

void CreateMod() {
    static char target[PATH_BUFFER_SIZE];
    static char folder[PATH_BUFFER_SIZE];
    // Consecutive files mostly share a folder: make each one only once.
    static char lastFolderMade[PATH_BUFFER_SIZE];
    lastFolderMade[0] = '\0';
    JobResult* result = Job.Result;

    for (FileNode* changed = Job.ChangedList; !IsSentinel(changed); changed = changed->next) {
        size_t length = BuildTargetPath(Job.DestinationRoot, RelativePath(changed, Job.ModdedRootLength), target);
        if (length == 0) {
            RecordProblem(result, PROBLEM_COPY, true, ENGINE_PATH_TOO_LONG, changed->path);
        } else if (!Job.DryRun) {
            size_t folderLength = FolderLength(target, length);
            memcpy(folder, target, folderLength);
            folder[folderLength] = '\0';
            SysError error = 0;
            if (strcmp(folder, lastFolderMade) != 0) {
                error = Sys.createFolders(folder);
                if (error) RecordProblem(result, PROBLEM_CREATE_FOLDER, true, error, changed->path);
                else memcpy(lastFolderMade, folder, folderLength + 1);
            }
            if (!error) {
                uint64_t copied = 0;
                error = Sys.copyFile(changed->path, target, &copied);
                if (error) {
                    RecordProblem(result, PROBLEM_COPY, true, error, changed->path);
                } else {
                    ++result->copiedFiles;
                    result->bytesCopied += copied;
                }
            }
        }
        ++Job.CopyPosition;
        SetProgressPosition(Job.CopyPosition);
    }
}
