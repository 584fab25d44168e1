#include "copyqueue.h"

#include <stdlib.h>
#include <string.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "filecompare.h"
#include "foldercheck.h"
#include "jobstate.h"

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

struct QueuedCopy {
    uint32_t file;  // in the job's ModdedTree
    CopyOutcome outcome;
    bool done;
};

enum { MAX_COPIERS = 8 };

static std::mutex Lock;
static std::condition_variable Queued;   // a copy was queued, or the copiers should stop
static std::condition_variable Finished; // a copy has ended
static QueuedCopy* Copies;
static uint32_t CopyCount;     // queued so far
static uint32_t CopyCapacity;
static uint32_t NextToStart;
static bool Stopping;
static std::thread Copiers[MAX_COPIERS];
static unsigned CopierCount;

// The job's stop: guarded by Lock, except the flag, which copies and comparisons
// in flight read between chunks and the index between entries. A stop
// stays raised until the front end clears it, so that one asked for before
// the job started, or while it set out, is not lost.
static std::atomic<bool> Abandoned;
static unsigned InFlight;                // copies started and not yet ended
static std::condition_variable Landed;   // InFlight fell to 0

// Per copier: the last folder it made, since neighbours share folders.
struct CopierState {
    char source[PATH_BUFFER_SIZE];
    char target[PATH_BUFFER_SIZE];
    char folder[PATH_BUFFER_SIZE];
    char lastFolderMade[PATH_BUFFER_SIZE];
    char resolved[PATH_BUFFER_SIZE];
    unsigned char* chunk;  // page-aligned CHUNK_SIZE bytes, or null: copies go in the kernel only
};

static CopierState InlineState;  // for copies made on the awaiting thread

// Folders below the destination's Data folder that were made or checked by
// this job, shared by the copiers: each folder is checked once. Open
// addressing over heap copies of the paths.
static std::mutex FolderLock;
static char** KnownFolders;
static uint32_t KnownMask;
static uint32_t KnownCount;

// Held while a copier checks the folders on its way (PrepareFolder).
static std::mutex CheckLock;

static bool FolderKnown(const char* folder, size_t length) {
    std::lock_guard<std::mutex> hold(FolderLock);
    if (!KnownFolders) return false;
    for (uint32_t slot = HashPath(folder, length) & KnownMask; KnownFolders[slot]; slot = (slot + 1) & KnownMask)
        if (strncmp(KnownFolders[slot], folder, length) == 0 && KnownFolders[slot][length] == '\0') return true;
    return false;
}

// Remembers a checked folder. When memory runs out it is simply checked
// again next time, which costs time, not safety.
static void RememberFolder(const char* folder, size_t length) {
    std::lock_guard<std::mutex> hold(FolderLock);
    if (2 * (KnownCount + 1) > KnownMask + 1 || !KnownFolders) {
        uint32_t slots = KnownFolders ? 2 * (KnownMask + 1) : 1024;
        char** grown = (char**)calloc(slots, sizeof(char*));
        if (!grown) return;
        for (uint32_t i = 0; KnownFolders && i <= KnownMask; ++i) {
            if (!KnownFolders[i]) continue;
            uint32_t slot = HashPath(KnownFolders[i], strlen(KnownFolders[i])) & (slots - 1);
            while (grown[slot]) slot = (slot + 1) & (slots - 1);
            grown[slot] = KnownFolders[i];
        }
        free(KnownFolders);
        KnownFolders = grown;
        KnownMask = slots - 1;
    }
    uint32_t slot = HashPath(folder, length) & KnownMask;
    for (; KnownFolders[slot]; slot = (slot + 1) & KnownMask)
        if (strncmp(KnownFolders[slot], folder, length) == 0 && KnownFolders[slot][length] == '\0') return;
    char* copy = (char*)malloc(length + 1);
    if (!copy) return;
    memcpy(copy, folder, length);
    copy[length] = '\0';
    KnownFolders[slot] = copy;
    ++KnownCount;
}

