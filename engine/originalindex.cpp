#include "originalindex.h"

#include <stdlib.h>
#include <string.h>

#include "contract.h"

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

// The hash of a name in a folder: the name's hash mixed with the folder.
static uint32_t HashEntry(uint32_t folder, const char* name, size_t length, bool foldCase) {
    return HashName(name, length, foldCase) ^ (folder * 0x9E3779B1u);
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

// At most two thirds full: short probes, 6 bytes per entry.
enum { INDEX_MAX_LOAD = 67 };

void BuildOriginalIndex(const FileTree* originals, OriginalIndex* index) {
    index->tree = originals;
    index->foldCase = PlatformFoldsCase();
    if (InitHashTable(&index->folders, FolderCount(originals), INDEX_MAX_LOAD)) {
        for (uint32_t folder = 1; folder < FolderCount(originals); ++folder) {  // the root has no name to look up
            const FolderRecord* record = FolderAt(originals, folder);
            const char* name = NameAt(originals, record->name);
            size_t length = strlen(name);
            uint32_t slot = ProbeHashTable(&index->folders, HashEntry(record->parent, name, length, index->foldCase),
                                           [&](uint32_t at) { return FolderIs(index, at, record->parent, name, length); });
            if (IsEmptySlot(index->folders.slots[slot])) FillSlot(&index->folders, slot, folder);
        }
    }
    if (InitHashTable(&index->files, FileCount(originals), INDEX_MAX_LOAD)) {
        // In list order, newest first: the first file with a given path wins, as a walk would find it.
        for (uint32_t file = FileCount(originals); file-- > 0;) {
            const FileRecord* record = FileAt(originals, file);
            const char* name = NameAt(originals, record->name);
            size_t length = strlen(name);
            uint32_t slot = ProbeHashTable(&index->files, HashEntry(record->folder, name, length, index->foldCase),
                                           [&](uint32_t at) { return FileIs(index, at, record->folder, name, length); });
            if (IsEmptySlot(index->files.slots[slot])) FillSlot(&index->files, slot, file);
        }
    }
}

void ReleaseOriginalIndex(OriginalIndex* index) {
    ReleaseHashTable(&index->files);
    ReleaseHashTable(&index->folders);
}

uint32_t FindOriginalFolder(const OriginalIndex* index, uint32_t parent, const char* name, size_t length) {
    const FileTree* tree = index->tree;
    ENGINE_ASSERT(parent < FolderCount(tree));
    if (!index->folders.slots) {
        for (uint32_t folder = 1; folder < FolderCount(tree); ++folder)
            if (FolderIs(index, folder, parent, name, length)) return folder;
        return NO_INDEX;
    }
    uint32_t slot = ProbeHashTable(&index->folders, HashEntry(parent, name, length, index->foldCase),
                                   [&](uint32_t at) { return FolderIs(index, at, parent, name, length); });
    return index->folders.slots[slot];  // NO_INDEX when empty
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
    ENGINE_ASSERT(folder < FolderCount(tree));
    if (!index->files.slots) {
        for (uint32_t file = FileCount(tree); file-- > 0;)
            if (FileIs(index, file, folder, name, length)) return file;
        return NO_INDEX;
    }
    uint32_t slot = ProbeHashTable(&index->files, HashEntry(folder, name, length, index->foldCase),
                                   [&](uint32_t at) { return FileIs(index, at, folder, name, length); });
    return index->files.slots[slot];  // NO_INDEX when empty
}
