// The change detection: which modded files are new, and which differ from
// the original at the same relative path.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "copyqueue.h"
#include "filelist.h"
#include "platform.h"

// Lookup tables of the original tree by folder and name, built once per job
// and sized once from the tree's counts, so that matching costs the same
// whatever the size of the tree. A relative path matches when its folder
// matches (folder by folder from the root) and its name does: byte for
// byte on POSIX; on Windows, whose file systems do not tell letter case
// apart, as the platform compares names (NameAsCompared), so that a
// case-only difference is the same file.
struct OriginalIndex {
    const FileTree* tree;
    bool foldCase;        // names matched in the platform's compared form
    uint32_t* files;      // open addressing over file indices; NO_INDEX = empty; null: search the records
    uint32_t fileSlots;
    uint32_t* folders;    // the same over folder indices, keyed by parent and name
    uint32_t folderSlots;
};

// Indexes every folder and file of `originals`, which must not change until
// the index is released. When a table cannot be allocated, lookups search
// the records instead. Release with ReleaseOriginalIndex.
void BuildOriginalIndex(const FileTree* originals, OriginalIndex* index);
void ReleaseOriginalIndex(OriginalIndex* index);

// The original folder named `name` (`length` bytes, matched as above) in
// original folder `parent`; NO_INDEX when there is none.
uint32_t FindOriginalFolder(const OriginalIndex* index, uint32_t parent, const char* name, size_t length);

// The original folder at the same relative path as folder `folder` of
// `tree` (the root matches the root); NO_INDEX when there is none.
uint32_t MatchFolder(const OriginalIndex* index, const FileTree* tree, uint32_t folder);

// The first original file, in list order, named `name` in original folder
// `folder`; NO_INDEX when there is none: the modded file is new.
uint32_t FindOriginal(const OriginalIndex* index, uint32_t folder, const char* name, size_t length);

// The deep scan: the job's ModdedTree against its OriginalTree, in list
// order (newest first), from the match of each modded file to the queueing
// of its copy (the copies run meanwhile; CreateMod awaits them). Appends every new or changed file to ChangedList (new
// ones flagged CHANGED_NEW), counts them in ChangedCount, queues their
// copies on `copies` (none in a dry run), and sends the
// progress position once per modded file. Once every modded file is
// matched, counts the original files that none matched in the result's
// removedFiles (and lists them there when asked: keepRemovedList). Stops
// early once the job was abandoned, a pair under way at its next chunk:
// that pair counts neither way, and no file counts as removed. A pair that
// cannot be compared counts as changed: recorded as a failure when the
// original could not be read, else as a warning (the copy then tells
// whether the modded file is readable). Such a pair, and a new file where
// the original tree could not be listed whole, count in the result's
// `uncompared`.
// The pairs are read on the comparison pool (comparepool.h) with
// Job.Comparers reads in flight; everything the scan reports follows the
// list's order all the same.
void DeepScan(CopyQueue* copies);
