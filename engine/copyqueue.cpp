#include "copyqueue.h"

#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <thread>

#include "filecompare.h"
#include "foldercheck.h"
#include "holdwait.h"
#include "jobstate.h"
#include "jobstop.h"
#include "paths.h"

void InitChangedList(BlockList* list) {
    InitBlockList(list, sizeof(ChangedFile), 12);  // 4,096 entries a block
}

// `*made`: whether this job made the folder, when it is known.
static bool FolderKnown(CopyQueue* queue, const char* folder, size_t length, bool* made) {
    std::lock_guard<std::mutex> hold(queue->folderLock);
    if (!queue->knownFolders) return false;
    for (uint32_t slot = HashPath(folder, length) & queue->knownMask; queue->knownFolders[slot]; slot = (slot + 1) & queue->knownMask) {
        const char* known = queue->knownFolders[slot];
        if (strncmp(known, folder, length) == 0 && known[length] == '\0') {
            *made = known[length + 1] != 0;
            return true;
        }
    }
    return false;
}

// Remembers a checked folder. When memory runs out it is simply checked
// again next time, which costs time, not safety.
static void RememberFolder(CopyQueue* queue, const char* folder, size_t length, bool made) {
    std::lock_guard<std::mutex> hold(queue->folderLock);
    if (2 * (queue->knownCount + 1) > queue->knownMask + 1 || !queue->knownFolders) {
        uint32_t slots = queue->knownFolders ? 2 * (queue->knownMask + 1) : 1024;
        char** grown = (char**)calloc(slots, sizeof(char*));
        if (!grown) return;
        for (uint32_t i = 0; queue->knownFolders && i <= queue->knownMask; ++i) {
            if (!queue->knownFolders[i]) continue;
            uint32_t slot = HashPath(queue->knownFolders[i], strlen(queue->knownFolders[i])) & (slots - 1);
            while (grown[slot]) slot = (slot + 1) & (slots - 1);
            grown[slot] = queue->knownFolders[i];
        }
        free(queue->knownFolders);
        queue->knownFolders = grown;
        queue->knownMask = slots - 1;
    }
    uint32_t slot = HashPath(folder, length) & queue->knownMask;
    for (; queue->knownFolders[slot]; slot = (slot + 1) & queue->knownMask)
        if (strncmp(queue->knownFolders[slot], folder, length) == 0 && queue->knownFolders[slot][length] == '\0') return;
    char* copy = (char*)malloc(length + 2);
    if (!copy) return;
    memcpy(copy, folder, length);
    copy[length] = '\0';
    copy[length + 1] = made;
    queue->knownFolders[slot] = copy;
    ++queue->knownCount;
}

static void ForgetFolders(CopyQueue* queue) {
    std::lock_guard<std::mutex> hold(queue->folderLock);
    for (uint32_t i = 0; queue->knownFolders && i <= queue->knownMask; ++i) free(queue->knownFolders[i]);
    free(queue->knownFolders);
    queue->knownFolders = nullptr;
    queue->knownMask = queue->knownCount = 0;
}

struct Leftovers {
    char* folder;  // PATH_BUFFER_SIZE bytes of its own: the folder's path, extended in place
    size_t length;
};

// A temporary file of a killed run is junk of ours: it goes. One that
// cannot be removed is left; it harms nothing but the space it takes. A
// stop ends the listing at the next entry: the copy that asked for it ends
// before its first chunk anyway.
static bool RemoveLeftover(void* context, const FolderEntry* entry) {
    if (StopRequested()) return false;
    Leftovers* found = (Leftovers*)context;
    if (entry->kind != ENTRY_FILE || !IsTemporaryName(entry->name)) return true;
    if (found->length + 1 + entry->nameLength > PathLimit()) return true;
    found->folder[found->length] = PathSeparator();
    memcpy(found->folder + found->length + 1, entry->name, entry->nameLength + 1);
    Sys.removeFile(found->folder);
    found->folder[found->length] = '\0';
    return true;
}

