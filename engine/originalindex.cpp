#include "originalindex.h"

#include <stdlib.h>
#include <string.h>

// True where the platform's name comparison (NameAsCompared) does not
// tell letter case apart: Windows. Names are then matched as the file
// system matches them, so that a folder or file spelt in other letter case
// in the game's tree is the same one.
static bool PlatformFoldsCase() {
    char out[8];
    const char* compared = NameAsCompared("a", out, sizeof out);
    return compared && strcmp(compared, "a") != 0;
}

static bool IsAscii(const char* name, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if ((unsigned char)name[i] >= 0x80) return false;
    return true;
}

static char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

// `name` (`length` bytes) as the platform compares it, in `out`
// (PATH_BUFFER_SIZE bytes); the name itself when that form cannot be had.
static const char* Compared(const char* name, size_t length, char* out, size_t* comparedLength) {
    char whole[PATH_BUFFER_SIZE];
    *comparedLength = length;
    if (length >= sizeof whole) return name;
    memcpy(whole, name, length);
    whole[length] = '\0';
    const char* compared = NameAsCompared(whole, out, PATH_BUFFER_SIZE);
    if (!compared) return name;
    *comparedLength = strlen(compared);
    return compared;
}

// The hash of a name in its compared form. Plain ASCII names, nearly all
// of them, are folded here byte by byte (the invariant upper case of ASCII
// is ASCII's own), without a trip through the platform.
static uint32_t HashName(const char* name, size_t length, bool foldCase) {
    if (!foldCase) return HashPath(name, length);
    if (!IsAscii(name, length)) {
        char out[PATH_BUFFER_SIZE];
        size_t comparedLength;
        const char* compared = Compared(name, length, out, &comparedLength);
        return HashPath(compared, comparedLength);
    }
    uint32_t hash = 2166136261u;  // FNV-1a, as HashPath
    for (size_t i = 0; i < length; ++i) {
        hash ^= (unsigned char)AsciiUpper(name[i]);
        hash *= 16777619u;
    }
    return hash;
}

// A slot for a name in a folder: the name's hash mixed with the folder,
// spread over the table by multiplication (the table need not be a power of two).
static uint32_t SlotOf(uint32_t folder, const char* name, size_t length, uint32_t slots, bool foldCase) {
    uint32_t hash = HashName(name, length, foldCase) ^ (folder * 0x9E3779B1u);
    hash ^= hash >> 16;
    hash *= 0x85EBCA6Bu;
    hash ^= hash >> 13;
    return (uint32_t)(((uint64_t)hash * slots) >> 32);
}

static bool SameName(const char* stored, const char* name, size_t length, bool foldCase) {
    if (strncmp(stored, name, length) == 0 && stored[length] == '\0') return true;
    if (!foldCase) return false;
    size_t storedLength = strlen(stored);
    if (IsAscii(stored, storedLength) && IsAscii(name, length)) {
        if (storedLength != length) return false;
        for (size_t i = 0; i < length; ++i)
            if (AsciiUpper(stored[i]) != AsciiUpper(name[i])) return false;
        return true;
    }
    char storedOut[PATH_BUFFER_SIZE], nameOut[PATH_BUFFER_SIZE];
    size_t storedCompared, nameCompared;
    const char* a = Compared(stored, storedLength, storedOut, &storedCompared);
    const char* b = Compared(name, length, nameOut, &nameCompared);
    return storedCompared == nameCompared && memcmp(a, b, nameCompared) == 0;
}

static bool FileIs(const OriginalIndex* index, uint32_t file, uint32_t folder, const char* name, size_t length) {
    const FileRecord* record = FileAt(index->tree, file);
    return record->folder == folder && SameName(NameAt(index->tree, record->name), name, length, index->foldCase);
}

static bool FolderIs(const OriginalIndex* index, uint32_t at, uint32_t parent, const char* name, size_t length) {
    const FolderRecord* record = FolderAt(index->tree, at);
    return record->parent == parent && SameName(NameAt(index->tree, record->name), name, length, index->foldCase);
}

// From `slot` on, the slot holding an entry that `is` accepts, or the empty
// slot where such an entry belongs (the tables always keep one empty).
template <typename Accepts>
static uint32_t Probe(const uint32_t* table, uint32_t slots, uint32_t slot, Accepts is) {
    while (table[slot] != NO_INDEX && !is(table[slot]))
        if (++slot == slots) slot = 0;
    return slot;
}

