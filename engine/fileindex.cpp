#include "fileindex.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "job.h"

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

static unsigned char* Arena;
static size_t ArenaUsed;
static size_t ArenaSize;
static bool ArenaFull;

// The path being walked: the folder at the current depth, extended in
// place by each child's name.
static char IndexPath[PATH_BUFFER_SIZE];

// Folders on the current descent path. Each level adds at least two
// characters to the path, so the path buffer bounds the depth.
static FolderId Ancestors[PATH_BUFFER_SIZE / 2 + 1];
static size_t Depth;

static size_t RecordSize(size_t nameLength) {
    return (sizeof(EntryRecord) + nameLength + 1 + 7) & ~(size_t)7;
}

static void AppendEntry(void*, const FolderEntry* entry) {
    size_t size = RecordSize(entry->nameLength);
    if (ArenaUsed + size > ArenaSize) {
        size_t grown = ArenaSize ? ArenaSize * 2 : 64 * 1024;
        while (grown < ArenaUsed + size) grown *= 2;
        unsigned char* bigger = (unsigned char*)realloc(Arena, grown);
        if (!bigger) {
            ArenaFull = true;
            return;
        }
        Arena = bigger;
        ArenaSize = grown;
    }
    EntryRecord* record = (EntryRecord*)(Arena + ArenaUsed);
    record->size = entry->size;
    record->stamp = entry->stamp;
    record->id = entry->id;
    record->error = entry->error;
    record->nameLength = (uint32_t)entry->nameLength;
    record->kind = entry->kind;
    memcpy(record + 1, entry->name, entry->nameLength + 1);
    ArenaUsed += size;
}

static bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

static bool OnDescentPath(FolderId id) {
    for (size_t i = 0; i < Depth; ++i)
        if (Ancestors[i].volume == id.volume && Ancestors[i].index == id.index) return true;
    return false;
}

static void Report(ProblemKind kind, SysError error, const char* first, const char* second = nullptr) {
    // Only the modded tree's losses are losses of the mod.
    RecordProblem(Job.Result, kind, Job.CountingFiles == 0, error, first, second);
}

static void IndexFile(uint32_t folder, const char* name, size_t nameLength, uint64_t size, uint64_t stamp) {
    if (AddFile(Job.CurrentTree, folder, name, nameLength, size, stamp) == NO_INDEX) {
        Report(PROBLEM_PASSED_OVER, ENGINE_OUT_OF_MEMORY, IndexPath);
        return;
    }
    if (Job.CountingFiles == 1) ++Job.OriginalCount;
}

static void IndexFolder(size_t folderLength, uint32_t folder) {
    size_t mark = ArenaUsed;
    ArenaFull = false;
    SysError error = Sys.listFolder(IndexPath, AppendEntry, nullptr);
    if (error) Report(PROBLEM_LIST, error, IndexPath);
    if (ArenaFull) Report(PROBLEM_LIST, ENGINE_OUT_OF_MEMORY, IndexPath);
    size_t end = ArenaUsed;

    for (size_t at = mark; at < end;) {
        // Re-read through the offset each time: a subfolder's walk may move the arena.
        EntryRecord* record = (EntryRecord*)(Arena + at);
        at += RecordSize(record->nameLength);
        const char* name = (const char*)(record + 1);
        if (IsDotOrDotDot(name)) continue;

        size_t childLength = folderLength + 1 + record->nameLength;
        if (childLength > PathLimit()) {
            Report(PROBLEM_PASSED_OVER, ENGINE_PATH_TOO_LONG, IndexPath, name);
            continue;
        }
        IndexPath[folderLength] = PathSeparator();
        memcpy(IndexPath + folderLength + 1, name, record->nameLength + 1);

        switch (record->kind) {
        case ENTRY_FILE:
            IndexFile(folder, name, record->nameLength, record->size, record->stamp);
            break;
        case ENTRY_FOLDER:
            if (OnDescentPath(record->id)) {
                Report(PROBLEM_PASSED_OVER, ENGINE_LINK_LOOP, IndexPath);
            } else {
                uint32_t child = AddFolder(Job.CurrentTree, folder, name, record->nameLength);
                if (child == NO_INDEX) {
                    Report(PROBLEM_LIST, ENGINE_OUT_OF_MEMORY, IndexPath);
                    break;
                }
                Ancestors[Depth++] = record->id;
                IndexFolder(childLength, child);
                --Depth;
            }
            break;
        case ENTRY_OTHER:
            RecordProblem(Job.Result, PROBLEM_PASSED_OVER, false, ENGINE_NOT_REGULAR, IndexPath);
            break;
        case ENTRY_BROKEN:
            Report(PROBLEM_EXAMINE, record->error, IndexPath);
            break;
        }
        IndexPath[folderLength] = '\0';
    }
    ArenaUsed = mark;
}