// Makes or meets one folder below (or at) the Data folder, whose parent
// passed already: a folder that stood there may be a link, and is only
// used when it leads inside the Data folder as resolved at the start.
// `*made`: whether it was made now.
static SysError CheckFolder(CopyQueue* queue, char* folder, size_t length, bool isData, char* resolved, bool* made) {
    *made = false;
    SysError error = isData ? Sys.createFolders(folder) : Sys.makeFolder(folder, made);
    if (error) return error;
    if (!*made) {
        error = Sys.resolvePath(folder, resolved, PATH_BUFFER_SIZE);
        if (error) return error;
        if (strcmp(resolved, Job.DataRoot) != 0 && !PathInside(resolved, Job.DataRoot)) return ENGINE_OUTSIDE_DATA;
        // The resolved path is done with; its buffer takes the leftovers' paths.
        memcpy(resolved, folder, length + 1);
        Leftovers found = {resolved, length};
        Sys.listFolder(folder, RemoveLeftover, &found);  // a folder that cannot be listed holds none we could remove
    }
    RememberFolder(queue, folder, length, *made);
    return 0;
}

// Makes the target folder and every missing folder between it and the
// Data folder, checking each folder on the way that this job has not met.
// `*made`: whether this job made the target folder.
static SysError PrepareFolder(CopyQueue* queue, CopierState* state, size_t folderLength, bool* made) {
    char* folder = state->folder;
    if (FolderKnown(queue, folder, folderLength, made)) return 0;
    // One copier checks at a time: a folder becomes known only once its
    // leftovers are gone, and copies write into known folders alone, so a
    // clean-up never meets a temporary file of this run.
    std::lock_guard<std::mutex> checking(queue->checkLock);
    size_t dataLength = Job.DataPathLength;
    for (size_t end = dataLength; end <= folderLength; ++end) {
        if (end < folderLength && !IsPathSeparator(folder[end])) continue;
        char kept = folder[end];
        folder[end] = '\0';
        SysError error = 0;
        if (!FolderKnown(queue, folder, end, made)) error = CheckFolder(queue, folder, end, end == dataLength, state->resolved, made);
        folder[end] = kept;
        if (error) return error;
    }
    return 0;
}

// Whether a copy that failed with `error` failed on the target's side: the
// copy does not say, but a source that can still be opened for reading
// was not what stood in the way.
static bool TargetFailed(const char* source, SysError error) {
    if (error == ENGINE_SOURCE_CHANGED || error == ENGINE_ABANDONED || error == ENGINE_PATH_TOO_LONG) return false;
    FileHandle file = INVALID_FILE;
    if (Sys.openForReading(source, &file) != 0) return false;
    Sys.closeFile(file);
    return true;
}

static void CloseSource(CopyQueue* queue, FileHandle* source) {
    if (*source == INVALID_FILE) return;
    Sys.closeFile(*source);
    *source = INVALID_FILE;
    queue->keptSources.fetch_sub(1, std::memory_order_relaxed);
}

enum TargetCheck { TARGET_TO_COPY, TARGET_IN_PLACE, TARGET_STOPPED };

