// The file index: a folder tree turned into a table of its folders and a
// list of its regular files (filelist.h).
#pragma once

// Makes `folder` the root of the job's CurrentTree (an empty tree) and adds
// every folder and every regular file below it, at any depth, numbered in
// the order the walk meets them (depth first, each folder in its listing's
// order; the job's list order is that numbering backwards). Counts each
// file in OriginalCount while CountingFiles is 1. Folder links are followed unless
// they lead back to a folder on the way down; FIFOs, sockets and devices
// are passed over. Whatever cannot be listed, examined or held is recorded
// in the job's result as a failure (something of the mod, or of what it is
// compared with, may be missing); only a link loop in the original tree is
// a warning. A folder that is the job's Data folder or one above it
// (GuardMet) refuses the job and is not walked. Once the job was
// stopped (JobAbandoned) it ends between two entries, even within a
// listing, leaving the tree part-made.
void IndexTree(const char* folder);

// Starts `walkers` threads (at most 16; fewer when the system gives fewer,
// and no walk at all when it gives none) that list every folder below
// `first`, then below `second` (null: none), in about the order the index
// will, so that the folders and entries of trees that are not in memory
// are read from the disk several at a time. IndexTree then takes those
// listings instead of listing the folders again (a folder it comes to
// first, it lists itself). The walk goes every way the index goes and no
// further (not into a folder on the way down). Of a folder's subfolders it
// stacks the first ones in listing order, as many as fit 1 MiB, and none
// once memory runs out; at most 2 MiB of listings wait for the index (the
// one it waits for is kept whatever its size); beyond that the walk only
// reads ahead. A listing under way ends once the job was stopped. It
// records no problem: the index records whatever a listing it takes failed
// with, as it would have. Does nothing for a root that is no folder.
void StartTreePrefetch(const char* first, const char* second, unsigned walkers);

// The same walk of `folder` on the calling thread, to its end; its listings
// are dropped.
void PrefetchTree(const char* folder);

// Stops the walk started last, waiting for the listings under way, and
// forgets it. Does nothing when none runs.
void StopTreePrefetch();
