#include "filecompare.h"

#include <string.h>

#include "holdwait.h"

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
    *error = OpenWaitingOutHolds(original, &originalFile);
    if (*error) *failedPath = original;
    else *error = OpenWaitingOutHolds(modded, &moddedFile);
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