// Whether the request's target holds its source's bytes already, read in
// halves of the copier's chunk like a pair of the scan. A source the
// request does not hold open yet is opened here and, unless the target
// was found in place, handed to the copy through the request (and
// `*opened`, for the caller to close): the check costs the copy no second
// open. The source must have held still while it was read, as the scan's
// equal pairs must; a target written meanwhile is someone else's write,
// as it would be after a copy.
static TargetCheck CheckTarget(CopyRequest* request, FileHandle* opened, unsigned char* chunk) {
    if (!chunk) return TARGET_TO_COPY;
    FileHandle target = INVALID_FILE;
    uint64_t targetSize = 0;
    // Missing, a link, a folder, held or unreadable: the copy deals with it as ever.
    if (Sys.openTarget(request->target, &target, &targetSize) != 0) return TARGET_TO_COPY;
    TargetCheck check = TARGET_TO_COPY;
    FileHandle source = request->sourceOpen ? request->sourceFile : INVALID_FILE;
    bool sizeMayMatch = request->size == SIZE_UNKNOWN || request->size == targetSize;
    if (sizeMayMatch && source == INVALID_FILE && Sys.openListed(request->source, &source) == 0) {
        uint64_t size = 0, stamp = 0;
        if (Sys.examineOpenFile(source, &size, &stamp) != 0 ||
            (request->stamp && (size != request->size || stamp != request->stamp))) {
            Sys.closeFile(source);  // the copy opens it anew and names what fails
            source = INVALID_FILE;
        } else {
            request->size = size;
            request->stamp = stamp;
            request->sourceOpen = true;
            request->sourceFile = *opened = source;
        }
    }
    if (source != INVALID_FILE && request->size == targetSize) {
        const size_t half = CHUNK_SIZE / 2;
        unsigned char* mine = chunk;
        unsigned char* theirs = chunk + half;
        bool equal = true;
        for (uint64_t at = 0; equal && at < targetSize; at += half) {
            if (request->stop && request->stop->load(std::memory_order_relaxed)) {
                Sys.closeFile(target);
                return TARGET_STOPPED;
            }
            size_t round = targetSize - at < half ? (size_t)(targetSize - at) : half;
            size_t gotMine = 0, gotTheirs = 0;
            equal = Sys.readAt(source, at, mine, round, &gotMine) == 0 && gotMine == round &&
                    Sys.readAt(target, at, theirs, round, &gotTheirs) == 0 && gotTheirs == round &&
                    ChunksEqual(mine, theirs, round);
        }
        uint64_t size = 0, stamp = 0;
        if (equal && Sys.examineOpenFile(source, &size, &stamp) == 0 && size == request->size &&
            stamp == request->stamp) {
            bool set = false;
            Sys.matchTimes(target, source, &set);  // the times are a courtesy, as with a copy
            check = TARGET_IN_PLACE;
        }
    }
    Sys.closeFile(target);
    return check;
}

// An open `*source` is held to the size and stamp in `queued`.
static void Copy(CopyQueue* queue, const QueuedCopy& queued, FileHandle* source, CopierState* state,
                 CopyOutcome* outcome) {
    uint32_t file = queued.file;
    outcome->error = 0;
    outcome->copied = 0;
    outcome->kind = PROBLEM_COPY;
    outcome->targetSide = false;
    outcome->inPlace = false;
    // The modded tree does not change while copies run: the copiers only read it.
    size_t length = 0;
    if (FilePath(&Job.ModdedTree, file, state->source) != 0)
        length = BuildTargetPath(Job.DestinationRoot, RelativePath(state->source, Job.ModdedRootLength), state->target);
    if (length == 0) {
        outcome->error = ENGINE_PATH_TOO_LONG;
        return;
    }
    // The relative path starts with a separator, so the last one lies within it.
    size_t folderLength = length;
    while (folderLength > 0 && !IsPathSeparator(state->target[folderLength - 1])) --folderLength;
    --folderLength;
    memcpy(state->folder, state->target, folderLength);
    state->folder[folderLength] = '\0';
    if (strcmp(state->folder, state->lastFolderMade) != 0) {
        outcome->error = PrepareFolder(queue, state, folderLength, &state->lastFolderNew);
        if (outcome->error) {
            if (outcome->error != ENGINE_OUTSIDE_DATA) outcome->kind = PROBLEM_CREATE_FOLDER;
            outcome->targetSide = true;
            return;
        }
        memcpy(state->lastFolderMade, state->folder, folderLength + 1);
    }
    bool open = *source != INVALID_FILE;
    CopyRequest request = {state->source, state->target, open ? queued.size : FileSize(&Job.ModdedTree, file),
                           open ? queued.stamp : StampOf(&Job.ModdedTree, file), state->chunk, state->chunk ? CHUNK_SIZE : 0, JobStopFlag(), WaitOutHold,
                           false, INVALID_FILE, &Sys};
    // The comparison's handle is held to the size and stamp it saw: without a stamp the copy opens anew.
    request.sourceOpen = open && request.stamp != 0;
    request.sourceFile = *source;
    FileHandle opened = INVALID_FILE;
    if (queue->targetsMayExist && !state->lastFolderNew) {
        TargetCheck check = CheckTarget(&request, &opened, state->chunk);
        if (check != TARGET_TO_COPY) {
            if (opened != INVALID_FILE) Sys.closeFile(opened);
            outcome->inPlace = check == TARGET_IN_PLACE;
            if (check == TARGET_STOPPED) outcome->error = ENGINE_ABANDONED;
            return;
        }
    }
    outcome->error = Sys.copyFile(&request, &outcome->copied);
    CloseSource(queue, source);
    if (opened != INVALID_FILE) Sys.closeFile(opened);
    request.sourceOpen = false;
    if (outcome->error == ENGINE_SOURCE_CHANGED) {
        // Being written right now, or since it was compared: the new
        // version is the one the mod wants, if it holds still this time.
        request.stamp = 0;
        outcome->error = Sys.copyFile(&request, &outcome->copied);
    }
    if (outcome->error) outcome->targetSide = TargetFailed(state->source, outcome->error);
}

