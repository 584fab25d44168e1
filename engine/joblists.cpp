#include "joblists.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "copyqueue.h"
#include "jobstop.h"
#include "jobresult.h"

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

uint32_t HashComparedPath(const FileTree* tree, uint32_t file) {
    uint32_t chain[MAX_DEPTH];
    uint32_t depth = FolderChain(tree, FileAt(tree, file)->folder, chain);
    uint32_t hash = 0;
    char folded[2 * PATH_BUFFER_SIZE];
    for (uint32_t i = 0; i <= depth; ++i) {
        const char* name = NameAt(tree, i < depth ? FolderAt(tree, chain[i])->name : FileAt(tree, file)->name);
        const char* compared = ComparedName(name, true, folded);
        hash = (hash ^ HashPath(compared, strlen(compared))) * 16777619u;
    }
    return hash;
}

void SortJobLists(JobResult* result) {
    JobLists* lists = &result->lists;
    if (result->keepChangedList) {
        uint32_t count = result->changedList.count;
        lists->changed = (uint32_t*)malloc(((size_t)count + 1) * sizeof(uint32_t));
        if (lists->changed) {
            for (uint32_t at = 0; at < count; ++at) lists->changed[at] = at;
            const FileTree* modded = &result->moddedTree;
            const BlockList* changed = &result->changedList;
            std::sort(lists->changed, lists->changed + count, [modded, changed](uint32_t x, uint32_t y) {
                return CompareFilePaths(modded, ChangedAt(changed, x)->file, modded, ChangedAt(changed, y)->file,
                                        false) < 0;
            });
            lists->changedCount = count;
        } else {
            lists->incomplete = true;
        }
    }
    if (result->keepRemovedList) {
        uint32_t count = result->removedList.count;  // empty when the job was stopped before it knew
        lists->removed = (uint32_t*)malloc(((size_t)count + 1) * sizeof(uint32_t));
        if (lists->removed) {
            for (uint32_t at = 0; at < count; ++at) lists->removed[at] = *(const uint32_t*)ItemAt(&result->removedList, at);
            SortFiles(&result->originalTree, lists->removed, count, false);
            lists->removedCount = count;
        } else {
            lists->incomplete = true;
        }
    }
}

// The entry at `at` of list `list` (0 changed, 1 removed, 2 stale).
static ListedEntry EntryAt(const JobResult* result, int list, uint32_t at) {
    const JobLists* lists = &result->lists;
    if (list == 0) {
        const ChangedFile* changed = ChangedAt(&result->changedList, lists->changed[at]);
        return {(changed->flags & CHANGED_NEW) ? 'A' : 'M', &result->moddedTree, changed->file};
    }
    if (list == 1) return {'D', &result->originalTree, lists->removed[at]};
    return {'S', &lists->stale.tree, lists->stale.files[at]};
}

bool NextListed(const JobResult* result, unsigned kinds, ListCursor* cursor, ListedEntry* entry) {
    const JobLists* lists = &result->lists;
    uint32_t counts[3] = {lists->changedCount, lists->removedCount, lists->staleKnown ? lists->stale.count : 0};
    int least = -1;
    ListedEntry leastEntry = {};
    for (int list = 0; list < 3; ++list) {
        if (!(kinds & (1u << list)) || cursor->next[list] >= counts[list]) continue;
        ListedEntry candidate = EntryAt(result, list, cursor->next[list]);
        if (least < 0 ||
            CompareFilePaths(candidate.tree, candidate.file, leastEntry.tree, leastEntry.file, false) < 0) {
            least = list;
            leastEntry = candidate;
        }
    }
    if (least < 0) return false;
    ++cursor->next[least];
    *entry = leastEntry;
    return true;
}

const char* ListedPath(const ListedEntry* entry, char* out) {
    if (FilePath(entry->tree, entry->file, out) == 0) {
        out[0] = '\0';
        return out;
    }
    const char* relative = out + entry->tree->rootLength;
    while (IsPathSeparator(*relative)) ++relative;
    return relative;
}
