#include "fileindex.h"

#include <stdlib.h>
#include <string.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <new>
#include <string>
#include <thread>
#include <utility>
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

// The read-ahead walk: a few threads list the folders of the trees ahead of
// the index, so that several of a cold tree's small metadata reads are in
// flight where the index alone has one. Folders wait on one stack per tree,
// the first tree's served first; a folder's subfolders go on in reverse, so
// the walk goes down roughly in the order the index will. Each folder is
// listed once, whichever way it was reached, which also cuts link loops.
// The walk keeps nothing once it stops.
struct PrefetchWalk {
    std::mutex lock;
    std::condition_variable wake;   // folders were stacked, a walker went idle, or the walk stops
    std::vector<std::string> waiting[2];
    size_t waitingBytes = 0;
    std::set<std::pair<uint64_t, uint64_t>> seen;
    unsigned listing = 0;           // walkers listing a folder now
    bool stopped = false;
    std::vector<std::thread> walkers;
};

// Beyond these the walk stacks no more folders (only a hint: the index lists
// them anyway), so a tree of millions of folders cannot make it grow.
const size_t PREFETCH_WAITING_BYTES = 4u << 20;
const size_t PREFETCH_FOLDERS = 1u << 20;

static PrefetchWalk* Walk;

struct Subfolder {
    std::string name;
    FolderId id;
};

static void CollectSubfolder(void* context, const FolderEntry* entry) {
    if (entry->kind != ENTRY_FOLDER || IsDotOrDotDot(entry->name)) return;
    ((std::vector<Subfolder>*)context)->push_back(Subfolder{std::string(entry->name, entry->nameLength), entry->id});
}

static bool Unseen(PrefetchWalk* walk, FolderId id) {
    return walk->seen.size() < PREFETCH_FOLDERS && walk->seen.insert({id.volume, id.index}).second;
}

static void WalkerLoop(PrefetchWalk* walk) {
    std::vector<Subfolder> found;
    std::unique_lock<std::mutex> hold(walk->lock);
    for (;;) {
        walk->wake.wait(hold, [walk] {
            return walk->stopped || !walk->waiting[0].empty() || !walk->waiting[1].empty() || walk->listing == 0;
        });
        int tree = walk->waiting[0].empty() ? 1 : 0;
        if (walk->stopped || walk->waiting[tree].empty()) break;  // stopped, or every folder is listed
        std::string path = std::move(walk->waiting[tree].back());
        walk->waiting[tree].pop_back();
        walk->waitingBytes -= path.size();
        ++walk->listing;
        hold.unlock();

        found.clear();
        Sys.listFolder(path.c_str(), CollectSubfolder, &found);

        hold.lock();
        --walk->listing;
        for (size_t i = found.size(); i-- > 0;) {
            size_t length = path.size() + 1 + found[i].name.size();
            if (length > PathLimit() || walk->waitingBytes + length > PREFETCH_WAITING_BYTES ||
                !Unseen(walk, found[i].id))
                continue;
            walk->waiting[tree].push_back(path + PathSeparator() + found[i].name);
            walk->waitingBytes += length;
        }
        walk->wake.notify_all();
    }
    walk->wake.notify_all();
}

// Stacks the root `folder` for tree `tree`, unless it is no folder.
static void StackRoot(PrefetchWalk* walk, int tree, const char* folder) {
    EntryKind kind;
    FolderId id;
    if (!folder || strlen(folder) > PathLimit() || Sys.examine(folder, &kind, &id) != 0 || kind != ENTRY_FOLDER)
        return;
    if (Unseen(walk, id)) {
        walk->waiting[tree].push_back(folder);
        walk->waitingBytes += walk->waiting[tree].back().size();
    }
}

static PrefetchWalk* NewWalk(const char* first, const char* second) {
    PrefetchWalk* walk = new (std::nothrow) PrefetchWalk;
    if (!walk) return nullptr;
    StackRoot(walk, 0, first);
    StackRoot(walk, 1, second);
    return walk;
}

void PrefetchTree(const char* folder) {
    PrefetchWalk* walk = NewWalk(folder, nullptr);
    if (!walk) return;
    WalkerLoop(walk);
    delete walk;
}

void StartTreePrefetch(const char* first, const char* second, unsigned walkers) {
    StopTreePrefetch();
    PrefetchWalk* walk = NewWalk(first, second);
    if (!walk) return;
    walk->walkers.reserve(walkers);
    for (unsigned i = 0; i < walkers; ++i) walk->walkers.emplace_back(WalkerLoop, walk);
    Walk = walk;
}

void StopTreePrefetch() {
    if (!Walk) return;
    {
        std::lock_guard<std::mutex> hold(Walk->lock);
        Walk->stopped = true;
        Walk->wake.notify_all();
    }
    for (std::thread& walker : Walk->walkers) walker.join();
    delete Walk;
    Walk = nullptr;
}
