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

// Compares two files whole: equal only when both lengths and all bytes are
// equal. Opens the original, then the modded file, and reads them in chunks
// of `chunkSize` bytes, one chunk of the original into `originalChunk`
// (that long) then one of the modded file, in reads of at most CHUNK_SIZE
// into `moddedChunk` (that long), stopping at the first read that differs. FILES_NOT_COMPARED when either cannot be opened or read,
// with `*error` and `*failedPath` (one of the two paths) set. Adds the
// bytes read to `*bytesRead`. Safe on several threads at once.
Comparison CompareFiles(const char* original, const char* modded, unsigned char* originalChunk,
                        unsigned char* moddedChunk, size_t chunkSize, SysError* error, const char** failedPath,
                        uint64_t* bytesRead);

