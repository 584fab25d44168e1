// The original tree's lookup tables: a file or folder found by its folder
// and name, as the platform compares names, in the time of a hash probe.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "filetree.h"
#include "hashtable.h"
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
    bool foldCase;                // names matched in the platform's compared form
    HashTable<uint32_t> files;    // file indices; without slots: search the records
    HashTable<uint32_t> folders;  // folder indices, keyed by parent and name
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
