#include "treewalk.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "exclusions.h"
#include "jobstate.h"
#include "workerpool.h"

// The read-ahead walk: a few threads list the folders of the trees ahead of
// the index, so that several of a cold tree's small metadata reads are in
// flight where the index alone has one. It goes every way the index goes
// and no further: into each subfolder unless it leads back to a folder on
// the way down. Folders wait in one heap per tree, the first tree's served
// first, and the walkers take the one the index comes to first, so that
// what they list is what the index needs next: walkers running down a
// later branch would leave the index to list the earlier folders itself,
// and hold listings that stop them at the bound. Each listing is kept,
// keyed by its path, until the index takes it instead of listing the
// folder again.
enum ListingState : uint8_t {
    LISTING_WAITING,   // stacked
    LISTING_UNDER_WAY,
    LISTING_DONE,
    LISTING_CLAIMED,   // the index came first and lists it itself
};

// Where the index comes to a folder: the place of each folder on the way
// down among its parent's entries, the root's first and empty. The index
// walks depth first in listing order, so it comes to folders in the
// lexicographic order of these.
typedef std::vector<uint32_t> WalkOrder;

struct Listing {
    ListingState state;
    bool awaited;  // the index waits for it
    int tree;
    SysError error;
    RecordBuffer records;
    WalkOrder order;
};

// A waiting folder, with the folders on the way down to it, itself last.
// `order` is its listing's, which stays in the map until a walker takes it.
struct WaitingFolder {
    std::string path;
    std::vector<FolderId> way;
    const WalkOrder* order;
};

// The heaps' order: the folder the index comes to first on top.
static bool ComesLater(const WaitingFolder& a, const WaitingFolder& b) {
    return *b.order < *a.order;
}

struct PrefetchWalk {
    WorkerPool workers;                   // `wake`: folders were stacked or taken, or the walk stops
    std::condition_variable listingDone;  // a listing is done
    std::vector<WaitingFolder> waiting[2];
    size_t waitingBytes = 0;
    std::unordered_map<std::string, Listing> listings;
    size_t heldBytes = 0;            // records of done listings
    unsigned listing = 0;            // walkers listing a folder now
    size_t rootLength[2] = {0, 0};
    const ExclusionList* exclusions = nullptr;  // the job's, whose folders the index does not walk
    // Threads not started yet (0: none to start), and the index's count of
    // folders and of its disk's bytes, on the index's thread alone.
    unsigned lazyWalkers = 0;
    unsigned lazyFolders = 0;
    unsigned lazyRound = LAZY_WALK_ROUND;
    uint64_t lazyFoldersInAll = 0;
    uint64_t lazyDiskBytes = 0;
    // Beside the index, walkers wait past the held bound for the index to
    // take listings: a listing dropped there is one the index makes again,
    // every entry's status query included, which doubled the listing work
    // of a big tree in memory.
    bool waitForIndex = false;
    // The order of the folder the index claimed last, for its subfolders
    // (ShareSubfolders); on the index's thread alone.
    WalkOrder claimedOrder;
    // Set once the held listings reach the bound, cleared once the index has
    // taken them down to half of it: the walkers then list a batch, instead
    // of all waking for each listing the index takes.
    bool full = false;
};

// While the index is busy with the original tree, the walk reads the
// modded one. Beyond these bounds it stacks no more folders, or lists no
// more until the index takes listings (a walk without an index keeps none
// past them and only reads ahead), so no tree can make it grow without
// bound. They are small because what the walkers allocate is not all
// reused once they end.
const size_t PREFETCH_WAITING_BYTES = 1u << 20;
const size_t PREFETCH_HELD_BYTES = 2u << 20;

static size_t WaitingSize(const WaitingFolder& folder) {
    return folder.path.size() + folder.way.size() * (sizeof(FolderId) + sizeof(uint32_t));
}

