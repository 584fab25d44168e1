// The job's question before a likely mistake: two trees that share few
// relative paths, as when a folder was chosen one level above or below
// the tree it should be (the backup's parent instead of its DATA).
#pragma once

#include <stdint.h>

#include "filetree.h"
#include "report.h"

// True when `shared` modded files with an original at their relative path
// are few enough to ask: the modded tree holds files, and fewer than a
// tenth of the `originalFiles` original files (or none at all) are found.
bool FewPathsShared(uint32_t shared, uint32_t originalFiles, uint32_t moddedFiles);

// What `tree` holds at its top: its folders and files there, and up to
// TOP_NAMES_SHOWN names, folders first, each kind the lowest by name
// bytes. The names point into the tree, which must not change while they
// are used.
void DescribeTreeTop(const FileTree* tree, TreeTop* top);

// Asks the user about the job's two trees (Job.OriginalTree and
// Job.ModdedTree) when they share only `shared` paths (FewPathsShared).
// Returns false when the user stops the job there: the job's stop is then
// raised (StopJob) and its result says `declined`. True otherwise, asked
// or not.
bool ConfirmSharedPaths(uint32_t shared);
