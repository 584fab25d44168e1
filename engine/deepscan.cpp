#include "deepscan.h"

#include <stdlib.h>
#include <string.h>

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
                        unsigned char* moddedChunk, SysError* error, const char** failedPath,
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
        *error = Sys.readFile(originalFile, originalChunk, CHUNK_SIZE, &originalGot);
        if (*error) *failedPath = original;
        else *error = Sys.readFile(moddedFile, moddedChunk, CHUNK_SIZE, &moddedGot);
        if (*error) break;
        *bytesRead += originalGot + moddedGot;
        if (originalGot != moddedGot || !ChunksEqual(originalChunk, moddedChunk, moddedGot)) {
            outcome = FILES_DIFFER;
            break;
        }
        if (moddedGot < CHUNK_SIZE) {  // both ended here
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

void DeepScan() {
    unsigned char* originalChunk = AllocateChunk(CHUNK_SIZE);
    unsigned char* moddedChunk = AllocateChunk(CHUNK_SIZE);
    OriginalIndex index;
    BuildOriginalIndex(Job.OriginalList, Job.OriginalRootLength, &index);

    for (FileNode* modded = Job.ModdedList; !IsSentinel(modded) && !JobAbandoned(); modded = modded->next) {
        const char* relative = RelativePath(modded, Job.ModdedRootLength);
        FileNode* original = FindOriginal(&index, relative, modded->length - Job.ModdedRootLength);
        if (!original) {
            PushChanged(modded, true);
        } else if (original->size != modded->size) {
            PushChanged(modded, false);  // no need to read a byte
        } else {
            SysError error;
            const char* failedPath;
            Comparison outcome = CompareFiles(original->path, modded->path, originalChunk, moddedChunk,
                                              &error, &failedPath, &Job.Result->bytesRead);
            if (outcome == FILES_NOT_COMPARED)
                RecordProblem(Job.Result, PROBLEM_COMPARE, false, error, failedPath);
            if (outcome != FILES_EQUAL) PushChanged(modded, false);
        }
        ++Job.ScanPosition;
        SetProgressPosition(Job.ScanPosition);
    }

    ReleaseOriginalIndex(&index);
    FreeChunk(originalChunk);
    FreeChunk(moddedChunk);
}
