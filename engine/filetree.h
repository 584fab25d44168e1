// What the index keeps of a folder tree: fixed records in large blocks,
// names in large arena blocks, so that a file costs its name and a few
// bytes, not a heap block and a full path.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "contract.h"

// No such folder or file (a lookup that failed, or the root's parent).
const uint32_t NO_INDEX = 0xFFFFFFFFu;
// Folder 0 of every tree is its root.
const uint32_t ROOT_FOLDER = 0;

// Items that never move once appended: blocks of 2^shift items each, and a
// table of the blocks that grows by doubling (only the table moves). Growing
// costs one block at a time, never a copy of everything held so far.
struct BlockList {
    unsigned char** blocks;
    uint32_t blockCount;     // blocks allocated
    uint32_t blockCapacity;  // room in `blocks`
    uint32_t count;          // items appended
    uint32_t itemSize;
    uint32_t shift;
};

// An empty list of items of `itemSize` bytes, 2^shift to a block. Allocates nothing.
void InitBlockList(BlockList* list, uint32_t itemSize, uint32_t shift);

// Room for one more item at the end, zero-filled; null when memory ran out
// (the list is unchanged).
void* AppendItem(BlockList* list);

// Item `index` (below list->count).
inline void* ItemAt(const BlockList* list, uint32_t index) {
    ENGINE_ASSERT(index < list->count);
    return list->blocks[index >> list->shift] + (size_t)(index & ((1u << list->shift) - 1)) * list->itemSize;
}

// Frees every block; the list is empty again and may be reused.
void ReleaseBlockList(BlockList* list);

// Names, each NUL-terminated, packed into blocks of NAME_BLOCK_SIZE bytes;
// a name never straddles two blocks. A name's position is its block times
// NAME_BLOCK_SIZE plus its offset, so 32 bits reach 4 GiB of names.
enum { NAME_BLOCK_SHIFT = 20, NAME_BLOCK_SIZE = 1 << NAME_BLOCK_SHIFT };
struct NameArena {
    char** blocks;
    uint32_t blockCount;
    uint32_t blockCapacity;
    uint32_t used;  // bytes taken in the last block
};

// A folder of a tree. Layout (8 bytes, 32-bit and 64-bit builds alike):
//   0  parent  uint32  index of the parent folder; NO_INDEX for the root
//   4  name    uint32  arena position of the name; the root's "name" is
//                      the root path exactly as given
struct FolderRecord {
    uint32_t parent;
    uint32_t name;
};

// A regular file of a tree. Layout (12 bytes, 32-bit and 64-bit builds alike):
//   0  folder  uint32  index of its folder in the tree's folder table
//   4  name    uint32  arena position of its name (name bytes + NUL there)
//   8  size    uint32  bytes, as the listing saw them; SIZE_UNLISTED when
//                      the listing did not tell; SIZE_ELSEWHERE for
//                      4 GiB - 2 and more, whose size is in the tree's
//                      bigSizes list instead (read sizes with FileSize)
// The modded tree keeps each file's stamp (8 bytes) in a list beside the
// records, at the same index; the original tree needs none. So a file
// costs 12 (original) or 20 (modded) bytes plus its name and NUL, plus
// 6 bytes of hash table per original file while the scan runs.
const uint32_t SIZE_ELSEWHERE = 0xFFFFFFFFu;
const uint32_t SIZE_UNLISTED = 0xFFFFFFFEu;
struct FileRecord {
    uint32_t folder;
    uint32_t name;
    uint32_t size;
};

// A size too big for a record: few files are, so a sorted list does.
struct BigSize {
    uint32_t file;
    uint64_t size;
};

// One indexed tree. Files are numbered in the order the index met them;
// the list order of the job (newest first) is that numbering backwards.
struct FileTree {
    BlockList folders;  // FolderRecord; folder 0 is the root
    BlockList files;    // FileRecord
    BlockList stamps;   // uint64_t per file, when the tree keeps stamps
    BlockList bigSizes; // BigSize, by file index
    BlockList partlyListed;  // uint32_t: folders of which the index could not hold every entry
    NameArena names;
    bool keepStamps;
    size_t rootLength;  // characters of the root path
};

// An empty tree without a root yet. Allocates nothing. Stamps are kept
// when `keepStamps`.
void InitFileTree(FileTree* tree, bool keepStamps);

// Gives an empty tree its root folder (folder 0), whose path is `root`
// (`length` characters, stored as given, a trailing separator included).
// False when memory ran out; the tree then stays empty.
bool SetTreeRoot(FileTree* tree, const char* root, size_t length);

// Adds a folder named `name` (`length` characters) below folder `parent`.
// Returns its index, or NO_INDEX when memory ran out (nothing is added).
uint32_t AddFolder(FileTree* tree, uint32_t parent, const char* name, size_t length);

// Adds a file named `name` to folder `folder`, with its size as listed
// (SIZE_UNKNOWN: the listing did not tell). Returns its index, or
// NO_INDEX when memory ran out (nothing is added).
uint32_t AddFile(FileTree* tree, uint32_t folder, const char* name, size_t length, uint64_t size,
                 uint64_t stamp);

// FNV-1a of the `length` bytes of `path`, for the engine's path tables.
uint32_t HashPath(const char* path, size_t length);

inline uint32_t FileCount(const FileTree* tree) { return tree->files.count; }
inline uint32_t FolderCount(const FileTree* tree) { return tree->folders.count; }
inline const FileRecord* FileAt(const FileTree* tree, uint32_t index) {
    return (const FileRecord*)ItemAt(&tree->files, index);
}
inline const FolderRecord* FolderAt(const FileTree* tree, uint32_t index) {
    return (const FolderRecord*)ItemAt(&tree->folders, index);
}
// The NUL-terminated name at arena position `position`.
inline const char* NameAt(const FileTree* tree, uint32_t position) {
    ENGINE_ASSERT((position >> NAME_BLOCK_SHIFT) < tree->names.blockCount);
    return tree->names.blocks[position >> NAME_BLOCK_SHIFT] + (position & (NAME_BLOCK_SIZE - 1));
}
// The file's size as the listing saw it; SIZE_UNKNOWN when it did not.
uint64_t FileSize(const FileTree* tree, uint32_t index);

// The file's stamp as the listing saw it; 0 when the tree keeps none or
// the listing did not tell.
inline uint64_t StampOf(const FileTree* tree, uint32_t index) {
    return tree->keepStamps ? *(const uint64_t*)ItemAt(&tree->stamps, index) : 0;
}

// Writes the full path of file `index` into `out` (PATH_BUFFER_SIZE bytes):
// root, then each folder and the name, each after one separator. Returns
// its length; 0 when it would not fit (nothing past `out` is written; the
// index never keeps such a file).
size_t FilePath(const FileTree* tree, uint32_t index, char* out);

// Frees everything the tree holds; it is empty afterwards.
void ReleaseFileTree(FileTree* tree);
