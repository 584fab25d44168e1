#include "listing.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "console.h"

// Bytes of the valid UTF-8 character at `at`, or 0 when it is none.
static size_t Utf8Length(const unsigned char* at) {
    unsigned char c = at[0];
    if (c < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) length = 2;
    else if (c >= 0xE0 && c <= 0xEF) length = 3, low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4) length = 4, low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
    else return 0;
    if (at[1] < low || at[1] > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if ((at[i] & 0xC0) != 0x80) return 0;  // a NUL ends the check here too
    return length;
}

static bool NeedsQuotes(const unsigned char* at) {
    bool backslashIsName = !IsPathSeparator('\\');
    while (*at) {
        if (*at < 0x20 || *at == 0x7f || *at == '"' || (*at == '\\' && backslashIsName)) return true;
        size_t length = Utf8Length(at);
        if (!length) return true;
        at += length;
    }
    return false;
}

void PutQuoted(FILE* stream, const char* path) {
    const unsigned char* at = (const unsigned char*)path;
    size_t length = strlen(path);
    if (!NeedsQuotes(at)) {
        WriteText(stream, path, length);
        return;
    }
    // Built whole, so that a console gets every character in one piece.
    char* quoted = (char*)malloc(4 * length + 3);
    if (!quoted) {
        WriteText(stream, path, length);
        return;
    }
    static const char ESCAPED[] = "\a\b\t\n\v\f\r\"\\";
    static const char LETTERS[] = "abtnvfr\"\\";
    size_t used = 0;
    quoted[used++] = '"';
    while (*at) {
        const char* escape = strchr(ESCAPED, *at);
        size_t character = Utf8Length(at);
        if (escape) {
            quoted[used++] = '\\';
            quoted[used++] = LETTERS[escape - ESCAPED];
            ++at;
        } else if (*at < 0x20 || *at == 0x7f || !character) {
            used += (size_t)snprintf(quoted + used, 5, "\\%03o", *at);
            ++at;
        } else {
            memcpy(quoted + used, at, character);
            used += character;
            at += character;
        }
    }
    quoted[used++] = '"';
    WriteText(stream, quoted, used);
    free(quoted);
}

enum { MAX_DEPTH = PATH_BUFFER_SIZE / 2 };  // a name and a separator at least per folder

// The folders from below the root down to `folder`, in `chain`; their count.
static uint32_t FolderChain(const FileTree* tree, uint32_t folder, uint32_t* chain) {
    uint32_t depth = 0;
    for (uint32_t at = folder; at != ROOT_FOLDER && at != NO_INDEX; at = FolderAt(tree, at)->parent) ++depth;
    if (depth > MAX_DEPTH) depth = MAX_DEPTH;  // never so for a path the index kept
    uint32_t i = depth;
    for (uint32_t at = folder; i > 0; at = FolderAt(tree, at)->parent) chain[--i] = at;
    return depth;
}

// A name as it is compared: itself, or the platform's compared form.
static const char* ComparedName(const char* name, bool asCompared, char* buffer) {
    if (!asCompared) return name;
    const char* compared = NameAsCompared(name, buffer, 2 * PATH_BUFFER_SIZE);
    return compared ? compared : name;
}

// One name of each path, a folder's followed by '/', a file's by nothing:
// so "a.b" comes before the folder "a", whose paths go on with "a/".
static int CompareNames(const char* a, bool aFolder, const char* b, bool bFolder, bool asCompared) {
    char foldedA[2 * PATH_BUFFER_SIZE], foldedB[2 * PATH_BUFFER_SIZE];
    const unsigned char* x = (const unsigned char*)ComparedName(a, asCompared, foldedA);
    const unsigned char* y = (const unsigned char*)ComparedName(b, asCompared, foldedB);
    for (;; ++x, ++y) {
        int cx = *x ? *x : aFolder ? '/' : -1;
        int cy = *y ? *y : bFolder ? '/' : -1;
        if (cx != cy) return cx < cy ? -1 : 1;
        if (!*x) return 0;  // both ended alike
    }
}

int CompareFilePaths(const FileTree* a, uint32_t fileA, const FileTree* b, uint32_t fileB, bool asCompared) {
    const FileRecord* recordA = FileAt(a, fileA);
    const FileRecord* recordB = FileAt(b, fileB);
    if (a == b && recordA->folder == recordB->folder)
        return CompareNames(NameAt(a, recordA->name), false, NameAt(b, recordB->name), false, asCompared);
    uint32_t chainA[MAX_DEPTH], chainB[MAX_DEPTH];
    uint32_t depthA = FolderChain(a, recordA->folder, chainA);
    uint32_t depthB = FolderChain(b, recordB->folder, chainB);
    for (uint32_t i = 0;; ++i) {
        bool folderA = i < depthA, folderB = i < depthB;
        if (folderA && folderB && a == b && chainA[i] == chainB[i]) continue;  // the same folder
        const char* nameA = NameAt(a, folderA ? FolderAt(a, chainA[i])->name : recordA->name);
        const char* nameB = NameAt(b, folderB ? FolderAt(b, chainB[i])->name : recordB->name);
        int order = CompareNames(nameA, folderA, nameB, folderB, asCompared);
        if (order || !folderA || !folderB) return order;
    }
}

