#include "destinationhold.h"

#include <stdlib.h>
#include <string.h>

#include "paths.h"

struct Leftovers {
    char path[PATH_BUFFER_SIZE];  // the folder's path, extended in place by each name
    size_t length;
};

// A link is passed over even when it leads to a file: its name may be
// ours, what it leads to is not.
static bool RemoveLeftover(void* context, const FolderEntry* entry) {
    Leftovers* found = (Leftovers*)context;
    if (entry->kind != ENTRY_FILE || entry->link || !IsTemporaryName(entry->name)) return true;
    if (found->length + 1 + entry->nameLength > PathLimit()) return true;
    found->path[found->length] = PathSeparator();
    memcpy(found->path + found->length + 1, entry->name, entry->nameLength + 1);
    Sys.removeFile(found->path);  // one that stays harms nothing but the space it takes
    found->path[found->length] = '\0';
    return true;
}

void ClearLeftovers(const char* folder) {
    Leftovers found;
    found.length = strlen(folder);
    if (found.length == 0 || found.length > PathLimit()) return;
    memcpy(found.path, folder, found.length + 1);
    if (IsPathSeparator(found.path[found.length - 1])) --found.length;  // a root
    Sys.listFolder(folder, RemoveLeftover, &found);  // a folder that cannot be listed holds none we could remove
}

// Removes the folders of `hold` below its first `madeFrom` characters,
// deepest first, while they are empty.
static void RemoveMadeFolders(const DestinationHold* hold) {
    char folder[PATH_BUFFER_SIZE];
    size_t length = strlen(hold->folder);
    memcpy(folder, hold->folder, length + 1);
    while (length > hold->madeFrom) {
        if (Sys.removeFolder(folder) != 0) return;  // another program put something there
        ParentFolder(folder);
        size_t shorter = strlen(folder);
        if (shorter >= length) return;
        length = shorter;
    }
}

// Makes the folders of `hold->folder` below its first `existingLength`
// characters, and notes from where it made them.
static SysError MakeFolders(DestinationHold* hold, size_t existingLength) {
    char* folder = hold->folder;
    size_t length = strlen(folder);
    hold->madeFrom = length;
    size_t parentLength = existingLength;
    for (size_t end = existingLength + 1; end <= length; ++end) {
        if (end < length && !IsPathSeparator(folder[end])) continue;
        char kept = folder[end];
        folder[end] = '\0';
        bool made = false;
        SysError error = Sys.makeFolder(folder, &made);
        folder[end] = kept;
        if (error) {
            // What was made so far goes again (ReleaseDestination), from
            // the deepest folder that stands.
            folder[parentLength] = '\0';
            return error;
        }
        if (made && hold->madeFrom == length) hold->madeFrom = parentLength;
        parentLength = end;
    }
    return 0;
}

DestinationHold* HoldDestination(const char* destination, size_t existingLength, const char* data, SysError* error) {
    size_t length = strlen(destination);
    DestinationHold* hold = (DestinationHold*)malloc(sizeof(DestinationHold));
    if (!hold || length >= sizeof hold->folder) {
        *error = hold ? ENGINE_PATH_TOO_LONG : ENGINE_OUT_OF_MEMORY;
        free(hold);
        return nullptr;
    }
    memcpy(hold->folder, destination, length + 1);
    hold->lock = INVALID_FILE;
    hold->lockError = 0;
    *error = MakeFolders(hold, existingLength < length ? existingLength : length);
    if (!*error) {
        hold->lockError = Sys.lockFolder(hold->folder, &hold->lock);
        if (hold->lockError == ENGINE_DESTINATION_BUSY) *error = ENGINE_DESTINATION_BUSY;
    }
    if (*error) {
        ReleaseDestination(hold);
        return nullptr;
    }
    if (hold->lock != INVALID_FILE) {
        ClearLeftovers(hold->folder);
        ClearLeftovers(data);
    }
    return hold;
}

void ReleaseDestination(DestinationHold* hold) {
    if (!hold) return;
    // The lock first: on Win32 a folder is only gone once every handle on
    // it is closed, and its parent cannot go before it.
    Sys.unlockFolder(hold->lock);
    RemoveMadeFolders(hold);
    free(hold);
}
