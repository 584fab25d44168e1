#include "filecompare.h"

#include <string.h>

#include "holdwait.h"

bool ChunksEqual(const unsigned char* original, const unsigned char* modded, size_t count) {
    return memcmp(original, modded, count) == 0;
}

struct FileState {
    uint64_t size;
    uint64_t stamp;
};

static SysError StateOf(FileHandle file, FileState* state) {
    return Sys.examineOpenFile(file, &state->size, &state->stamp);
}

static bool Moved(const FileState& before, const FileState& after) {
    return before.size != after.size || before.stamp != after.stamp;
}

static bool MovedSinceListed(const FileState& state, ListedFile listed) {
    return state.size != listed.size || (listed.stamp && state.stamp != listed.stamp);
}

Comparison CompareFiles(const char* original, const char* modded, ListedFile listed, unsigned char* originalChunk,
                        unsigned char* moddedChunk, size_t chunkSize, const std::atomic<bool>* stop,
                        SysError* error, const char** failedPath, uint64_t* bytesRead) {
    *error = 0;
    *failedPath = modded;
    if (!originalChunk || !moddedChunk) {
        *error = ENGINE_OUT_OF_MEMORY;
        return FILES_NOT_COMPARED;
    }
    FileHandle originalFile = INVALID_FILE;
    FileHandle moddedFile = INVALID_FILE;
    FileState originalOpened = {}, moddedOpened = {};
    Comparison outcome = FILES_NOT_COMPARED;
    *error = OpenWaitingOutHolds(original, &originalFile, stop);
    if (!*error) *error = StateOf(originalFile, &originalOpened);
    if (*error) *failedPath = original;
    if (!*error) *error = OpenWaitingOutHolds(modded, &moddedFile, stop);
    if (!*error) *error = StateOf(moddedFile, &moddedOpened);
    if (!*error && MovedSinceListed(moddedOpened, listed)) outcome = FILES_DIFFER;  // no need to read it
    while (!*error && outcome == FILES_NOT_COMPARED) {
        if (stop && stop->load(std::memory_order_relaxed)) {
            *error = ENGINE_ABANDONED;
            break;
        }
        size_t originalGot = 0;
        *error = Sys.readFile(originalFile, originalChunk, chunkSize, &originalGot);
        if (*error) {
            *failedPath = original;
            break;
        }
        *bytesRead += originalGot;
        // The modded file's part of the round is read in pieces of at most
        // CHUNK_SIZE, each compared at once while it is still in the
        // processor's cache: a big chunk read whole and compared after
        // would come back from memory. The disk still sees one run of reads
        // per file and round.
        size_t moddedGot = 0;
        while (moddedGot < chunkSize) {
            size_t piece = chunkSize - moddedGot < CHUNK_SIZE ? chunkSize - moddedGot : CHUNK_SIZE;
            size_t got = 0;
            *error = Sys.readFile(moddedFile, moddedChunk, piece, &got);
            if (*error) break;
            *bytesRead += got;
            if (moddedGot + got > originalGot || !ChunksEqual(originalChunk + moddedGot, moddedChunk, got)) {
                outcome = FILES_DIFFER;
                break;
            }
            moddedGot += got;
            if (got < piece) break;  // the modded file ended
        }
        if (*error || outcome != FILES_NOT_COMPARED) break;
        if (moddedGot != originalGot) outcome = FILES_DIFFER;
        else if (moddedGot < chunkSize) outcome = FILES_EQUAL;  // both ended here
    }
    if (outcome == FILES_EQUAL) {
        // Equal bytes prove nothing about a file written while it was read
        // (its first chunk changed after it was compared, a later one
        // before): only a file that held still is equal.
        FileState originalNow, moddedNow;
        *error = StateOf(originalFile, &originalNow);
        if (*error) *failedPath = original;
        else *error = StateOf(moddedFile, &moddedNow);
        if (*error) outcome = FILES_NOT_COMPARED;
        else if (Moved(originalOpened, originalNow) || Moved(moddedOpened, moddedNow)) outcome = FILES_DIFFER;
    }
    if (originalFile != INVALID_FILE) Sys.closeFile(originalFile);
    if (moddedFile != INVALID_FILE) Sys.closeFile(moddedFile);
    return outcome;
}