void SortFiles(const FileTree* tree, uint32_t* files, uint32_t count, bool asCompared) {
    std::sort(files, files + count, [tree, asCompared](uint32_t x, uint32_t y) {
        return CompareFilePaths(tree, x, tree, y, asCompared) < 0;
    });
}

// The walk of the destination's folder: the folder being listed and where
// its entries go.
struct StaleWalk {
    StaleFiles* stale;
    uint32_t folder;
    bool outOfMemory;
};

static bool TakeEntry(void* context, const FolderEntry* entry) {
    StaleWalk* walk = (StaleWalk*)context;
    const char* name = entry->name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) return true;
    if (IsTemporaryName(name)) return true;  // a copy of this program in flight, or one a crash left
    uint32_t added = entry->kind == ENTRY_FOLDER
                         ? AddFolder(&walk->stale->tree, walk->folder, name, entry->nameLength)
                         : AddFile(&walk->stale->tree, walk->folder, name, entry->nameLength, 0, 0);
    if (added == NO_INDEX) walk->outOfMemory = true;
    return added != NO_INDEX;
}

// Lists the folder `folder` of the tree, whose path is `path` (`length`
// bytes, room for PATH_BUFFER_SIZE), and then its subfolders.
static bool WalkFolder(StaleFiles* stale, uint32_t folder, char* path, size_t length) {
    uint32_t firstChild = FolderCount(&stale->tree);
    StaleWalk walk = {stale, folder, false};
    SysError error = Sys.listFolder(path, TakeEntry, &walk);
    if (walk.outOfMemory) return false;
    if (error) {
        if (stale->unlisted++ == 0) {
            snprintf(stale->firstUnlisted, sizeof stale->firstUnlisted, "%s", path);
            stale->unlistedError = error;
        }
    }
    uint32_t lastChild = FolderCount(&stale->tree);
    for (uint32_t child = firstChild; child < lastChild; ++child) {
        const char* name = NameAt(&stale->tree, FolderAt(&stale->tree, child)->name);
        size_t nameLength = strlen(name);
        if (length + 1 + nameLength > PathLimit()) {
            if (stale->unlisted++ == 0) {
                snprintf(stale->firstUnlisted, sizeof stale->firstUnlisted, "%.*s", (int)length, path);
                stale->unlistedError = ENGINE_PATH_TOO_LONG;
            }
            continue;
        }
        path[length] = PathSeparator();
        memcpy(path + length + 1, name, nameLength + 1);
        bool fine = WalkFolder(stale, child, path, length + 1 + nameLength);
        path[length] = '\0';
        if (!fine) return false;
    }
    return true;
}

bool FindStaleFiles(const char* dataFolder, const FileTree* modded, const uint32_t* keep, uint32_t count,
                    StaleFiles* stale) {
    memset(stale, 0, sizeof *stale);
    InitFileTree(&stale->tree, false);
    size_t length = strlen(dataFolder);
    if (length > PathLimit() || !SetTreeRoot(&stale->tree, dataFolder, length)) return false;
    char* path = (char*)malloc(PATH_BUFFER_SIZE);
    if (!path) return false;
    memcpy(path, dataFolder, length + 1);
    bool fine = WalkFolder(stale, ROOT_FOLDER, path, length);
    free(path);

    uint32_t found = FileCount(&stale->tree);
    uint32_t* wanted = (uint32_t*)malloc(((size_t)count + 1) * sizeof(uint32_t));
    stale->files = (uint32_t*)malloc(((size_t)found + 1) * sizeof(uint32_t));
    if (!wanted || !stale->files) {
        free(wanted);
        return false;
    }
    // Both sides in the platform's compared form: on Windows the copies went
    // into the folders there whatever their letter case.
    memcpy(wanted, keep, (size_t)count * sizeof(uint32_t));
    SortFiles(modded, wanted, count, true);
    for (uint32_t file = 0; file < found; ++file) stale->files[file] = file;
    SortFiles(&stale->tree, stale->files, found, true);
    uint32_t at = 0;
    for (uint32_t i = 0; i < found; ++i) {
        uint32_t file = stale->files[i];
        int order = -1;
        while (at < count && (order = CompareFilePaths(modded, wanted[at], &stale->tree, file, true)) < 0) ++at;
        if (at == count || order != 0) stale->files[stale->count++] = file;
    }
    free(wanted);
    SortFiles(&stale->tree, stale->files, stale->count, false);
    return fine;
}

void ReleaseStaleFiles(StaleFiles* stale) {
    free(stale->files);
    stale->files = nullptr;
    stale->count = 0;
    ReleaseFileTree(&stale->tree);
}
