#include "fileindex.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "exclusions.h"
#include "folderguard.h"
#include "jobstate.h"

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

static RecordBuffer Arena;

// The path being walked: the folder at the current depth, extended in
// place by each child's name.
static char IndexPath[PATH_BUFFER_SIZE];

// Folders on the current descent path. Each level adds at least two
// characters to the path, so the path buffer bounds the depth.
static FolderId Ancestors[PATH_BUFFER_SIZE / 2 + 1];
static size_t Depth;

// Characters of the root path at the start of IndexPath.
static size_t RootLength;
// The folder whose listing is at hand: what the index cannot hold of it
// makes it a folder not listed whole.
static uint32_t ListedFolder = NO_INDEX;

static size_t RecordSize(size_t nameLength) {
    return (sizeof(EntryRecord) + nameLength + 1 + 7) & ~(size_t)7;
}

// Room for `bytes` more at the end of `buffer`, or null (and `full`).
static unsigned char* MakeRoom(RecordBuffer* buffer, size_t bytes) {
    if (buffer->used + bytes > buffer->size) {
        size_t grown = buffer->size ? buffer->size * 2 : 4096;
        while (grown < buffer->used + bytes) grown *= 2;
        unsigned char* bigger = (unsigned char*)realloc(buffer->data, grown);
        if (!bigger) {
            buffer->full = true;
            return nullptr;
        }
        buffer->data = bigger;
        buffer->size = grown;
    }
    unsigned char* at = buffer->data + buffer->used;
    buffer->used += bytes;
    return at;
}

// An EntrySink into the RecordBuffer `context`; it ends the listing once
// the job was stopped.
static bool AppendEntry(void* context, const FolderEntry* entry) {
    if (JobAbandoned()) return false;
    EntryRecord* record = (EntryRecord*)MakeRoom((RecordBuffer*)context, RecordSize(entry->nameLength));
    if (!record) return true;
    record->size = entry->size;
    record->stamp = entry->stamp;
    record->id = entry->id;
    record->error = entry->error;
    record->nameLength = (uint32_t)entry->nameLength;
    record->kind = entry->kind;
    memcpy(record + 1, entry->name, entry->nameLength + 1);
    return true;
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
    // What cannot be read of either tree is a loss: of the mod in the modded
    // tree, of the comparison in the original one, where every modded file
    // below would be taken as new. A link loop in the original loses
    // nothing: its folder is indexed where the loop leads.
    RecordProblem(Job.Result, kind, Job.CountingFiles == 0 || error != ENGINE_LINK_LOOP, error, first, second);
    // No original file below such a modded folder may be said to be gone.
    if (ListedFolder != NO_INDEX)
        if (uint32_t* folder = (uint32_t*)AppendItem(&Job.CurrentTree->partlyListed)) *folder = ListedFolder;
}

// True when the job's patterns leave out the entry at `path` (a full path
// of the tree whose root has `rootLength` characters); counted as excluded.
static bool LeftOut(const char* path, size_t rootLength, bool isFolder) {
    if (!Job.Exclusions || !IsExcluded(Job.Exclusions, path + rootLength, isFolder)) return false;
    ++(Job.CountingFiles ? Job.Result->excludedOriginal : Job.Result->excludedModded);
    return true;
}

static void IndexFile(uint32_t folder, const char* name, size_t nameLength, uint64_t size, uint64_t stamp) {
    if (AddFile(Job.CurrentTree, folder, name, nameLength, size, stamp) == NO_INDEX) {
        Report(PROBLEM_PASSED_OVER, ENGINE_OUT_OF_MEMORY, IndexPath);
        return;
    }
    if (Job.CountingFiles == 1) ++Job.OriginalCount;
}

static bool TakeListing(const char* folder, SysError* error, int* share);
static void ShareSubfolders(int tree, const char* folder, const FolderId* way, size_t depth,
                            const unsigned char* records, size_t bytes);