// Room for 1.5 times the entries: short probes, 6 bytes per entry.
static uint32_t* NewTable(uint32_t entries, uint32_t* slots) {
    uint64_t wanted = (uint64_t)entries + entries / 2 + 16;
    if (wanted > 0xFFFFFFFFu || wanted > SIZE_MAX / sizeof(uint32_t)) return nullptr;
    uint32_t* table = (uint32_t*)malloc((size_t)wanted * sizeof(uint32_t));
    if (!table) return nullptr;
    memset(table, 0xFF, (size_t)wanted * sizeof(uint32_t));  // every slot NO_INDEX
    *slots = (uint32_t)wanted;
    return table;
}

void BuildOriginalIndex(const FileTree* originals, OriginalIndex* index) {
    index->tree = originals;
    index->foldCase = PlatformFoldsCase();
    index->files = index->folders = nullptr;
    index->fileSlots = index->folderSlots = 0;

    uint32_t slots;
    if (uint32_t* table = NewTable(FolderCount(originals), &slots)) {
        for (uint32_t folder = 1; folder < FolderCount(originals); ++folder) {  // the root has no name to look up
            const FolderRecord* record = FolderAt(originals, folder);
            const char* name = NameAt(originals, record->name);
            size_t length = strlen(name);
            uint32_t slot = Probe(table, slots, SlotOf(record->parent, name, length, slots, index->foldCase),
                                  [&](uint32_t at) { return FolderIs(index, at, record->parent, name, length); });
            if (table[slot] == NO_INDEX) table[slot] = folder;
        }
        index->folders = table;
        index->folderSlots = slots;
    }
    if (uint32_t* table = NewTable(FileCount(originals), &slots)) {
        // In list order, newest first: the first file with a given path wins, as a walk would find it.
        for (uint32_t file = FileCount(originals); file-- > 0;) {
            const FileRecord* record = FileAt(originals, file);
            const char* name = NameAt(originals, record->name);
            size_t length = strlen(name);
            uint32_t slot = Probe(table, slots, SlotOf(record->folder, name, length, slots, index->foldCase),
                                  [&](uint32_t at) { return FileIs(index, at, record->folder, name, length); });
            if (table[slot] == NO_INDEX) table[slot] = file;
        }
        index->files = table;
        index->fileSlots = slots;
    }
}

void ReleaseOriginalIndex(OriginalIndex* index) {
    free(index->files);
    free(index->folders);
    index->files = index->folders = nullptr;
}

uint32_t FindOriginalFolder(const OriginalIndex* index, uint32_t parent, const char* name, size_t length) {
    const FileTree* tree = index->tree;
    if (!index->folders) {
        for (uint32_t folder = 1; folder < FolderCount(tree); ++folder)
            if (FolderIs(index, folder, parent, name, length)) return folder;
        return NO_INDEX;
    }
    uint32_t slot = Probe(index->folders, index->folderSlots,
                          SlotOf(parent, name, length, index->folderSlots, index->foldCase),
                          [&](uint32_t at) { return FolderIs(index, at, parent, name, length); });
    return index->folders[slot];  // NO_INDEX when empty
}

uint32_t MatchFolder(const OriginalIndex* index, const FileTree* tree, uint32_t folder) {
    if (folder == ROOT_FOLDER) return FolderCount(index->tree) ? ROOT_FOLDER : NO_INDEX;
    const FolderRecord* record = FolderAt(tree, folder);
    uint32_t parent = MatchFolder(index, tree, record->parent);
    if (parent == NO_INDEX) return NO_INDEX;
    const char* name = NameAt(tree, record->name);
    return FindOriginalFolder(index, parent, name, strlen(name));
}

uint32_t FindOriginal(const OriginalIndex* index, uint32_t folder, const char* name, size_t length) {
    const FileTree* tree = index->tree;
    if (!index->files) {
        for (uint32_t file = FileCount(tree); file-- > 0;)
            if (FileIs(index, file, folder, name, length)) return file;
        return NO_INDEX;
    }
    uint32_t slot = Probe(index->files, index->fileSlots, SlotOf(folder, name, length, index->fileSlots, index->foldCase),
                          [&](uint32_t at) { return FileIs(index, at, folder, name, length); });
    return index->files[slot];  // NO_INDEX when empty
}
