#include "folderguard.h"

#include <stdlib.h>
#include <string.h>

#include "copyqueue.h"
#include "jobstate.h"
#include "paths.h"

void GuardDataFolder(FolderGuard* guard, const char* data) {
    guard->guardedCount = 0;
    char folder[PATH_BUFFER_SIZE];
    size_t length = strlen(data);
    if (length >= sizeof folder) return;
    memcpy(folder, data, length + 1);
    while (length > 0 && guard->guardedCount < MAX_GUARDED) {
        EntryKind kind;
        FolderId id;
        if (Sys.examine(folder, &kind, &id) == 0 && kind == ENTRY_FOLDER && id.index != 0)
            guard->guarded[guard->guardedCount++] = id;
        // One folder up; a root ("/", "C:\") keeps its separator and ends the walk.
        size_t up = length;
        while (up > 0 && !IsPathSeparator(folder[up - 1])) --up;
        if (up == 0) break;
        if (up <= 2 && IsPathSeparator(folder[0]) && IsPathSeparator(folder[1])) break;  // "\\server" is no folder
        size_t kept = up;
        while (kept > 1 && IsPathSeparator(folder[kept - 1])) --kept;
        if (kept > 0 && folder[kept - 1] == ':') ++kept;  // "C:" + separator
        if (kept >= length) break;
        folder[kept] = '\0';
        length = kept;
    }
}

bool IsGuardedFolder(const FolderGuard* guard, const FolderId& id) {
    if (id.index == 0) return false;
    for (size_t i = 0; i < guard->guardedCount; ++i)
        if (guard->guarded[i].index == id.index && guard->guarded[i].volume == id.volume) return true;
    return false;
}

// Two folders that mix alike are as likely as two random 64-bit numbers
// meeting. All one bits marks an empty slot, so no key is.
static uint64_t KeyOf(const FolderId& id) {
    uint64_t key = (id.index * 0x9E3779B97F4A7C15ull) ^ (id.volume + 0x632BE59BD9B4E019ull);
    key ^= key >> 31;
    key *= 0xBF58476D1CE4E5B9ull;
    key ^= key >> 29;
    return key != ~0ull ? key : 1;
}

static uint32_t HashOfKey(uint64_t key) {
    return (uint32_t)(key >> 32);
}

static void RememberInputFolder(FolderGuard* guard, const FolderId& id) {
    if (id.index == 0) return;  // tells nothing
    if (!GrowForOne(&guard->inputFolders, HashOfKey)) return;
    uint64_t key = KeyOf(id);
    uint32_t slot = ProbeHashTable(&guard->inputFolders, HashOfKey(key), [key](uint64_t at) { return at == key; });
    if (IsEmptySlot(guard->inputFolders.slots[slot])) FillSlot(&guard->inputFolders, slot, key);
}

static bool IsInputFolder(const FolderGuard* guard, const FolderId& id) {
    if (id.index == 0) return false;
    uint64_t key = KeyOf(id);
    return FindInHashTable(&guard->inputFolders, HashOfKey(key), [key](uint64_t at) { return at == key; }) != nullptr;
}

// The relative path of folder `folder` of `tree` (a separator before each
// name; "" for the root) in `out`; false when it does not fit.
static bool FolderRelativePath(const FileTree* tree, uint32_t folder, char* out, size_t size) {
    if (folder == ROOT_FOLDER) {
        out[0] = '\0';
        return true;
    }
    const FolderRecord* record = FolderAt(tree, folder);
    if (!FolderRelativePath(tree, record->parent, out, size)) return false;
    size_t length = strlen(out);
    const char* name = NameAt(tree, record->name);
    size_t nameLength = strlen(name);
    if (length + 1 + nameLength >= size) return false;
    out[length] = PathSeparator();
    memcpy(out + length + 1, name, nameLength + 1);
    return true;
}

bool DataHoldsInputFolder(const FolderGuard* guard) {
    const FileTree* modded = &Job.ModdedTree;
    uint32_t count = FolderCount(modded);
    // A folder that does not stand in Data has no folders below it there.
    unsigned char* present = (unsigned char*)calloc(count ? count : 1, 1);
    if (!present) return false;
    char relative[PATH_BUFFER_SIZE];
    char path[PATH_BUFFER_SIZE];
    bool holds = false;
    for (uint32_t folder = 0; folder < count && !holds; ++folder) {
        if (folder != ROOT_FOLDER && !present[FolderAt(modded, folder)->parent]) continue;
        if (!FolderRelativePath(modded, folder, relative, sizeof relative)) continue;
        if (BuildTargetPath(Job.DestinationRoot, relative, path) == 0) continue;
        EntryKind kind;
        FolderId id;
        if (Sys.examine(path, &kind, &id) != 0 || kind != ENTRY_FOLDER) continue;
        present[folder] = 1;
        if (!IsInputFolder(guard, id)) continue;
        holds = true;
        Job.Result->refused = true;
        RecordProblem(Job.Result, PROBLEM_REFUSED, true, ENGINE_DATA_HOLDS_INPUT, path);
    }
    free(present);
    return holds;
}

bool GuardMet(FolderGuard* guard, const FolderId& id) {
    if (!guard) return false;
    RememberInputFolder(guard, id);
    if (!IsGuardedFolder(guard, id)) return false;
    if (!Job.Result->refused) {
        Job.Result->refused = true;
        RecordProblem(Job.Result, PROBLEM_REFUSED, true, ENGINE_DATA_IN_INPUT, Job.DataRoot);
    }
    return true;
}

void ForgetGuardedFolders(FolderGuard* guard) {
    guard->guardedCount = 0;
    ReleaseHashTable(&guard->inputFolders);
}
