#include "filetree.h"

#include <stdlib.h>
#include <string.h>

#include "contract.h"
#include "platform.h"

// 2^16 records of 16 bytes: 1 MiB blocks, like the names'.
enum { RECORD_SHIFT = 16, FOLDER_SHIFT = 12, STAMP_SHIFT = 16, BIG_SIZE_SHIFT = 8 };

// Makes room for one more block pointer; false when memory ran out.
static bool GrowTable(void*** table, uint32_t count, uint32_t* capacity) {
    if (count < *capacity) return true;
    uint32_t grown = *capacity ? *capacity * 2 : 16;
    void** bigger = (void**)realloc(*table, grown * sizeof(void*));
    if (!bigger) return false;
    *table = bigger;
    *capacity = grown;
    return true;
}

void InitBlockList(BlockList* list, uint32_t itemSize, uint32_t shift) {
    list->blocks = nullptr;
    list->blockCount = list->blockCapacity = list->count = 0;
    list->itemSize = itemSize;
    list->shift = shift;
}

void* AppendItem(BlockList* list) {
    uint32_t perBlock = 1u << list->shift;
    if (list->count == NO_INDEX) return nullptr;  // the index space is spent
    if (list->count == list->blockCount * perBlock) {
        if (!GrowTable((void***)&list->blocks, list->blockCount, &list->blockCapacity)) return nullptr;
        unsigned char* block = (unsigned char*)malloc((size_t)perBlock * list->itemSize);
        if (!block) return nullptr;
        list->blocks[list->blockCount++] = block;
    }
    void* item = ItemAt(list, list->count++);
    memset(item, 0, list->itemSize);
    return item;
}

void ReleaseBlockList(BlockList* list) {
    for (uint32_t i = 0; i < list->blockCount; ++i) free(list->blocks[i]);
    free(list->blocks);
    InitBlockList(list, list->itemSize, list->shift);
}

// Stores a name and its NUL; returns its position, or NO_INDEX when memory
// (or the 4 GiB of positions) ran out.
static uint32_t StoreName(NameArena* arena, const char* name, size_t length) {
    if (length >= NAME_BLOCK_SIZE) return NO_INDEX;
    if (arena->blockCount == 0 || arena->used + length + 1 > NAME_BLOCK_SIZE) {
        if (arena->blockCount == (1u << (32 - NAME_BLOCK_SHIFT))) return NO_INDEX;
        if (!GrowTable((void***)&arena->blocks, arena->blockCount, &arena->blockCapacity)) return NO_INDEX;
        char* block = (char*)malloc(NAME_BLOCK_SIZE);
        if (!block) return NO_INDEX;
        arena->blocks[arena->blockCount++] = block;
        arena->used = 0;
    }
    char* at = arena->blocks[arena->blockCount - 1] + arena->used;
    memcpy(at, name, length);
    at[length] = '\0';
    uint32_t position = ((arena->blockCount - 1) << NAME_BLOCK_SHIFT) | arena->used;
    arena->used += (uint32_t)length + 1;
    return position;
}

// Gives back the last name stored, when the record meant for it could not be had.
static void DropLastName(NameArena* arena, uint32_t position) {
    arena->used = position & (NAME_BLOCK_SIZE - 1);
}

static void ReleaseNames(NameArena* arena) {
    for (uint32_t i = 0; i < arena->blockCount; ++i) free(arena->blocks[i]);
    free(arena->blocks);
    arena->blocks = nullptr;
    arena->blockCount = arena->blockCapacity = arena->used = 0;
}

void InitFileTree(FileTree* tree, bool keepStamps) {
    InitBlockList(&tree->folders, sizeof(FolderRecord), FOLDER_SHIFT);
    InitBlockList(&tree->files, sizeof(FileRecord), RECORD_SHIFT);
    InitBlockList(&tree->stamps, sizeof(uint64_t), STAMP_SHIFT);
    InitBlockList(&tree->bigSizes, sizeof(BigSize), BIG_SIZE_SHIFT);
    InitBlockList(&tree->partlyListed, sizeof(uint32_t), BIG_SIZE_SHIFT);
    tree->names = NameArena{nullptr, 0, 0, 0};
    tree->keepStamps = keepStamps;
    tree->rootLength = 0;
}

bool SetTreeRoot(FileTree* tree, const char* root, size_t length) {
    if (AddFolder(tree, NO_INDEX, root, length) == NO_INDEX) return false;
    tree->rootLength = length;
    return true;
}

