// The file index: a folder tree turned into a flat list of the full paths
// of its regular files.
#pragma once

// Pushes one node for every regular file below `folder`, at any depth, onto
// the job's CurrentList, in the reverse of the order the walk meets them
// (depth first, each folder in its listing's order). Counts each node in
// OriginalCount while CountingFiles is 1. Folder links are followed unless
// they lead back to a folder on the way down; FIFOs, sockets and devices
// are passed over. Whatever cannot be listed, examined or held is recorded
// in the job's result: as a failure in the modded tree (something of the
// mod may be missing), as a warning in the original tree.
void IndexTree(const char* folder);
