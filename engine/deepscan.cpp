#include "deepscan.h"

#include <stdlib.h>
#include <string.h>

#include "comparepool.h"
#include "copyqueue.h"
#include "job.h"
#include "report.h"

uint32_t HashPath(const char* path, size_t length) {
    uint32_t hash = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < length; ++i) {
        hash ^= (unsigned char)path[i];
        hash *= 16777619u;
    }
    return hash;
}

static bool SameRelativePath(const FileNode* node, size_t rootLength, const char* relativePath,
                             size_t length) {
    return node->length - rootLength == length &&
           memcmp(node->path + rootLength, relativePath, length) == 0;
}

void BuildOriginalIndex(FileList originals, size_t rootLength, OriginalIndex* index) {
    index->list = originals;
    index->rootLength = rootLength;
    index->slots = nullptr;
    index->mask = 0;

    uint32_t count = CountFiles(originals);
    uint32_t slotCount = 16;
    while (slotCount < 2u * count && slotCount < 0x80000000u) slotCount *= 2;
    FileNode** slots = (FileNode**)calloc(slotCount, sizeof(FileNode*));
    if (!slots) return;
    uint32_t mask = slotCount - 1;

    for (FileNode* node = originals; !IsSentinel(node); node = node->next) {
        const char* relative = node->path + rootLength;
        size_t length = node->length - rootLength;
        uint32_t slot = HashPath(relative, length) & mask;
        // The list's first node with a given path wins, as a walk would find it.
        while (slots[slot] && !SameRelativePath(slots[slot], rootLength, relative, length))
            slot = (slot + 1) & mask;
        if (!slots[slot]) slots[slot] = node;
    }
    index->slots = slots;
    index->mask = mask;
}

void ReleaseOriginalIndex(OriginalIndex* index) {
    free(index->slots);
    index->slots = nullptr;
}

FileNode* FindOriginal(const OriginalIndex* index, const char* relativePath, size_t length) {
    if (!index->slots) {
        for (FileNode* node = index->list; !IsSentinel(node); node = node->next)
            if (SameRelativePath(node, index->rootLength, relativePath, length)) return node;
        return nullptr;
    }
    uint32_t slot = HashPath(relativePath, length) & index->mask;
    while (FileNode* node = index->slots[slot]) {
        if (SameRelativePath(node, index->rootLength, relativePath, length)) return node;
        slot = (slot + 1) & index->mask;
    }
    return nullptr;
}

bool ChunksEqual(const unsigned char* original, const unsigned char* modded, size_t count) {
    return memcmp(original, modded, count) == 0;
}

Comparison CompareFiles(const char* original, const char* modded, unsigned char* originalChunk,
                        unsigned char* moddedChunk, size_t chunkSize, SysError* error, const char** failedPath,
                        uint64_t* bytesRead) {
    *error = 0;
    *failedPath = modded;
    if (!originalChunk || !moddedChunk) {
        *error = ENGINE_OUT_OF_MEMORY;
        return FILES_NOT_COMPARED;
    }
    FileHandle originalFile = INVALID_FILE;
    FileHandle moddedFile = INVALID_FILE;
    Comparison outcome = FILES_NOT_COMPARED;
    *error = Sys.openForReading(original, &originalFile);
    if (*error) *failedPath = original;
    else *error = Sys.openForReading(modded, &moddedFile);
    while (!*error) {
        size_t originalGot = 0;
        size_t moddedGot = 0;
        *error = Sys.readFile(originalFile, originalChunk, chunkSize, &originalGot);
        if (*error) *failedPath = original;
        else *error = Sys.readFile(moddedFile, moddedChunk, chunkSize, &moddedGot);
        if (*error) break;
        *bytesRead += originalGot + moddedGot;
        if (originalGot != moddedGot || !ChunksEqual(originalChunk, moddedChunk, moddedGot)) {
            outcome = FILES_DIFFER;
            break;
        }
        if (moddedGot < chunkSize) {  // both ended here
            outcome = FILES_EQUAL;
            break;
        }
    }
    if (originalFile != INVALID_FILE) Sys.closeFile(originalFile);
    if (moddedFile != INVALID_FILE) Sys.closeFile(moddedFile);
    return outcome;
}