uint32_t AddFolder(FileTree* tree, uint32_t parent, const char* name, size_t length) {
    ENGINE_ASSERT(parent < FolderCount(tree) || (parent == NO_INDEX && FolderCount(tree) == 0));  // only the root has none
    uint32_t position = StoreName(&tree->names, name, length);
    if (position == NO_INDEX) return NO_INDEX;
    FolderRecord* folder = (FolderRecord*)AppendItem(&tree->folders);
    if (!folder) {
        DropLastName(&tree->names, position);
        return NO_INDEX;
    }
    folder->parent = parent;
    folder->name = position;
    return tree->folders.count - 1;
}

uint32_t AddFile(FileTree* tree, uint32_t folder, const char* name, size_t length, uint64_t size,
                 uint64_t stamp) {
    ENGINE_ASSERT(folder < FolderCount(tree));
    uint32_t position = StoreName(&tree->names, name, length);
    if (position == NO_INDEX) return NO_INDEX;
    if (tree->keepStamps) {
        uint64_t* kept = (uint64_t*)AppendItem(&tree->stamps);
        if (!kept) {
            DropLastName(&tree->names, position);
            return NO_INDEX;
        }
        *kept = stamp;
    }
    bool known = size != SIZE_UNKNOWN;
    bool elsewhere = known && size >= SIZE_UNLISTED;
    BigSize* big = nullptr;
    if (elsewhere) big = (BigSize*)AppendItem(&tree->bigSizes);
    FileRecord* file = elsewhere && !big ? nullptr : (FileRecord*)AppendItem(&tree->files);
    if (!file) {
        if (big) --tree->bigSizes.count;
        if (tree->keepStamps) --tree->stamps.count;
        DropLastName(&tree->names, position);
        return NO_INDEX;
    }
    file->folder = folder;
    file->name = position;
    file->size = !known ? SIZE_UNLISTED : elsewhere ? SIZE_ELSEWHERE : (uint32_t)size;
    if (big) {
        big->file = tree->files.count - 1;
        big->size = size;
    }
    return tree->files.count - 1;
}

uint64_t FileSize(const FileTree* tree, uint32_t index) {
    uint32_t size = FileAt(tree, index)->size;
    if (size == SIZE_UNLISTED) return SIZE_UNKNOWN;
    if (size != SIZE_ELSEWHERE) return size;
    // Appended in file order, so sorted by file.
    uint32_t low = 0, high = tree->bigSizes.count;
    while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        const BigSize* big = (const BigSize*)ItemAt(&tree->bigSizes, middle);
        if (big->file == index) return big->size;
        if (big->file < index) low = middle + 1;
        else high = middle;
    }
    return SIZE_ELSEWHERE;  // not reached: every such file has its entry
}

size_t FilePath(const FileTree* tree, uint32_t index, char* out) {
    // Measure first, then fill from the end: no stack of folders needed.
    const FileRecord* file = FileAt(tree, index);
    const char* name = NameAt(tree, file->name);
    size_t nameLength = strlen(name);
    size_t length = nameLength;
    for (uint32_t folder = file->folder; folder != NO_INDEX; folder = FolderAt(tree, folder)->parent) {
        length += 1 + (folder == ROOT_FOLDER ? tree->rootLength : strlen(NameAt(tree, FolderAt(tree, folder)->name)));
        if (length > PATH_BUFFER_SIZE - 1) return 0;
    }
    size_t at = length - nameLength;
    memcpy(out + at, name, nameLength + 1);
    for (uint32_t folder = file->folder; folder != NO_INDEX; folder = FolderAt(tree, folder)->parent) {
        out[--at] = PathSeparator();
        const char* part = NameAt(tree, FolderAt(tree, folder)->name);
        size_t partLength = folder == ROOT_FOLDER ? tree->rootLength : strlen(part);
        at -= partLength;
        memcpy(out + at, part, partLength);
    }
    return length;
}

void ReleaseFileTree(FileTree* tree) {
    ReleaseBlockList(&tree->folders);
    ReleaseBlockList(&tree->files);
    ReleaseBlockList(&tree->stamps);
    ReleaseBlockList(&tree->bigSizes);
    ReleaseBlockList(&tree->partlyListed);
    ReleaseNames(&tree->names);
    tree->rootLength = 0;
}

uint32_t HashPath(const char* path, size_t length) {
    uint32_t hash = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < length; ++i) {
        hash ^= (unsigned char)path[i];
        hash *= 16777619u;
    }
    return hash;
}
