// A folder's listing kept as records, one after another in one buffer: how
// the index and the read-ahead walk hold what a listing gave them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform.h"

// The entries of every folder on the way down wait here, one block after
// another, until the walk comes back up: no listing handle stays open while
// a subfolder is walked, and no entry costs a heap block of its own.
struct EntryRecord {
    uint64_t size;
    uint64_t stamp;
    FolderId id;
    SysError error;
    uint32_t nameLength;
    EntryKind kind;
    // the name follows, NUL-terminated
};

// Records one after another. `full` says a record did not fit and was lost.
struct RecordBuffer {
    unsigned char* data = nullptr;
    size_t used = 0;
    size_t size = 0;
    bool full = false;
};

// Bytes one record of a name of `nameLength` bytes takes, its padding included.
inline size_t RecordSize(size_t nameLength) {
    return (sizeof(EntryRecord) + nameLength + 1 + 7) & ~(size_t)7;
}

// Room for `bytes` more at the end of `buffer`, or null (and `full`).
unsigned char* MakeRoom(RecordBuffer* buffer, size_t bytes);

// An EntrySink into the RecordBuffer `context`; it ends the listing once
// the job was stopped.
bool AppendEntry(void* context, const FolderEntry* entry);

// True for the names "." and "..", which are no entries of the folder.
inline bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}
