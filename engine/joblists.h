// What a job found, as lists a front end shows: the new and changed
// files, the removed ones and the files an earlier run left in the Data
// folder, each sorted by relative path, and merged into one list. The walk
// that finds the files an earlier run left is in stalefiles.h.
#pragma once

#include <stdint.h>

#include "filetree.h"
#include "platform.h"
#include "jobresult.h"

// Compares the relative paths of file `fileA` of `a` and `fileB` of `b`
// byte by byte with '/' between names, whatever the platform's separator,
// so that every platform sorts alike and a folder's files come together.
// When `asCompared`, each name is taken in the form in which the platform
// tells names apart (NameAsCompared: upper case on Win32), so that paths
// that name the same file compare equal. Returns <0, 0 or >0.
int CompareFilePaths(const FileTree* a, uint32_t fileA, const FileTree* b, uint32_t fileB, bool asCompared);

// Sorts `files` (`count` file indices of `tree`) by CompareFilePaths.
void SortFiles(const FileTree* tree, uint32_t* files, uint32_t count, bool asCompared);

// A hash of the relative path of file `file` of `tree` in the platform's
// compared form: equal for paths that CompareFilePaths(..., true) finds equal.
uint32_t HashComparedPath(const FileTree* tree, uint32_t file);

// Sorts what the result kept (its changed list when keepChangedList, its
// removed files when keepRemovedList) into result->lists. A list that
// memory did not allow is left empty and `incomplete` set.
void SortJobLists(JobResult* result);

// What NextListed takes from the result's lists.
enum ListKinds : unsigned {
    LIST_CHANGED = 1,  // 'A' new, 'M' changed
    LIST_REMOVED = 2,  // 'D'
    LIST_STALE = 4,    // 'S'
};

// One entry of the merged list: its letter and the file it names.
struct ListedEntry {
    char letter;
    const FileTree* tree;
    uint32_t file;
};

// Where NextListed is in each list; zero-initialise it.
struct ListCursor {
    uint32_t next[3];
};

// The next entry, by relative path, of the lists `kinds` of `result`
// merged into one; of equal paths (a removed file that an earlier run left
// in the Data folder) the changed list's goes first, then the removed
// one's. False at the end.
bool NextListed(const JobResult* result, unsigned kinds, ListCursor* cursor, ListedEntry* entry);

// The relative path of `entry`'s file, without its leading separator:
// built in `out` (PATH_BUFFER_SIZE bytes), and a pointer into it returned;
// "" when it does not fit.
const char* ListedPath(const ListedEntry* entry, char* out);
