#include "filecompare.h"

#include <string.h>

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
    while (!*error && outcome == FILES_NOT_COMPARED) {
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
    if (originalFile != INVALID_FILE) Sys.closeFile(originalFile);
    if (moddedFile != INVALID_FILE) Sys.closeFile(moddedFile);
    return outcome;
}