static void PushChanged(FileNode* modded, bool isNew) {
    JobResult* result = Job.Result;
    FileNode* node = PushPath(&Job.ChangedList, modded->path, modded->length, modded->size);
    if (!node) {
        RecordProblem(result, PROBLEM_COPY, true, ENGINE_OUT_OF_MEMORY, modded->path);
        return;
    }
    node->stamp = modded->stamp;
    if (isNew) {
        node->flags |= NODE_NEW;
        ++result->newFiles;
    } else {
        ++result->changedFiles;
    }
    ++Job.ChangedCount;
    if (!Job.DryRun) QueueCopy(node);
}

// A new or resized file is copied without being compared, so its copy is
// the first read of it, perhaps from a disk that does not hold it in
// memory. Asking for its first bytes now lets that read overlap the copies
// queued before it. Only a hint: the copy records whatever fails.
static void HintCopySource(const FileNode* modded) {
    Sys.adviseWillNeed(modded->path, modded->size < HINT_PER_FILE ? modded->size : HINT_PER_FILE);
}

// What the scan does with one modded file, decided from the listing alone.
enum PairKind { PAIR_NEW, PAIR_RESIZED, PAIR_TO_READ };

static PairKind MatchPair(const OriginalIndex* index, const FileNode* modded, FileNode** original) {
    const char* relative = RelativePath(modded, Job.ModdedRootLength);
    *original = FindOriginal(index, relative, modded->length - Job.ModdedRootLength);
    if (!*original) return PAIR_NEW;
    if ((*original)->size != modded->size) return PAIR_RESIZED;  // no need to read a byte
    return PAIR_TO_READ;
}

void DeepScan() {
    OriginalIndex index;
    BuildOriginalIndex(Job.OriginalList, Job.OriginalRootLength, &index);
    StartComparePool(Job.Comparers);

    // `ahead` runs in front of `modded`: every pair before it that needs
    // reading is in the pool's hands. Both walk the list in its order, so
    // the outcomes come back in the order the pairs were handed over.
    FileNode* ahead = Job.ModdedList;
    for (FileNode* modded = Job.ModdedList; !IsSentinel(modded) && !JobAbandoned(); modded = modded->next) {
        // Phase A: match and the size short-cut, in list order, handing the
        // pairs to read to the pool while its window has room. When nothing
        // is in flight there is always room, so `modded` itself is handed
        // over before its outcome is asked for.
        for (; !IsSentinel(ahead); ahead = ahead->next) {
            FileNode* original;
            if (MatchPair(&index, ahead, &original) != PAIR_TO_READ) continue;
            if (!RoomForPair(ahead->size)) break;
            SubmitPair(original->path, ahead->path, ahead->size);
        }

        // Phase B: this file's verdict, in list order: changed list, copy
        // queue, problems and position as with one read at a time.
        FileNode* original;
        PairKind kind = MatchPair(&index, modded, &original);
        if (kind != PAIR_TO_READ && !Job.DryRun) HintCopySource(modded);
        if (kind == PAIR_NEW) {
            PushChanged(modded, true);
        } else if (kind == PAIR_RESIZED) {
            PushChanged(modded, false);
        } else {
            PairOutcome outcome;
            TakeOutcome(&outcome);
            Job.Result->bytesRead += outcome.bytesRead;
            if (outcome.comparison == FILES_NOT_COMPARED)
                RecordProblem(Job.Result, PROBLEM_COMPARE, false, outcome.error,
                              outcome.originalFailed ? original->path : modded->path);
            if (outcome.comparison != FILES_EQUAL) PushChanged(modded, false);
        }
        ++Job.ScanPosition;
        SetProgressPosition(Job.ScanPosition);
    }

    StopComparePool();
    ReleaseOriginalIndex(&index);
}