// One copy, counted in flight so that AbandonJob can wait for it; none
// starts once the job was abandoned.
// `*source` is closed whatever happens.
static void CopyOne(CopyQueue* queue, const QueuedCopy& queued, FileHandle* source, CopierState* state,
                    CopyOutcome* outcome) {
    if (!BeginCopy()) {
        CloseSource(queue, source);
        *outcome = CopyOutcome{ENGINE_ABANDONED, PROBLEM_COPY, 0, false, false};
        return;
    }
    Copy(queue, queued, source, state, outcome);
    CloseSource(queue, source);  // a copy that failed before it began
    EndCopy();
}

static void CopierLoop(void* context) {
    CopyQueue* queue = (CopyQueue*)context;
    CopierState* state = (CopierState*)calloc(1, sizeof(CopierState));
    if (state) state->chunk = AllocateChunk(CHUNK_SIZE);
    std::unique_lock<std::mutex> hold(queue->workers.lock);
    for (;;) {
        queue->workers.wake.wait(hold, [queue] { return queue->nextToStart < queue->count || queue->workers.stopping; });
        if (queue->nextToStart == queue->count) break;  // stopping, and nothing left
        uint32_t index = queue->nextToStart++;
        QueuedCopy queued = queue->copies[index];  // the array may move once the lock is let go
        FileHandle source = queued.source;
        queue->copies[index].source = INVALID_FILE;
        hold.unlock();
        CopyOutcome outcome;
        if (state) {
            CopyOne(queue, queued, &source, state, &outcome);
        } else {
            CloseSource(queue, &source);
            outcome = CopyOutcome{ENGINE_OUT_OF_MEMORY, PROBLEM_COPY, 0, false, false};
        }
        hold.lock();
        queue->copies[index].outcome = outcome;
        queue->copies[index].done = true;
        if (index == queue->awaitFirst || index == queue->awaitLast) queue->finished.notify_all();
    }
    hold.unlock();
    if (state) FreeChunk(state->chunk);
    free(state);
}

unsigned DefaultCopierCount() {
    unsigned cores = Sys.coreCount();
    if (cores < 2) return 2;
    return cores < MAX_COPIERS ? cores : (unsigned)MAX_COPIERS;
}

