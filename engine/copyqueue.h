// The copy queue and the changed list it takes its files from: copies of
// changed files made on worker threads, queued while the scan is still
// reading: creating a file costs far more than its bytes, and that cost
// then overlaps the comparing instead of following it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "filetree.h"
#include "platform.h"
#include "jobresult.h"
#include "workerpool.h"

// `slot` of a changed file that is in no copy queue.
const uint32_t NOT_QUEUED = 0xFFFFFFFFu;

// Entry of the changed list: a modded file to copy. Layout (12 bytes):
//   0  file   uint32  index of the file in the modded tree
//   4  slot   uint32  place in the copy queue, or NOT_QUEUED
//   8  flags  uint32  CHANGED_NEW, CHANGED_CLASH
enum : uint32_t {
    CHANGED_NEW = 1,    // no original at this relative path
    CHANGED_CLASH = 2,  // an earlier changed file has the same path as the platform compares
                        // names: this one cannot be carried, and is never copied
};
struct ChangedFile {
    uint32_t file;
    uint32_t slot;
    uint32_t flags;
};

// The changed list is a BlockList of ChangedFile in the order the scan
// found them; its list order (copy order) is that order backwards, which is
// the order the index met the files.
void InitChangedList(BlockList* list);
inline ChangedFile* ChangedAt(const BlockList* list, uint32_t index) {
    return (ChangedFile*)ItemAt(list, index);
}

// How one queued copy ended.
struct CopyOutcome {
    SysError error;    // 0: copied
    ProblemKind kind;  // what failed, when error is set
    uint64_t copied;   // bytes written
    bool targetSide;   // what failed was the target's folder or file, not the source
    bool inPlace;      // the target held the source's bytes already: nothing was written
};

// One copy in the queue: which file, and once `done`, how it ended.
struct QueuedCopy {
    uint32_t file;  // in the job's ModdedTree
    FileHandle source;  // its comparison's handle, kept for the copy, or INVALID_FILE
    uint64_t size, stamp;  // `source` as its comparison saw it
    CopyOutcome outcome;
    bool done;
};

// The most copiers a queue runs.
enum { MAX_COPIERS = 8 };

// Per copier: the last folder it made, since neighbours share folders.
struct CopierState {
    char source[PATH_BUFFER_SIZE];
    char target[PATH_BUFFER_SIZE];
    char folder[PATH_BUFFER_SIZE];
    char lastFolderMade[PATH_BUFFER_SIZE];
    bool lastFolderNew;  // lastFolderMade was made by this job: no target stands in it from before
    char resolved[PATH_BUFFER_SIZE];
    unsigned char* chunk;  // page-aligned CHUNK_SIZE bytes, or null: copies go in the kernel only
};

// The copies of one job, which owns the queue and hands it to the scan
// (which queues) and to the wait for the copies. The queue lives under the
// workers' lock; `wake` tells the copiers a copy was queued or they stop.
struct CopyQueue {
    WorkerPool workers;
    std::condition_variable finished;  // a copy has ended
    QueuedCopy* copies;
    uint32_t count;        // queued so far
    uint32_t capacity;
    uint32_t nextToStart;
    uint32_t awaitFirst, awaitLast;  // AwaitCopy waits for both to be done (NOT_QUEUED: nobody waits)
    CopierState inlineState;  // for copies made on the awaiting thread
    // The Data folder stood before the copies began, so a target may hold
    // its source's bytes already (a second extraction).
    bool targetsMayExist;
    // Folders below the destination's Data folder that were made or checked
    // by this job, shared by the copiers: each folder is checked once. Open
    // addressing over heap copies of the paths, each followed by a byte
    // that tells whether this job made the folder, under `folderLock`.
    std::mutex folderLock;
    char** knownFolders;
    uint32_t knownMask;
    uint32_t knownCount;
    std::mutex checkLock;  // held while a copier checks the folders on its way
    // Sources the comparisons left open for their copies (at most
    // OpenFilesToKeep()); a copy closes its own once made.
    std::atomic<unsigned> keptSources;
};

// Copiers a job starts: one per core, at least two so that a copy always
// overlaps the scan, and no more than the cores, beyond which the copies
// only contend.
unsigned DefaultCopierCount();

// Starts `queue` (its fields need no setting up) with `threads` copiers
// for the running job (0: each copy is made when it is awaited, on the
// caller's thread; so are they all when no thread could be started).
// Targets are built from the job's DestinationRoot and ModdedRootLength, which must not change until StopCopies.
// Every folder a copy writes into must lie inside the job's DataRoot once
// resolved: a folder link on the way that leads elsewhere fails the copies
// below it with ENGINE_OUTSIDE_DATA, and nothing is written there. Leftover
// temporary files of an earlier run in a folder met on the way are removed.
// A copy whose source changed is made once more, then fails.
// Unless the job is a dry run, and when the Data folder stood before the
// job (Job.DataExisted), a target that is a regular file of its source's
// size, in a folder this job did not make, is compared with the source
// chunk by chunk first: one that holds the same bytes is not written (its
// times are set to the source's when its last write time differs, as a
// copy would), and its outcome says inPlace. A link, a folder, a file of
// more than one name (a hard link, perhaps to an input file, whose times
// must never move) or a held file in the target's place, or one that cannot
// be read, is copied over as ever.
void StartCopies(CopyQueue* queue, unsigned threads);

// Queues the copy of a changed file of the job's ModdedTree and sets its
// slot. The tree must not change until StopCopies. `source`: the file
// already open (its comparison's handle, counted in keptSources), which the
// queue closes and the copy holds to `size` and `stamp` (as the comparison
// saw it); INVALID_FILE: the copy opens it.
void QueueCopy(CopyQueue* queue, ChangedFile* changed, FileHandle source = INVALID_FILE, uint64_t size = 0,
               uint64_t stamp = 0);

// Waits until the copy of `changed` (queued before) has ended; copies it
// here when it could not be queued.
void AwaitCopy(CopyQueue* queue, const ChangedFile* changed, CopyOutcome* outcome);

// Lets the copiers finish what is queued, joins them and forgets the queue
// and the folders checked on the way.
void StopCopies(CopyQueue* queue);
