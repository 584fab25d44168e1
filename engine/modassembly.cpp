#include "modassembly.h"

#include <string.h>

#include "copyqueue.h"
#include "jobstate.h"
#include "report.h"

void AwaitCopies(CopyQueue* copies) {
    JobResult* result = Job.Result;
    char target[PATH_BUFFER_SIZE];
    char source[PATH_BUFFER_SIZE];
    // Copy order: the changed list from its end, the order the index met the files.
    for (uint32_t at = Job.ChangedList.count; at-- > 0;) {
        const ChangedFile* changed = ChangedAt(&Job.ChangedList, at);
        if (Job.DryRun) {
            // What the real run would fail for certain, the dry run names too.
            FilePath(&Job.ModdedTree, changed->file, source);
            if (BuildTargetPath(Job.DestinationRoot, RelativePath(source, Job.ModdedRootLength), target) == 0)
                RecordProblem(result, PROBLEM_COPY, true, ENGINE_PATH_TOO_LONG, source);
        } else {
            CopyOutcome outcome;
            AwaitCopy(copies, changed, &outcome);
            if (outcome.error == ENGINE_ABANDONED) {
                ++result->notCopied;  // not a failure: the user asked for it
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
        ++Job.CopyPosition;
        SetProgressPosition(Job.CopyPosition);
    }
}
