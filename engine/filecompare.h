// The comparison of two files, chunk by chunk: what the scan, the
// comparison pool and the copies share.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform.h"

// Files are compared in reads of this size.
const size_t CHUNK_SIZE = 0x100000;

// True when the first `count` bytes of the two chunks are equal.
bool ChunksEqual(const unsigned char* original, const unsigned char* modded, size_t count);

enum Comparison { FILES_EQUAL, FILES_DIFFER, FILES_NOT_COMPARED };

// The modded file as the listing saw it, which the comparison holds it to.
struct ListedFile {
    uint64_t size;
    uint64_t stamp;  // 0: unknown, only the size counts
};

// Compares two files whole: equal only when both lengths and all bytes are
// equal, and neither file moved while it was read. Opens the original, then
// the modded file, and reads them in chunks of `chunkSize` bytes, one chunk
// of the original into `originalChunk` (that long) then one of the modded
// file, in reads of at most CHUNK_SIZE into `moddedChunk` (that long),
// stopping at the first read that differs. A modded file
// whose size or stamp is no longer `listed`, or either file written while
// it was read, makes the pair differ: the bytes compared may be a mix of
// two versions, and the copy, which checks again, takes the file as it
// is. FILES_NOT_COMPARED when either cannot be opened or read, with
// `*error` and `*failedPath` (one of the two paths) set, and with
// ENGINE_ABANDONED when `stop` (looked at before every chunk; may be null)
// was raised. Adds the bytes read to `*bytesRead`. Safe on several threads
// at once.
Comparison CompareFiles(const char* original, const char* modded, ListedFile listed, unsigned char* originalChunk,
                        unsigned char* moddedChunk, size_t chunkSize, const std::atomic<bool>* stop,
                        SysError* error, const char** failedPath, uint64_t* bytesRead);
