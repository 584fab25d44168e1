// Copies of changed files made on worker threads, queued while the scan is
// still reading: creating a file costs far more than its bytes, and that
// cost then overlaps the comparing instead of following it.
#pragma once

#include <stdint.h>

#include "filelist.h"
#include "platform.h"
#include "problems.h"

// How one queued copy ended.
struct CopyOutcome {
    SysError error;    // 0: copied
    ProblemKind kind;  // what failed, when error is set
    uint64_t copied;   // bytes written
};

// Copiers a job starts: one per core, at least two so that a copy always
// overlaps the scan. More than the cores only made the copies contend.
unsigned DefaultCopierCount();

// Starts `threads` copiers for the running job (0: each copy is made when it
// is awaited, on the caller's thread; so are they all when no thread could
// be started). Targets are built from the job's
// DestinationRoot and ModdedRootLength, which must not change until StopCopies.
// Every folder a copy writes into must lie inside the job's DataRoot once
// resolved: a folder link on the way that leads elsewhere fails the copies
// below it with ENGINE_OUTSIDE_DATA, and nothing is written there. Leftover
// temporary files of an earlier run in a folder met on the way are removed.
// A copy whose source changed is made once more, then fails.
void StartCopies(unsigned threads);

// Queues the copy of a changed file of the job's ModdedTree and sets its
// slot. The tree must not change until StopCopies.
void QueueCopy(ChangedFile* changed);

// Waits until the copy of `changed` (queued before) has ended; copies it
// here when it could not be queued.
void AwaitCopy(const ChangedFile* changed, CopyOutcome* outcome);

// Lets the copiers finish what is queued, joins them and forgets the queue
// and the folders checked on the way.
void StopCopies();

// True once a stop was asked for (StopJob, AbandonJob in job.h) and not
// cleared since: nothing more is to be started.
bool JobAbandoned();

// The flag behind JobAbandoned, for loops that look at it between chunks.
const std::atomic<bool>* JobStopFlag();
