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

Comparison CompareFiles(const char* original, const char* modded, ListedFile* listed, unsigned char* originalChunk,
                        unsigned char* moddedChunk, size_t chunkSize, const std::atomic<bool>* stop,
                        SysError* error, const char** failedPath, CompareCost* cost, FileHandle* keepModded) {
    *error = 0;
    *failedPath = modded;
    if (keepModded) *keepModded = INVALID_FILE;
    if (!originalChunk || !moddedChunk) {
        *error = ENGINE_OUT_OF_MEMORY;
        return FILES_NOT_COMPARED;
    }
    FileHandle originalFile = INVALID_FILE;
    FileHandle moddedFile = INVALID_FILE;
    Comparison outcome = FILES_NOT_COMPARED;
    *error = OpenWaitingOutHolds(original, &originalFile, stop, true);
    if (*error) *failedPath = original;
    else *error = OpenWaitingOutHolds(modded, &moddedFile, stop, true);
    if (!*error && listed->size == SIZE_UNKNOWN) {
        uint64_t originalSize = 0;
        *error = Sys.examineOpenFile(originalFile, &originalSize, &listed->originalStamp);
        if (*error) *failedPath = original;
        else *error = Sys.examineOpenFile(moddedFile, &listed->size, &listed->stamp);
        if (!*error && listed->size != originalSize) outcome = FILES_DIFFER;  // resized: nothing to read
    }
    // The listed size bounds every read: a file that reached it is read to
    // its end in one call, with no second read to see the end, and a file
    // that grew since shows in its state afterwards.
    uint64_t left = listed->size;
    while (!*error && outcome == FILES_NOT_COMPARED) {
        if (left == 0) {
            outcome = FILES_EQUAL;  // both held the listed size, all equal
            break;
        }
        if (stop && stop->load(std::memory_order_relaxed)) {
            *error = ENGINE_ABANDONED;
            break;
        }
        size_t round = left < chunkSize ? (size_t)left : chunkSize;
        size_t originalGot = 0;
        *error = TimedRead(originalFile, originalChunk, round, &originalGot, cost);
        if (*error) {
            *failedPath = original;
            break;
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
            *error = TimedRead(moddedFile, moddedChunk, piece, &got, cost);
            if (*error) break;
            if (moddedGot + got > originalGot || !ChunksEqual(originalChunk + moddedGot, moddedChunk, got)) {
                outcome = FILES_DIFFER;
                break;
            }
            moddedGot += got;
            if (got < piece) break;  // the modded file ended before its listed size
        }
        if (*error || outcome != FILES_NOT_COMPARED) break;
        if (moddedGot != round || originalGot != round) outcome = FILES_DIFFER;  // shrank since listed
        left -= round;
    }
    if (outcome == FILES_EQUAL) {
        // Equal bytes prove nothing about a file written while it was read
        // (its first chunk changed after it was compared, a later one
        // before), nor about one that grew past its listed size: only a
        // file that held still since it was listed is equal.
        bool moved = false;
        *error = MovedSinceListed(originalFile, listed->size, listed->originalStamp, &moved);
        if (*error) *failedPath = original;
        else if (!moved) *error = MovedSinceListed(moddedFile, listed->size, listed->stamp, &moved);
        if (*error) outcome = FILES_NOT_COMPARED;
        else if (moved) outcome = FILES_DIFFER;
    }
    if (originalFile != INVALID_FILE) Sys.closeFile(originalFile);
    if (outcome == FILES_DIFFER && !*error && keepModded) *keepModded = moddedFile;
    else if (moddedFile != INVALID_FILE) Sys.closeFile(moddedFile);
    return outcome;
}
