#include "filecompare.h"

#include <string.h>

#include <chrono>

#include "holdwait.h"

bool ChunksEqual(const unsigned char* original, const unsigned char* modded, size_t count) {
    return memcmp(original, modded, count) == 0;
}

// Has the open file moved since it was listed? A file that is no regular
// file (a FIFO or a device put in its place since the listing) fails here
// with ENGINE_NOT_REGULAR: its reads were bounded by the listed size, so
// nothing was read from it that counts.
static SysError MovedSinceListed(FileHandle file, uint64_t size, uint64_t stamp, bool* moved) {
    uint64_t nowSize = 0, nowStamp = 0;
    SysError error = Sys.examineOpenFile(file, &nowSize, &nowStamp);
    *moved = !error && (nowSize != size || (stamp && nowStamp != stamp));
    return error;
}

static SysError TimedRead(FileHandle file, void* buffer, size_t size, size_t* got, CompareCost* cost) {
    auto begun = std::chrono::steady_clock::now();
    SysError error = Sys.readFile(file, buffer, size, got);
    cost->readNanoseconds += (uint64_t)std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now() - begun).count();
    cost->bytesRead += *got;
    return error;
}

// Reads both files, as listed, chunk by chunk until they differ or end:
// FILES_EQUAL when both held the listed size all equal, FILES_DIFFER, or
// FILES_NOT_COMPARED with `*failure` set.
static Comparison CompareChunks(const CompareRequest* request, FileHandle originalFile, FileHandle moddedFile,
                                CompareFailure* failure, CompareCost* cost) {
    // The listed size bounds every read: a file that reached it is read to
    // its end in one call, with no second read to see the end, and a file
    // that grew since shows in its state afterwards.
    uint64_t left = request->listed->size;
    size_t chunkSize = request->chunkSize;
    for (;;) {
        if (left == 0) return FILES_EQUAL;  // both held the listed size, all equal
        if (request->stop && request->stop->load(std::memory_order_relaxed)) {
            failure->error = ENGINE_ABANDONED;
            return FILES_NOT_COMPARED;
        }
        size_t round = left < chunkSize ? (size_t)left : chunkSize;
        size_t originalGot = 0;
        failure->error = TimedRead(originalFile, request->originalChunk, round, &originalGot, cost);
        if (failure->error) {
            failure->path = request->original;
            return FILES_NOT_COMPARED;
        }
        // The modded file's part of the round is read in pieces of at most
        // CHUNK_SIZE, each compared at once while it is still in the
        // processor's cache: a big chunk read whole and compared after
        // would come back from memory. The disk still sees one run of reads
        // per file and round.
        size_t moddedGot = 0;
        while (moddedGot < round) {
            size_t piece = round - moddedGot < CHUNK_SIZE ? round - moddedGot : CHUNK_SIZE;
            size_t got = 0;
            failure->error = TimedRead(moddedFile, request->moddedChunk, piece, &got, cost);
            if (failure->error) return FILES_NOT_COMPARED;
            if (moddedGot + got > originalGot || !ChunksEqual(request->originalChunk + moddedGot, request->moddedChunk, got))
                return FILES_DIFFER;
            moddedGot += got;
            if (got < piece) break;  // the modded file ended before its listed size
        }
        if (moddedGot != round || originalGot != round) return FILES_DIFFER;  // shrank since listed
        left -= round;
    }
}

Comparison CompareFiles(const CompareRequest* request, CompareFailure* failure, CompareCost* cost) {
    ListedFile* listed = request->listed;
    *failure = CompareFailure{0, request->modded};
    if (request->keepModded) *request->keepModded = INVALID_FILE;
    if (!request->originalChunk || !request->moddedChunk) {
        failure->error = ENGINE_OUT_OF_MEMORY;
        return FILES_NOT_COMPARED;
    }
    FileHandle originalFile = INVALID_FILE;
    FileHandle moddedFile = INVALID_FILE;
    Comparison outcome = FILES_NOT_COMPARED;
    SysError* error = &failure->error;
    *error = OpenWaitingOutHolds(request->original, &originalFile, request->stop, true);
    if (*error) failure->path = request->original;
    else *error = OpenWaitingOutHolds(request->modded, &moddedFile, request->stop, true);
    if (!*error && listed->size == SIZE_UNKNOWN) {
        uint64_t originalSize = 0;
        *error = Sys.examineOpenFile(originalFile, &originalSize, &listed->originalStamp);
        if (*error) failure->path = request->original;
        else *error = Sys.examineOpenFile(moddedFile, &listed->size, &listed->stamp);
        if (!*error && listed->size != originalSize) outcome = FILES_DIFFER;  // resized: nothing to read
    }
    if (!*error && outcome == FILES_NOT_COMPARED) outcome = CompareChunks(request, originalFile, moddedFile, failure, cost);
    if (outcome == FILES_EQUAL) {
        // Equal bytes prove nothing about a file written while it was read
        // (its first chunk changed after it was compared, a later one
        // before), nor about one that grew past its listed size: only a
        // file that held still since it was listed is equal.
        bool moved = false;
        *error = MovedSinceListed(originalFile, listed->size, listed->originalStamp, &moved);
        if (*error) failure->path = request->original;
        else if (!moved) *error = MovedSinceListed(moddedFile, listed->size, listed->stamp, &moved);
        if (*error) outcome = FILES_NOT_COMPARED;
        else if (moved) outcome = FILES_DIFFER;
    }
    if (originalFile != INVALID_FILE) Sys.closeFile(originalFile);
    if (outcome == FILES_DIFFER && !*error && request->keepModded) *request->keepModded = moddedFile;
    else if (moddedFile != INVALID_FILE) Sys.closeFile(moddedFile);
    return outcome;
}