static void IndexFolder(size_t folderLength, uint32_t folder) {
    size_t mark = Arena.used;
    Arena.full = false;
    ListedFolder = folder;
    SysError error = 0;
    int share;
    if (!TakeListing(IndexPath, &error, &share)) {
        error = Sys.listFolder(IndexPath, AppendEntry, &Arena);
        if (share >= 0) ShareSubfolders(share, IndexPath, Ancestors, Depth, Arena.data + mark, Arena.used - mark);
    }
    if (error && error != ENGINE_ABANDONED) Report(PROBLEM_LIST, error, IndexPath);  // a stop is no fault of the folder
    if (Arena.full) Report(PROBLEM_LIST, ENGINE_OUT_OF_MEMORY, IndexPath);
    size_t end = Arena.used;

    for (size_t at = mark; at < end && !JobAbandoned();) {
        // Re-read through the offset each time: a subfolder's walk may move the arena.
        EntryRecord* record = (EntryRecord*)(Arena.data + at);
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
        if (LeftOut(IndexPath, RootLength, record->kind == ENTRY_FOLDER)) {
            IndexPath[folderLength] = '\0';
            continue;
        }

        switch (record->kind) {
        case ENTRY_FILE:
            IndexFile(folder, name, record->nameLength, record->size, record->stamp);
            break;
        case ENTRY_FOLDER:
            if (GuardMet(record->id)) break;  // the job is refused: the mod would land in this input
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
                ListedFolder = folder;
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
    Arena.used = mark;
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
    if (GuardMet(id)) return;
    if (!SetTreeRoot(Job.CurrentTree, folder, length)) {
        Report(PROBLEM_LIST, ENGINE_OUT_OF_MEMORY, folder);
        return;
    }
    memcpy(IndexPath, folder, length + 1);
    RootLength = length;
    Depth = 0;
    Ancestors[Depth++] = id;
    IndexFolder(length, ROOT_FOLDER);
    ListedFolder = NO_INDEX;
    Depth = 0;
    free(Arena.data);
    Arena = RecordBuffer();
}

// The read-ahead walk: a few threads list the folders of the trees ahead of
// the index, so that several of a cold tree's small metadata reads are in
// flight where the index alone has one. It goes every way the index goes
// and no further: into each subfolder unless it leads back to a folder on
// the way down. Folders wait on one stack per tree, the first tree's served
// first; a folder's subfolders go on in reverse, so the walk goes down in
// about the order the index does. Each listing is kept, keyed by its path,
// until the index takes it instead of listing the folder again.
enum ListingState : uint8_t {
    LISTING_WAITING,   // stacked
    LISTING_UNDER_WAY,
    LISTING_DONE,
    LISTING_CLAIMED,   // the index came first and lists it itself
};

struct Listing {
    ListingState state;
    bool awaited;  // the index waits for it
    int tree;
    SysError error;
    RecordBuffer records;
};

// A folder on a stack, with the folders on the way down to it, itself last.
struct WaitingFolder {
    std::string path;
    std::vector<FolderId> way;
};

// At most this many walkers, however many are asked for.
enum { MAX_WALKERS = 16 };

struct PrefetchWalk {
    std::mutex lock;
    std::condition_variable wake;    // folders were stacked or taken, or the walk stops
    std::condition_variable landed;  // a listing is done
    std::vector<WaitingFolder> waiting[2];
    size_t waitingBytes = 0;
    std::unordered_map<std::string, Listing> listings;
    size_t heldBytes = 0;            // records of done listings
    unsigned listing = 0;            // walkers listing a folder now
    bool stopped = false;
    size_t rootLength[2] = {0, 0};
    const ExclusionList* exclusions = nullptr;  // the job's, whose folders the index does not walk
    std::thread walkers[MAX_WALKERS];
    unsigned walkerCount = 0;
};

// The walk never waits for the index: while the index is busy with the
// original tree, the walk reads the modded one. Beyond these bounds it
// stacks no more folders, or keeps no more listings and only reads ahead
// (the index then lists those folders again, from memory), so no tree can
// make it grow without bound. They are small because what the walkers
// allocate is not all reused once they end.
const size_t PREFETCH_WAITING_BYTES = 1u << 20;
const size_t PREFETCH_HELD_BYTES = 2u << 20;

static PrefetchWalk* Walk;

static size_t WaitingSize(const WaitingFolder& folder) {
    return folder.path.size() + folder.way.size() * sizeof(FolderId);
}

// Stacks for tree `tree` the folder `name` in `parent` (the folder `parent`
// itself when `name` is null), reached by the `depth` folders of `way` and
// then `id`. False when memory ran out: the walk stacks no more then, and
// the index lists what the walk did not. Under the walk's lock.
static bool Stack(PrefetchWalk* walk, int tree, const char* parent, size_t parentLength, const char* name,
                  const FolderId* way, size_t depth, FolderId id) {
    // The standard containers throw when memory runs out; it ends here.
    try {
        WaitingFolder folder{std::string(parent, parentLength), std::vector<FolderId>(way, way + depth)};
        if (name) {
            folder.path += PathSeparator();
            folder.path += name;
        }
        folder.way.push_back(id);
        std::vector<WaitingFolder>& stack = walk->waiting[tree];
        if (stack.size() == stack.capacity())  // so that nothing can fail once the listing is placed
            stack.reserve(stack.empty() ? 64 : 2 * stack.capacity());
        Listing listing{LISTING_WAITING, false, tree, 0, RecordBuffer()};
        if (!walk->listings.emplace(folder.path, listing).second) return true;
        walk->waitingBytes += WaitingSize(folder);
        stack.push_back(std::move(folder));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// True when the job's patterns leave out the subfolder `name` of the folder
// `path` of tree `tree`: the index will not walk it, so neither does the walk.
static bool LeftOutOfWalk(const PrefetchWalk* walk, int tree, const char* path, size_t pathLength,
                          const char* name) {
    if (!walk->exclusions) return false;
    char child[PATH_BUFFER_SIZE];
    size_t nameLength = strlen(name);
    if (pathLength + 1 + nameLength >= sizeof child) return false;
    memcpy(child, path, pathLength);
    child[pathLength] = PathSeparator();
    memcpy(child + pathLength + 1, name, nameLength + 1);
    return IsExcluded(walk->exclusions, child + walk->rootLength[tree], true);
}

// Stacks the subfolders among the `bytes` of records listed from the folder
// `path`, reached by `way` (itself last), so that the first is listed
// next. When not all fit the bound, the first ones in listing order do:
// those are the ones the index comes to first. Under the walk's lock.
static void StackSubfolders(PrefetchWalk* walk, int tree, const char* path, size_t pathLength, const FolderId* way,
                            size_t depth, const unsigned char* records, size_t bytes) {
    std::vector<WaitingFolder>& stack = walk->waiting[tree];
    size_t before = stack.size();
    for (size_t at = 0; at < bytes;) {
        const EntryRecord* record = (const EntryRecord*)(records + at);
        at += RecordSize(record->nameLength);
        const char* name = (const char*)(record + 1);
        if (record->kind != ENTRY_FOLDER || IsDotOrDotDot(name)) continue;
        bool loop = false;
        for (size_t d = 0; d < depth; ++d)
            loop |= way[d].volume == record->id.volume && way[d].index == record->id.index;
        size_t length = pathLength + 1 + record->nameLength;
        if (loop || length > PathLimit() || LeftOutOfWalk(walk, tree, path, pathLength, name)) continue;
        if (walk->waitingBytes + length + (depth + 1) * sizeof(FolderId) > PREFETCH_WAITING_BYTES) break;
        if (!Stack(walk, tree, path, pathLength, name, way, depth, record->id)) break;
    }
    std::reverse(stack.begin() + (std::ptrdiff_t)before, stack.end());  // the first on top
    walk->wake.notify_all();
}

// Lists folder after folder until the walk is stopped or, when `toTheEnd`,
// until every folder is listed. A walk beside the index keeps waiting when
// it has nothing to list, since the index may still pass folders on.
static void WalkerLoop(PrefetchWalk* walk, bool toTheEnd) {
    std::unique_lock<std::mutex> hold(walk->lock);
    for (;;) {
        walk->wake.wait(hold, [walk, toTheEnd] {
            return walk->stopped || !walk->waiting[0].empty() || !walk->waiting[1].empty() ||
                   (toTheEnd && walk->listing == 0);
        });
        int tree = walk->waiting[0].empty() ? 1 : 0;
        if (walk->stopped || walk->waiting[tree].empty()) break;
        WaitingFolder folder = std::move(walk->waiting[tree].back());
        walk->waiting[tree].pop_back();
        walk->waitingBytes -= WaitingSize(folder);
        auto entry = walk->listings.find(folder.path);
        if (entry->second.state == LISTING_CLAIMED) {
            walk->listings.erase(entry);
            continue;
        }
        // The map never moves its elements (its iterators may go stale),
        // and only this walker and the index, which waits for it, touch
        // this one until it is done.
        Listing* listing = &entry->second;
        listing->state = LISTING_UNDER_WAY;
        ++walk->listing;
        hold.unlock();

        RecordBuffer records;
        SysError error = Sys.listFolder(folder.path.c_str(), AppendEntry, &records);

        hold.lock();
        --walk->listing;
        listing->state = LISTING_DONE;
        listing->error = error;
        // A listing the index waits for is kept whatever the total: it would
        // only list the folder again.
        bool kept = !records.full && (listing->awaited || walk->heldBytes + records.used <= PREFETCH_HELD_BYTES);
        if (!kept && !listing->awaited) {
            walk->listings.erase(folder.path);  // the index finds none and lists the folder itself
        } else if (kept) {
            // What waits holds only its records, not the room it was listed into.
            if (unsigned char* fitted = records.used ? (unsigned char*)realloc(records.data, records.used) : nullptr) {
                records.data = fitted;
                records.size = records.used;
            }
            listing->records = records;
            walk->heldBytes += records.used;
        } else {
            listing->records.full = true;  // the index lists it again
        }
        walk->landed.notify_all();
        StackSubfolders(walk, tree, folder.path.c_str(), folder.path.size(), folder.way.data(), folder.way.size(),
                        records.data, records.used);
        if (!kept) free(records.data);
    }
    walk->wake.notify_all();
}

// Hands the index the walk's listing of `folder`, appended to the arena
// with its error, and returns true; or returns false, and the index lists
// the folder itself. When the walk had not come to it yet, `*share` tells
// the index to pass its subfolders on (ShareSubfolders), so that the walk
// goes on below it.
static bool TakeListing(const char* folder, SysError* error, int* share) {
    *share = -1;
    PrefetchWalk* walk = Walk;
    if (!walk) return false;
    std::string key;
    try {
        key = folder;
    } catch (const std::bad_alloc&) {
        return false;  // out of memory: the index lists it, and the walk goes no further below
    }
    std::unique_lock<std::mutex> hold(walk->lock);
    auto entry = walk->listings.find(key);
    if (entry == walk->listings.end()) return false;
    Listing* listing = &entry->second;
    if (listing->state == LISTING_WAITING) {
        listing->state = LISTING_CLAIMED;
        *share = listing->tree;
        return false;
    }
    if (listing->state == LISTING_CLAIMED) return false;
    listing->awaited = true;
    walk->landed.wait(hold, [listing] { return listing->state != LISTING_UNDER_WAY; });
    RecordBuffer records = listing->records;
    *error = listing->error;
    walk->listings.erase(key);  // by its key: the map may have grown meanwhile
    if (records.full) return false;
    walk->heldBytes -= records.used;
    hold.unlock();

    if (records.used)
        if (unsigned char* at = MakeRoom(&Arena, records.used)) memcpy(at, records.data, records.used);
    free(records.data);
    return true;
}

// The index listed `folder` of tree `tree` itself into `bytes` of records,
// having come down by `way` (the folder itself last): the walk goes on
// below it.
static void ShareSubfolders(int tree, const char* folder, const FolderId* way, size_t depth,
                            const unsigned char* records, size_t bytes) {
    PrefetchWalk* walk = Walk;
    std::lock_guard<std::mutex> hold(walk->lock);
    StackSubfolders(walk, tree, folder, strlen(folder), way, depth, records, bytes);
}

// Stacks the root `folder` for tree `tree`, unless it is no folder.
static void StackRoot(PrefetchWalk* walk, int tree, const char* folder) {
    EntryKind kind;
    FolderId id;
    if (!folder || strlen(folder) > PathLimit() || Sys.examine(folder, &kind, &id) != 0 || kind != ENTRY_FOLDER)
        return;
    walk->rootLength[tree] = strlen(folder);
    Stack(walk, tree, folder, strlen(folder), nullptr, nullptr, 0, id);
}

static PrefetchWalk* NewWalk(const char* first, const char* second) {
    PrefetchWalk* walk = new (std::nothrow) PrefetchWalk;
    if (!walk) return nullptr;
    walk->exclusions = Job.Exclusions;
    StackRoot(walk, 0, first);
    StackRoot(walk, 1, second);
    return walk;
}

static void DeleteWalk(PrefetchWalk* walk) {
    for (auto& entry : walk->listings) free(entry.second.records.data);
    delete walk;
}

void PrefetchTree(const char* folder) {
    PrefetchWalk* walk = NewWalk(folder, nullptr);
    if (!walk) return;
    WalkerLoop(walk, true);
    DeleteWalk(walk);
}

static void WalkerThread(void* walk) {
    WalkerLoop((PrefetchWalk*)walk, false);
}

void StartTreePrefetch(const char* first, const char* second, unsigned walkers) {
    StopTreePrefetch();
    PrefetchWalk* walk = NewWalk(first, second);
    if (!walk) return;
    if (walkers > MAX_WALKERS) walkers = MAX_WALKERS;
    while (walk->walkerCount < walkers && Sys.startThread(&walk->walkers[walk->walkerCount], WalkerThread, walk))
        ++walk->walkerCount;
    if (walk->walkerCount == 0) {
        DeleteWalk(walk);  // no thread to be had: the index lists every folder itself
        return;
    }
    Walk = walk;
}

void StopTreePrefetch() {
    if (!Walk) return;
    {
        std::lock_guard<std::mutex> hold(Walk->lock);
        Walk->stopped = true;
        Walk->wake.notify_all();
    }
    for (unsigned i = 0; i < Walk->walkerCount; ++i) Walk->walkers[i].join();
    DeleteWalk(Walk);
    Walk = nullptr;
}