void StartCopies(CopyQueue* queue, unsigned threads) {
    queue->copies = nullptr;
    queue->count = queue->capacity = queue->nextToStart = 0;
    queue->awaitFirst = queue->awaitLast = NOT_QUEUED;
    queue->knownFolders = nullptr;
    queue->knownMask = queue->knownCount = 0;
    queue->keptSources.store(0, std::memory_order_relaxed);
    queue->inlineState.lastFolderMade[0] = '\0';
    queue->inlineState.lastFolderNew = false;
    // Asked once: on a first extraction (no Data folder yet) no target is compared.
    queue->targetsMayExist = !Job.DryRun && Job.DataExisted;
    queue->inlineState.chunk = AllocateChunk(CHUNK_SIZE);
    if (threads > MAX_COPIERS) threads = MAX_COPIERS;
    StartWorkers(&queue->workers, threads, CopierLoop, queue);
}

enum { COPY_WAKE_BACKLOG = 8, AWAIT_BATCH = 8 };

void QueueCopy(CopyQueue* queue, ChangedFile* changed, FileHandle source, uint64_t size, uint64_t stamp) {
    std::lock_guard<std::mutex> hold(queue->workers.lock);
    if (queue->count == queue->capacity) {
        uint32_t grown = queue->capacity ? queue->capacity * 2 : 256;
        QueuedCopy* bigger = (QueuedCopy*)realloc(queue->copies, grown * sizeof(QueuedCopy));
        if (!bigger) {
            CloseSource(queue, &source);
            changed->slot = NOT_QUEUED;  // AwaitCopy copies it itself
            return;
        }
        queue->copies = bigger;
        queue->capacity = grown;
    }
    changed->slot = queue->count;
    queue->copies[queue->count] = QueuedCopy{changed->file, source, size, stamp, CopyOutcome{0, PROBLEM_COPY, 0, false, false}, false};
    ++queue->count;
    // Waking a copier for each copy costs two switches of threads per file;
    // a few copies wait for it instead, and AwaitCopy and StopCopies wake
    // them all.
    if (queue->count - queue->nextToStart >= COPY_WAKE_BACKLOG) queue->workers.wake.notify_one();
}

void AwaitCopy(CopyQueue* queue, const ChangedFile* changed, CopyOutcome* outcome) {
    if (changed->slot == NOT_QUEUED) {
        FileHandle none = INVALID_FILE;
        CopyOne(queue, QueuedCopy{changed->file, INVALID_FILE, 0, 0, {}, false}, &none, &queue->inlineState, outcome);
        return;
    }
    if (queue->workers.count == 0) {
        // Copied here; the queue's record keeps its handle until now.
        QueuedCopy queued;
        {
            std::lock_guard<std::mutex> hold(queue->workers.lock);
            queued = queue->copies[changed->slot];
            queue->copies[changed->slot].source = INVALID_FILE;
        }
        FileHandle source = queued.source;
        CopyOne(queue, queued, &source, &queue->inlineState, outcome);
        return;
    }
    std::unique_lock<std::mutex> hold(queue->workers.lock);
    uint32_t index = changed->slot;
    if (!queue->copies[index].done && queue->nextToStart < queue->count) queue->workers.wake.notify_all();
    // Woken once a few copies in a row are done, not for each: the one
    // awaited and the last of the batch, whichever ends second, wakes it.
    uint32_t last = queue->count - index > AWAIT_BATCH ? index + AWAIT_BATCH - 1 : queue->count - 1;
    queue->awaitFirst = index;
    queue->awaitLast = last;
    queue->finished.wait(hold, [queue, index, last] { return queue->copies[index].done && queue->copies[last].done; });
    queue->awaitFirst = queue->awaitLast = NOT_QUEUED;
    *outcome = queue->copies[index].outcome;
}

void StopCopies(CopyQueue* queue) {
    StopWorkers(&queue->workers);
    for (uint32_t i = 0; i < queue->count; ++i) CloseSource(queue, &queue->copies[i].source);  // copies never awaited
    free(queue->copies);
    queue->copies = nullptr;
    queue->count = queue->capacity = queue->nextToStart = 0;
    ForgetFolders(queue);
    FreeChunk(queue->inlineState.chunk);
    queue->inlineState.chunk = nullptr;
}
