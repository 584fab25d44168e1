#include "copyqueue.h"

#include <stdlib.h>
#include <string.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "job.h"
#include "modassembly.h"

struct QueuedCopy {
    FileNode* node;
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

// Per copier: the last folder it made, since neighbours share folders.
struct CopierState {
    char target[PATH_BUFFER_SIZE];
    char folder[PATH_BUFFER_SIZE];
    char lastFolderMade[PATH_BUFFER_SIZE];
};

static CopierState InlineState;  // for copies made on the awaiting thread

static void CopyOne(const FileNode* node, CopierState* state, CopyOutcome* outcome) {
    outcome->error = 0;
    outcome->copied = 0;
    outcome->kind = PROBLEM_COPY;
    size_t length = BuildTargetPath(Job.DestinationRoot, RelativePath(node, Job.ModdedRootLength), state->target);
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
        outcome->error = Sys.createFolders(state->folder);
        if (outcome->error) {
            outcome->kind = PROBLEM_CREATE_FOLDER;
            return;
        }
        memcpy(state->lastFolderMade, state->folder, folderLength + 1);
    }
    outcome->error = Sys.copyFile(node->path, state->target, &outcome->copied);
}

static void CopierLoop() {
    CopierState* state = (CopierState*)calloc(1, sizeof(CopierState));
    std::unique_lock<std::mutex> hold(Lock);
    for (;;) {
        Queued.wait(hold, [] { return NextToStart < CopyCount || Stopping; });
        if (NextToStart == CopyCount) break;  // stopping, and nothing left
        uint32_t index = NextToStart++;
        FileNode* node = Copies[index].node;
        hold.unlock();
        CopyOutcome outcome;
        if (state) {
            CopyOne(node, state, &outcome);
        } else {
            outcome = CopyOutcome{ENGINE_OUT_OF_MEMORY, PROBLEM_COPY, 0};
        }
        hold.lock();
        Copies[index].outcome = outcome;
        Copies[index].done = true;
        Finished.notify_all();
    }
    hold.unlock();
    free(state);
}

unsigned DefaultCopierCount() {
    unsigned cores = std::thread::hardware_concurrency();
    if (cores < 2) return 2;
    return cores < MAX_COPIERS ? cores : (unsigned)MAX_COPIERS;
}

void StartCopies(unsigned threads) {
    CopyCount = NextToStart = 0;
    Stopping = false;
    CopierCount = 0;
    InlineState.lastFolderMade[0] = '\0';  // a folder made by an earlier job may be gone
    if (threads > MAX_COPIERS) threads = MAX_COPIERS;
    for (unsigned i = 0; i < threads; ++i) Copiers[CopierCount++] = std::thread(CopierLoop);
}

void QueueCopy(FileNode* changed) {
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
    Copies[CopyCount] = QueuedCopy{changed, CopyOutcome{0, PROBLEM_COPY, 0}, false};
    ++CopyCount;
    Queued.notify_one();
}

void AwaitCopy(FileNode* changed, CopyOutcome* outcome) {
    if (CopierCount == 0 || changed->slot == NOT_QUEUED) {
        CopyOne(changed, &InlineState, outcome);
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
}
