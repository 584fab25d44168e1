// What modextract lists, and how: entries sorted by relative path, names
// quoted as git quotes them, and the files an earlier run left in
// DESTINATION/Data.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "filelist.h"
#include "platform.h"

// Writes `path` as it is or, when it holds a control character, a double
// quote, a '\' that is no separator of this platform, or bytes that are
// not UTF-8, quoted as git quotes names: in double quotes, the usual C
// escapes, '\' doubled, other control characters and each byte that is not
// part of valid UTF-8 as a three-digit octal escape ("\377"). Valid UTF-8
// stays as it is, so every language stays readable.
void PutQuoted(FILE* stream, const char* path);

// Compares the relative paths of file `fileA` of `a` and `fileB` of `b`
// byte by byte with '/' between names, whatever the platform's separator,
// so that every platform sorts alike and a folder's files come together.
// When `asCompared`, each name is taken in the form in which the platform
// tells names apart (NameAsCompared: upper case on Win32), so that paths
// that name the same file compare equal. Returns <0, 0 or >0.
int CompareFilePaths(const FileTree* a, uint32_t fileA, const FileTree* b, uint32_t fileB, bool asCompared);

// Sorts `files` (`count` file indices of `tree`) by CompareFilePaths.
void SortFiles(const FileTree* tree, uint32_t* files, uint32_t count, bool asCompared);

// The files below a folder that an earlier run filled, for --stale.
struct StaleFiles {
    FileTree tree;         // every file found below the folder (its root)
    uint32_t* files;       // the stale ones, indices of `tree`, sorted by path; null when none
    uint32_t count;
    uint32_t unlisted;     // folders that could not be listed whole
    char firstUnlisted[PATH_BUFFER_SIZE];  // the first of them, for the warning
    SysError unlistedError;
};

// Lists `dataFolder` through Sys.listFolder, leaving out this program's
// temporary names, and keeps in `stale` each file (or other non-folder
// entry) whose relative path names none of the `count` files `keep` of
// `modded` (the run's new and changed files, in any order). False when
// memory ran out; what was found so far stays in `stale`. Release with
// ReleaseStaleFiles.
bool FindStaleFiles(const char* dataFolder, const FileTree* modded, const uint32_t* keep, uint32_t count,
                    StaleFiles* stale);

void ReleaseStaleFiles(StaleFiles* stale);