void IndexTree(const char* folder) {
    size_t length = strlen(folder);
    if (length > PathLimit()) {
        Report(PROBLEM_LIST, ENGINE_PATH_TOO_LONG, folder);
        return;
    }
    EntryKind kind;
    FolderId id;
    SysError error = Sys.examine(folder, &kind, &id);
    if (!error && kind != ENTRY_FOLDER) error = ENGINE_NOT_A_FOLDER;
    if (error) {
        Report(PROBLEM_LIST, error, folder);
        return;
    }
    if (!SetTreeRoot(Job.CurrentTree, folder, length)) {
        Report(PROBLEM_LIST, ENGINE_OUT_OF_MEMORY, folder);
        return;
    }
    memcpy(IndexPath, folder, length + 1);
    Depth = 0;
    Ancestors[Depth++] = id;
    IndexFolder(length, ROOT_FOLDER);
    Depth = 0;
    free(Arena);
    Arena = nullptr;
    ArenaUsed = ArenaSize = 0;
}

// The read-ahead walk. Its own buffers, since it runs beside the index.
struct PrefetchWalk {
    char path[PATH_BUFFER_SIZE];
    std::vector<FolderId> ancestors;
    std::string subfolders;  // per level its subfolders: name, NUL, FolderId; then the next level's
    std::atomic<bool> stopped{false};
};

static PrefetchWalk* Walk;
static std::thread Walker;

static void CollectSubfolder(void* context, const FolderEntry* entry) {
    if (entry->kind != ENTRY_FOLDER || IsDotOrDotDot(entry->name)) return;
    std::string* names = (std::string*)context;
    names->append(entry->name, entry->nameLength + 1);
    names->append((const char*)&entry->id, sizeof entry->id);
}

static void PrefetchFolder(PrefetchWalk* walk, size_t folderLength) {
    size_t mark = walk->subfolders.size();
    Sys.listFolder(walk->path, CollectSubfolder, &walk->subfolders);
    size_t end = walk->subfolders.size();
    for (size_t at = mark; at < end && !walk->stopped.load(std::memory_order_relaxed);) {
        const char* name = walk->subfolders.data() + at;
        size_t nameLength = strlen(name);
        FolderId id;
        memcpy(&id, name + nameLength + 1, sizeof id);
        at += nameLength + 1 + sizeof id;
        bool loop = false;
        for (const FolderId& above : walk->ancestors)
            loop |= above.volume == id.volume && above.index == id.index;
        if (loop || folderLength + 1 + nameLength > PathLimit()) continue;
        walk->path[folderLength] = PathSeparator();
        memcpy(walk->path + folderLength + 1, name, nameLength + 1);
        walk->ancestors.push_back(id);
        PrefetchFolder(walk, folderLength + 1 + nameLength);
        walk->ancestors.pop_back();
        walk->path[folderLength] = '\0';
    }
    walk->subfolders.resize(mark);
}

// Prepares a walk of `folder`, or null when it is no folder or memory ran out.
static PrefetchWalk* NewWalk(const char* folder, size_t* length) {
    *length = strlen(folder);
    EntryKind kind;
    FolderId id;
    if (*length > PathLimit() || Sys.examine(folder, &kind, &id) != 0 || kind != ENTRY_FOLDER) return nullptr;
    PrefetchWalk* walk = new (std::nothrow) PrefetchWalk;
    if (!walk) return nullptr;
    memcpy(walk->path, folder, *length + 1);
    walk->ancestors.push_back(id);
    return walk;
}

void PrefetchTree(const char* folder) {
    size_t length;
    PrefetchWalk* walk = NewWalk(folder, &length);
    if (!walk) return;
    PrefetchFolder(walk, length);
    delete walk;
}

void StartTreePrefetch(const char* folder) {
    StopTreePrefetch();
    size_t length;
    PrefetchWalk* walk = NewWalk(folder, &length);
    if (!walk) return;
    std::thread started([walk, length] { PrefetchFolder(walk, length); });
    Walker.swap(started);
    Walk = walk;
}

void StopTreePrefetch() {
    if (!Walk) return;
    Walk->stopped = true;
    Walker.join();
    delete Walk;
    Walk = nullptr;
}
