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

// Both files as the listing saw them: the "before" of the check that
// neither moved while it was compared. Both have `size` bytes (a pair whose
// listed sizes differ is not read), or `size` is SIZE_UNKNOWN and the
// comparison asks the open files.
struct ListedFile {
    uint64_t size;
    uint64_t stamp;          // the modded file's; 0: unknown, only the size counts
    uint64_t originalStamp;  // the same for the original
};

// What one comparison asked of the system beside its outcome.
struct CompareCost {
    uint64_t bytesRead;      // both files together, added to
    uint64_t readNanoseconds;  // spent in reads, added to: what tells whether reads wait for the disk
};

// One comparison: the pair, as listed, and the chunks to read it into.
struct CompareRequest {
    const char* original;
    const char* modded;
    ListedFile* listed;
    unsigned char* originalChunk;  // `chunkSize` bytes
    unsigned char* moddedChunk;    // CHUNK_SIZE bytes
    size_t chunkSize;
    const std::atomic<bool>* stop;  // looked at before every chunk; may be null
    FileHandle* keepModded;        // null: the modded file is never kept open
};

// How a comparison that could not be made failed.
struct CompareFailure {
    SysError error;
    const char* path;  // the request's original or modded path
};

// Compares two files whole: equal only when both hold the listed number of
// bytes, all equal, and neither moved since it was listed. Opens the
// original, then the modded file (Sys.openListed: the listing said both are
// regular files), and reads at most the listed size of each, in chunks of
// `chunkSize` bytes, one chunk of the original into `originalChunk` then
// one of the modded file, in reads of at most CHUNK_SIZE into
// `moddedChunk`, stopping at the first read that differs. Only a pair
// found equal is asked for its state, once per file after its last read: a
// size or stamp that is not the listed one (a file that grew, shrank or was
// written meanwhile, or is no regular file after all) makes the pair
// differ, since the bytes compared may be a mix of two versions; the copy,
// which checks again, takes the file as it is. A pair that differs is not
// asked: the copy checks it. FILES_NOT_COMPARED when either cannot be
// opened or read, with `*failure` set, and with ENGINE_ABANDONED when
// `stop` was raised. When the pair differs and `keepModded` is not null,
// the modded file stays open in `*keepModded` for its copy (whose reads do
// not depend on where this one stopped); else, and in every other outcome,
// both are closed and `*keepModded` is INVALID_FILE. When
// `listed->size` is SIZE_UNKNOWN, each file is asked its size and stamp
// once both are open, before any read: those are then the "before",
// `*listed` receives the modded file's size and both stamps, and a pair
// whose sizes differ differs unread. `cost` is added to.
// Safe on several threads at once.
Comparison CompareFiles(const CompareRequest* request, CompareFailure* failure, CompareCost* cost);