// Stacks the folder `name` in `parent` (the folder `parent` itself when
// `name` is null) with its identity `id`, the index coming to it at
// `order` and then `place`. False when memory ran out: the walk stacks no
// more then, and the index lists what the walk did not. Under the walk's lock.
static bool Stack(PrefetchWalk* walk, const WalkPlace& parent, const char* name, FolderId id, const WalkOrder& order,
                  uint32_t place) {
    // The standard containers throw when memory runs out; it ends here.
    try {
        WaitingFolder folder{std::string(parent.path, parent.pathLength),
                             std::vector<FolderId>(parent.way, parent.way + parent.depth), nullptr};
        if (name) {
            folder.path += PathSeparator();
            folder.path += name;
        }
        folder.way.push_back(id);
        std::vector<WaitingFolder>& heap = walk->waiting[parent.tree];
        if (heap.size() == heap.capacity())  // so that nothing can fail once the listing is placed
            heap.reserve(heap.empty() ? 64 : 2 * heap.capacity());
        Listing listing{LISTING_WAITING, false, parent.tree, 0, RecordBuffer(), order};
        if (name) listing.order.push_back(place);
        auto placed = walk->listings.emplace(folder.path, std::move(listing));
        if (!placed.second) return true;
        folder.order = &placed.first->second.order;
        walk->waitingBytes += WaitingSize(folder);
        heap.push_back(std::move(folder));
        std::push_heap(heap.begin(), heap.end(), ComesLater);
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

// Stacks the subfolders among the `bytes` of records listed from the
// folder `folder`, which the index comes to at `order`. When not all fit
// the bound, the first ones in listing order do: those are the ones the
// index comes to first. Under the walk's lock.
static void StackSubfolders(PrefetchWalk* walk, const WalkPlace& folder, const WalkOrder& order,
                            const unsigned char* records, size_t bytes) {
    uint32_t place = 0;
    for (size_t at = 0; at < bytes; ++place) {
        const EntryRecord* record = (const EntryRecord*)(records + at);
        at += RecordSize(record->nameLength);
        const char* name = (const char*)(record + 1);
        if (record->kind != ENTRY_FOLDER || IsDotOrDotDot(name)) continue;
        bool loop = false;
        for (size_t d = 0; d < folder.depth; ++d)
            loop |= folder.way[d].volume == record->id.volume && folder.way[d].index == record->id.index;
        size_t length = folder.pathLength + 1 + record->nameLength;
        if (loop || length > PathLimit() || LeftOutOfWalk(walk, folder.tree, folder.path, folder.pathLength, name))
            continue;
        if (walk->waitingBytes + length + (folder.depth + 1) * (sizeof(FolderId) + sizeof(uint32_t)) >
            PREFETCH_WAITING_BYTES)
            break;
        if (!Stack(walk, folder, name, record->id, order, place)) break;
    }
    if (!walk->full) walk->workers.wake.notify_all();  // else the index wakes them
}

// Lists folder after folder until the walk is stopped or, when `toTheEnd`,
// until every folder is listed. A walk beside the index keeps waiting when
// it has nothing to list, since the index may still pass folders on.
static void WalkerLoop(PrefetchWalk* walk, bool toTheEnd) {
    std::unique_lock<std::mutex> hold(walk->workers.lock);
    for (;;) {
        walk->workers.wake.wait(hold, [walk, toTheEnd] {
            return walk->workers.stopping ||
                   (!walk->full && (!walk->waiting[0].empty() || !walk->waiting[1].empty())) ||
                   (toTheEnd && walk->listing == 0);
        });
        int tree = walk->waiting[0].empty() ? 1 : 0;
        if (walk->workers.stopping || walk->waiting[tree].empty()) break;
        std::vector<WaitingFolder>& heap = walk->waiting[tree];
        std::pop_heap(heap.begin(), heap.end(), ComesLater);
        WaitingFolder folder = std::move(heap.back());
        heap.pop_back();
        walk->waitingBytes -= WaitingSize(folder);
        auto entry = walk->listings.find(folder.path);
        if (entry->second.state == LISTING_CLAIMED) {
            walk->listings.erase(entry);
            continue;
        }
        // Its own: the listing may be gone by the time its subfolders are
        // stacked, and once under way it is claimed no more.
        WalkOrder order = std::move(entry->second.order);
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
        // only list the folder again. Walkers that wait for the index may
        // each pass the bound by the listing they had under way.
        size_t bound = walk->waitForIndex ? 2 * PREFETCH_HELD_BYTES : PREFETCH_HELD_BYTES;
        bool kept = !records.full && (listing->awaited || walk->heldBytes + records.used <= bound);
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
            if (walk->waitForIndex && walk->heldBytes >= PREFETCH_HELD_BYTES) walk->full = true;
        } else {
            listing->records.full = true;  // the index lists it again
        }
        walk->listingDone.notify_all();
        StackSubfolders(walk, WalkPlace{tree, folder.path.c_str(), folder.path.size(), folder.way.data(), folder.way.size()},
                        order, records.data, records.used);
        if (!kept) free(records.data);
    }
    walk->workers.wake.notify_all();
}

static void WalkerThread(void* walk) {
    WalkerLoop((PrefetchWalk*)walk, false);
}

// Starts the walkers once the index's listings read from a disk: a few
// blocks per folder (its entries, their inodes). Less is the program's
// own code read in as it first runs.
const uint64_t DISK_BYTES_PER_FOLDER = 16u << 10;
// Each quiet round makes the next one longer (up to LAZY_LONGEST_WALK_ROUND):
// asking costs a call.
static void StartIfListingsWait(PrefetchWalk* walk) {
    if (++walk->lazyFolders < walk->lazyRound) return;
    uint64_t diskBytes = 0;
    bool counted = ThreadDiskReadBytes(&diskBytes);
    uint64_t read = diskBytes - walk->lazyDiskBytes;
    walk->lazyDiskBytes = diskBytes;
    uint64_t folders = walk->lazyFolders;
    walk->lazyFolders = 0;
    walk->lazyFoldersInAll += folders;
    bool big = walk->lazyFoldersInAll >= LAZY_WALK_BIG_TREE;  // listing is then work enough to share out
    if (counted && read < folders * DISK_BYTES_PER_FOLDER && !big) {
        if (walk->lazyRound < LAZY_LONGEST_WALK_ROUND) walk->lazyRound *= 2;
        return;
    }
    unsigned walkers = walk->lazyWalkers;
    walk->lazyWalkers = 0;  // started now, or never
    StartWorkers(&walk->workers, walkers, WalkerThread, walk);
}

bool TakeListing(PrefetchWalk* walk, const char* folder, RecordBuffer* arena, SysError* error, int* share) {
    *share = -1;
    if (!walk) return false;
    if (walk->lazyWalkers) StartIfListingsWait(walk);
    std::string key;
    try {
        key = folder;
    } catch (const std::bad_alloc&) {
        return false;  // out of memory: the index lists it, and the walk goes no further below
    }
    std::unique_lock<std::mutex> hold(walk->workers.lock);
    auto entry = walk->listings.find(key);
    if (entry == walk->listings.end()) return false;
    Listing* listing = &entry->second;
    if (listing->state == LISTING_WAITING) {
        listing->state = LISTING_CLAIMED;
        try {
            walk->claimedOrder = listing->order;
            *share = listing->tree;
        } catch (const std::bad_alloc&) {
            // Not shared: the walk goes no further below.
        }
        return false;
    }
    if (listing->state == LISTING_CLAIMED) return false;
    listing->awaited = true;
    walk->listingDone.wait(hold, [listing] { return listing->state != LISTING_UNDER_WAY; });
    RecordBuffer records = listing->records;
    *error = listing->error;
    walk->listings.erase(key);  // by its key: the map may have grown meanwhile
    if (records.full) return false;
    walk->heldBytes -= records.used;
    bool room = walk->full && walk->heldBytes < PREFETCH_HELD_BYTES / 2;
    if (room) walk->full = false;
    hold.unlock();
    if (room) walk->workers.wake.notify_all();

    if (records.used)
        if (unsigned char* at = MakeRoom(arena, records.used)) memcpy(at, records.data, records.used);
    free(records.data);
    return true;
}

void ShareSubfolders(PrefetchWalk* walk, const WalkPlace& place, const unsigned char* records, size_t bytes) {
    std::lock_guard<std::mutex> hold(walk->workers.lock);
    StackSubfolders(walk, place, walk->claimedOrder, records, bytes);
}

// Stacks the root `folder` for tree `tree`, unless it is no folder.
static void StackRoot(PrefetchWalk* walk, int tree, const char* folder) {
    EntryKind kind;
    FolderId id;
    if (!folder || strlen(folder) > PathLimit() || Sys.examine(folder, &kind, &id) != 0 || kind != ENTRY_FOLDER)
        return;
    walk->rootLength[tree] = strlen(folder);
    Stack(walk, WalkPlace{tree, folder, strlen(folder), nullptr, 0}, nullptr, id, WalkOrder(), 0);
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

PrefetchWalk* StartTreePrefetch(const char* first, const char* second, unsigned walkers, bool lazy) {
    PrefetchWalk* walk = NewWalk(first, second);
    if (!walk) return nullptr;
    walk->waitForIndex = true;
    if (lazy && ThreadDiskReadBytes(&walk->lazyDiskBytes)) {
        walk->lazyWalkers = walkers;
        return walk;
    }
    if (StartWorkers(&walk->workers, walkers, WalkerThread, walk) == 0) {
        DeleteWalk(walk);  // no thread to be had: the index lists every folder itself
        return nullptr;
    }
    return walk;
}

void StopTreePrefetch(PrefetchWalk* walk) {
    if (!walk) return;
    StopWorkers(&walk->workers);
    DeleteWalk(walk);
}
