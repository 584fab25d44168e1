#include "folderguard.h"

#include <stdlib.h>
#include <string.h>

#include "copyqueue.h"
#include "jobstate.h"

// A path of PATH_BUFFER_SIZE bytes has at most half as many folders.
enum { MAX_GUARDED = PATH_BUFFER_SIZE / 2 + 1 };

// Only the job's thread (or the one setting it up) touches these.
static FolderId Guarded[MAX_GUARDED];
static size_t GuardedCount;

void GuardDataFolder(const char* data) {
    GuardedCount = 0;
    char folder[PATH_BUFFER_SIZE];
    size_t length = strlen(data);
    if (length >= sizeof folder) return;
    memcpy(folder, data, length + 1);
    while (length > 0 && GuardedCount < MAX_GUARDED) {
        EntryKind kind;
        FolderId id;
        if (Sys.examine(folder, &kind, &id) == 0 && kind == ENTRY_FOLDER && id.index != 0) Guarded[GuardedCount++] = id;
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

bool IsGuardedFolder(const FolderId& id) {
    if (id.index == 0) return false;
    for (size_t i = 0; i < GuardedCount; ++i)
        if (Guarded[i].index == id.index && Guarded[i].volume == id.volume) return true;
    return false;
}


// Every folder of the inputs that the index went into, by identity: open
// addressing over a table that doubles, 8 bytes a slot (a 64-bit mix of
// volume and file number, 0 for an empty slot: two folders that mix alike
// are as likely as two random 64-bit numbers meeting). It lives only while
// the trees are indexed. When memory runs out the rest goes unremembered:
// DataHoldsInputFolder then knows fewer of them.
static uint64_t* InputFolders;
static uint32_t InputMask;
static uint32_t InputCount;

static uint64_t KeyOf(const FolderId& id) {
    uint64_t key = (id.index * 0x9E3779B97F4A7C15ull) ^ (id.volume + 0x632BE59BD9B4E019ull);
    key ^= key >> 31;
    key *= 0xBF58476D1CE4E5B9ull;
    key ^= key >> 29;
    return key ? key : 1;
}

static uint32_t SlotOf(uint64_t key, uint32_t mask) {
    return (uint32_t)(key >> 32) & mask;
}

static void RememberInputFolder(const FolderId& id) {
    if (id.index == 0) return;  // tells nothing
    if (4 * (InputCount + 1) > 3 * (InputMask + 1) || !InputFolders) {
        uint32_t slots = InputFolders ? 2 * (InputMask + 1) : 1024;
        uint64_t* grown = (uint64_t*)calloc(slots, sizeof(uint64_t));
        if (!grown) return;
        for (uint32_t i = 0; InputFolders && i <= InputMask; ++i) {
            if (!InputFolders[i]) continue;
            uint32_t slot = SlotOf(InputFolders[i], slots - 1);
            while (grown[slot]) slot = (slot + 1) & (slots - 1);
            grown[slot] = InputFolders[i];
        }
        free(InputFolders);
        InputFolders = grown;
        InputMask = slots - 1;
    }
    uint64_t key = KeyOf(id);
    uint32_t slot = SlotOf(key, InputMask);
    for (; InputFolders[slot]; slot = (slot + 1) & InputMask)
        if (InputFolders[slot] == key) return;
    InputFolders[slot] = key;
    ++InputCount;
}

static bool IsInputFolder(const FolderId& id) {
    if (id.index == 0 || !InputFolders) return false;
    uint64_t key = KeyOf(id);
    for (uint32_t slot = SlotOf(key, InputMask); InputFolders[slot]; slot = (slot + 1) & InputMask)
        if (InputFolders[slot] == key) return true;
    return false;
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

bool DataHoldsInputFolder() {
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
        if (!IsInputFolder(id)) continue;
        holds = true;
        Job.Result->refused = true;
        RecordProblem(Job.Result, PROBLEM_REFUSED, true, ENGINE_DATA_HOLDS_INPUT, path);
    }
    free(present);
    return holds;
}

bool GuardMet(const FolderId& id) {
    RememberInputFolder(id);
    if (!IsGuardedFolder(id)) return false;
    if (!Job.Result->refused) {
        Job.Result->refused = true;
        RecordProblem(Job.Result, PROBLEM_REFUSED, true, ENGINE_DATA_IN_INPUT, Job.DataRoot);
    }
    return true;
}

void ForgetGuardedFolders() {
    GuardedCount = 0;
    free(InputFolders);
    InputFolders = nullptr;
    InputMask = InputCount = 0;
}
