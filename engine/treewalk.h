// The read-ahead walk: a few threads list the folders of the trees ahead
// of the index (fileindex.h), which takes their listings instead of
// listing those folders again.
#pragma once

#include <stddef.h>

#include "listingrecords.h"
#include "platform.h"

struct PrefetchWalk;

// Starts `walkers` threads (at most MAX_WORKERS; fewer when the system
// gives fewer, and no walk at all when it gives none) that list every
// folder below `first`, then below `second` (null: none), in about the
// order the index will, so that the folders and entries of trees that are
// not in memory are read from the disk several at a time. IndexTree then
// takes those listings instead of listing the folders again (a folder it
// comes to first, it lists itself). The walk goes every way the index goes
// and no further (not into a folder on the way down). Of a folder's
// subfolders it stacks the first ones in listing order, as many as fit
// 1 MiB, and none once memory runs out; at most 2 MiB of listings wait for
// the index (the one it waits for is kept whatever its size, and the
// walkers' listings under way as the bound is reached too); beyond that the
// walkers wait till the index has taken them down to half the bound. A
// listing under way ends once the job was stopped. It records no problem:
// the index records whatever a listing it takes failed with, as it would
// have. Returns the walk, for IndexTree and StopTreePrefetch; null when no
// thread or no memory was to be had: the index then lists every folder
// itself. `lazy`: the threads start only once the index's own listings are
// seen to read from a disk (ThreadDiskReadBytes, after LAZY_WALK_ROUND
// folders, then after twice as many each time, up to
// LAZY_LONGEST_WALK_ROUND), or once the index has listed LAZY_WALK_BIG_TREE
// folders itself, where listing is work enough to share out over the cores;
// a small tree in memory then costs no switch of threads per folder. Where
// the platform does not count those reads, they start at once.
enum { LAZY_WALK_ROUND = 8, LAZY_LONGEST_WALK_ROUND = 64, LAZY_WALK_BIG_TREE = 2048 };
PrefetchWalk* StartTreePrefetch(const char* first, const char* second, unsigned walkers, bool lazy = false);

// The same walk of `folder` on the calling thread, to its end; its listings
// are dropped, and past the held bound it only reads ahead.
void PrefetchTree(const char* folder);

// Stops `walk`, waiting for the listings under way, and frees it. Does
// nothing for null.
void StopTreePrefetch(PrefetchWalk* walk);

// Hands the index `walk`'s listing of `folder`, appended to `arena`
// with its error, and returns true; or returns false, and the index lists
// the folder itself. When the walk had not come to it yet, `*share` tells
// the index to pass its subfolders on (ShareSubfolders), so that the walk
// goes on below it.
bool TakeListing(PrefetchWalk* walk, const char* folder, RecordBuffer* arena, SysError* error, int* share);

// A folder the walk goes through: its tree (0 the first), its path, and
// the folders on the way down to it from the root, itself last.
struct WalkPlace {
    int tree;
    const char* path;
    size_t pathLength;
    const FolderId* way;
    size_t depth;
};

// The index listed the folder `place` itself into `bytes` of records: the
// walk goes on below it.
void ShareSubfolders(PrefetchWalk* walk, const WalkPlace& place, const unsigned char* records, size_t bytes);
