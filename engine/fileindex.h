// The file index: a folder tree turned into a table of its folders and a
// list of its regular files (filetree.h).
#pragma once

#include "filetree.h"

struct FolderGuard;
struct PrefetchWalk;

// Which of the job's two trees an index makes.
enum TreeRole { TREE_ORIGINAL, TREE_MODDED };

// Makes `folder` the root of `tree` (an empty tree) and adds
// every folder and every regular file below it, at any depth, numbered in
// the order the walk meets them (depth first, each folder in its listing's
// order; the job's list order is that numbering backwards). Counts each
// file in the job's OriginalCount for TREE_ORIGINAL. Folder links are followed unless
// they lead back to a folder on the way down; FIFOs, sockets and devices
// are passed over. Whatever cannot be listed, examined or held is recorded
// in the job's result as a failure (something of the mod, or of what it is
// compared with, may be missing); only a link loop in the original tree is
// a warning. A folder that `guard` guards (folderguard.h; null: none), the
// job's Data folder or one above it, refuses the job and is not walked. Once the job was stopped
// (StopRequested) it ends between two entries, even within a listing,
// leaving the tree part-made. Takes the listings of `walk` (treewalk.h;
// null: none) where it has them.
void IndexTree(const char* folder, FileTree* tree, TreeRole role, PrefetchWalk* walk, FolderGuard* guard);
