// The change detection: which modded files are new, and which differ from
// the original at the same relative path.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "filelist.h"
#include "platform.h"

// Files are compared in reads of this size.
const size_t CHUNK_SIZE = 0x100000;

// FNV-1a of the `length` bytes of `path`, for the engine's path tables.
uint32_t HashPath(const char* path, size_t length);

// A lookup table of the original list by relative path, built once per job
// so that matching costs the same whatever the size of the tree.
struct OriginalIndex {
    FileNode** slots;   // open addressing; null = empty; null table: walk the list
    uint32_t mask;      // slot count - 1 (a power of two)
    FileList list;
    size_t rootLength;  // cut off every path to get its relative path
};

// Indexes every node of `originals`. When the table cannot be allocated,
// the index still works by walking the list. Release with ReleaseOriginalIndex.
void BuildOriginalIndex(FileList originals, size_t rootLength, OriginalIndex* index);
void ReleaseOriginalIndex(OriginalIndex* index);

// The first original node, in list order, whose relative path equals
// `relativePath` byte for byte (case-sensitive, separators as they are);
// null when there is none: the modded file is new.
FileNode* FindOriginal(const OriginalIndex* index, const char* relativePath, size_t length);

// True when the first `count` bytes of the two chunks are equal.
bool ChunksEqual(const unsigned char* original, const unsigned char* modded, size_t count);

enum Comparison { FILES_EQUAL, FILES_DIFFER, FILES_NOT_COMPARED };

// Compares two files whole: equal only when both lengths and all bytes are
// equal. Opens the original, then the modded file, and reads them in chunks
// of `chunkSize` bytes into the two buffers (each that long), one chunk of
// the original then one of the modded file, stopping at the first chunk
// that differs. FILES_NOT_COMPARED when either cannot be opened or read,
// with `*error` and `*failedPath` (one of the two paths) set. Adds the
// bytes read to `*bytesRead`. Safe on several threads at once.
Comparison CompareFiles(const char* original, const char* modded, unsigned char* originalChunk,
                        unsigned char* moddedChunk, size_t chunkSize, SysError* error, const char** failedPath,
                        uint64_t* bytesRead);

// The scan of the job's ModdedList against its OriginalList. Pushes every
// new or changed file onto ChangedList (new ones flagged NODE_NEW), counts
// them in ChangedCount, and sends the progress position once per modded
// file. Stops early once the job was abandoned. A pair that cannot be compared counts as changed and is recorded
// as a warning; the copy then tells whether the modded file is readable.
// The pairs are read on the comparison pool (comparepool.h) with
// Job.Comparers reads in flight; everything the scan reports follows the
// list's order all the same.
void DeepScan();