static void ForgetFolders() {
    std::lock_guard<std::mutex> hold(FolderLock);
    for (uint32_t i = 0; KnownFolders && i <= KnownMask; ++i) free(KnownFolders[i]);
    free(KnownFolders);
    KnownFolders = nullptr;
    KnownMask = KnownCount = 0;
}

struct Leftovers {
    char* folder;  // PATH_BUFFER_SIZE bytes of its own: the folder's path, extended in place
    size_t length;
};

// A temporary file of a killed run is junk of ours: it goes. One that
// cannot be removed is left; it harms nothing but the space it takes.
static bool RemoveLeftover(void* context, const FolderEntry* entry) {
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
static SysError CheckFolder(char* folder, size_t length, bool isData, char* resolved) {
    bool made = false;
    SysError error = isData ? Sys.createFolders(folder) : Sys.makeFolder(folder, &made);
    if (error) return error;
    if (!made) {
        error = Sys.resolvePath(folder, resolved, PATH_BUFFER_SIZE);
        if (error) return error;
        if (strcmp(resolved, Job.DataRoot) != 0 && !PathInside(resolved, Job.DataRoot)) return ENGINE_OUTSIDE_DATA;
        // The resolved path is done with; its buffer takes the leftovers' paths.
        memcpy(resolved, folder, length + 1);
        Leftovers found = {resolved, length};
        Sys.listFolder(folder, RemoveLeftover, &found);  // a folder that cannot be listed holds none we could remove
    }
    RememberFolder(folder, length);
    return 0;
}

// Makes the target folder and every missing folder between it and the
// Data folder, checking each folder on the way that this job has not met.
static SysError PrepareFolder(CopierState* state, size_t folderLength) {
    char* folder = state->folder;
    if (FolderKnown(folder, folderLength)) return 0;
    // One copier checks at a time: a folder becomes known only once its
    // leftovers are gone, and copies write into known folders alone, so a
    // clean-up never meets a temporary file of this run.
    std::lock_guard<std::mutex> checking(CheckLock);
    size_t dataLength = Job.DestinationRootLength + 5;  // separator and "Data"
    for (size_t end = dataLength; end <= folderLength; ++end) {
        if (end < folderLength && !IsPathSeparator(folder[end])) continue;
        char kept = folder[end];
        folder[end] = '\0';
        SysError error = 0;
        if (!FolderKnown(folder, end)) error = CheckFolder(folder, end, end == dataLength, state->resolved);
        folder[end] = kept;
        if (error) return error;
    }
    return 0;
}

bool JobAbandoned() {
    return Abandoned.load(std::memory_order_relaxed);
}

const std::atomic<bool>* JobStopFlag() {
    return &Abandoned;
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

static void Copy(uint32_t file, CopierState* state, CopyOutcome* outcome) {
    outcome->error = 0;
    outcome->copied = 0;
    outcome->kind = PROBLEM_COPY;
    outcome->targetSide = false;
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
        outcome->error = PrepareFolder(state, folderLength);
        if (outcome->error) {
            if (outcome->error != ENGINE_OUTSIDE_DATA) outcome->kind = PROBLEM_CREATE_FOLDER;
            outcome->targetSide = true;
            return;
        }
        memcpy(state->lastFolderMade, state->folder, folderLength + 1);
    }
    CopyRequest request = {state->source, state->target, FileSize(&Job.ModdedTree, file),
                           StampOf(&Job.ModdedTree, file), state->chunk, state->chunk ? CHUNK_SIZE : 0, &Abandoned};
    outcome->error = Sys.copyFile(&request, &outcome->copied);
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
static void CopyOne(uint32_t file, CopierState* state, CopyOutcome* outcome) {
    {
        std::lock_guard<std::mutex> hold(Lock);
        if (Abandoned.load(std::memory_order_relaxed)) {
            *outcome = CopyOutcome{ENGINE_ABANDONED, PROBLEM_COPY, 0, false};
            return;
        }
        ++InFlight;
    }
    Copy(file, state, outcome);
    std::lock_guard<std::mutex> hold(Lock);
    if (--InFlight == 0) Landed.notify_all();
}

static void CopierLoop(void*) {
    CopierState* state = (CopierState*)calloc(1, sizeof(CopierState));
    if (state) state->chunk = AllocateChunk(CHUNK_SIZE);
    std::unique_lock<std::mutex> hold(Lock);
    for (;;) {
        Queued.wait(hold, [] { return NextToStart < CopyCount || Stopping; });
        if (NextToStart == CopyCount) break;  // stopping, and nothing left
        uint32_t index = NextToStart++;
        uint32_t file = Copies[index].file;
        hold.unlock();
        CopyOutcome outcome;
        if (state) {
            CopyOne(file, state, &outcome);
        } else {
            outcome = CopyOutcome{ENGINE_OUT_OF_MEMORY, PROBLEM_COPY, 0, false};
        }
        hold.lock();
        Copies[index].outcome = outcome;
        Copies[index].done = true;
        Finished.notify_all();
    }
    hold.unlock();
    if (state) FreeChunk(state->chunk);
    free(state);
}

unsigned DefaultCopierCount() {
    unsigned cores = std::thread::hardware_concurrency();
    if (cores < 2) return 2;
    return cores < MAX_COPIERS ? cores : (unsigned)MAX_COPIERS;
}

void StopJob() {
    std::lock_guard<std::mutex> hold(Lock);  // a copy that starts after this sees it
    Abandoned.store(true);
}

void ClearJobStop() {
    std::lock_guard<std::mutex> hold(Lock);
    Abandoned.store(false);
}

void AbandonJob() {
    std::unique_lock<std::mutex> hold(Lock);
    Abandoned.store(true);
    Landed.wait(hold, [] { return InFlight == 0; });
}

void StartCopies(unsigned threads) {
    CopyCount = NextToStart = 0;
    Stopping = false;
    CopierCount = 0;
    InlineState.lastFolderMade[0] = '\0';  // a folder made by an earlier job may be gone
    if (!InlineState.chunk) InlineState.chunk = AllocateChunk(CHUNK_SIZE);  // kept for later jobs
    if (threads > MAX_COPIERS) threads = MAX_COPIERS;
    for (unsigned i = 0; i < threads && Sys.startThread(&Copiers[CopierCount], CopierLoop, nullptr); ++i)
        ++CopierCount;
}

void QueueCopy(ChangedFile* changed) {
    std::lock_guard<std::mutex> hold(Lock);
    if (CopyCount == CopyCapacity) {
        uint32_t grown = CopyCapacity ? CopyCapacity * 2 : 256;
        QueuedCopy* bigger = (QueuedCopy*)realloc(Copies, grown * sizeof(QueuedCopy));
        if (!bigger) {
            changed->slot = NOT_QUEUED;  // AwaitCopy copies it itself
            return;
        }
        Copies = bigger;
        CopyCapacity = grown;
    }
    changed->slot = CopyCount;
    Copies[CopyCount] = QueuedCopy{changed->file, CopyOutcome{0, PROBLEM_COPY, 0, false}, false};
    ++CopyCount;
    Queued.notify_one();
}

void AwaitCopy(const ChangedFile* changed, CopyOutcome* outcome) {
    if (CopierCount == 0 || changed->slot == NOT_QUEUED) {
        CopyOne(changed->file, &InlineState, outcome);
        return;
    }
    std::unique_lock<std::mutex> hold(Lock);
    uint32_t index = changed->slot;
    Finished.wait(hold, [index] { return Copies[index].done; });
    *outcome = Copies[index].outcome;
}

void StopCopies() {
    {
        std::lock_guard<std::mutex> hold(Lock);
        Stopping = true;
        Queued.notify_all();
    }
    for (unsigned i = 0; i < CopierCount; ++i) Copiers[i].join();
    CopierCount = 0;
    free(Copies);
    Copies = nullptr;
    CopyCount = CopyCapacity = NextToStart = 0;
    ForgetFolders();
}
