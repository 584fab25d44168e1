// The change detection: which modded files are new, and which differ from
// the original at the same relative path.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "copyqueue.h"
#include "filetree.h"
#include "platform.h"

// The deep scan: the job's ModdedTree against its OriginalTree, in list
// order (newest first), from the match of each modded file to the queueing
// of its copy (the copies run meanwhile; CreateMod awaits them). First,
// when the user interface can be asked, asks whether to go on if the two
// trees share few relative paths (ConfirmSharedPaths); a user who stops
// there stops the job before anything is compared or queued. Appends every new or changed file to ChangedList (new
// ones flagged CHANGED_NEW), counts them in ChangedCount, queues their
// copies on `copies` (none in a dry run), and sends the
// progress position once per modded file. Once every modded file is
// matched, counts the original files that none matched in the result's
// removedFiles (and lists them there when asked: keepRemovedList). Stops
// early once the job was abandoned, a pair under way at its next chunk:
// that pair counts neither way, and no file counts as removed. A pair that
// cannot be compared counts as changed: recorded as a failure when the
// original could not be read, else as a warning (the copy then tells
// whether the modded file is readable). Such a pair, and a new file where
// the original tree could not be listed whole, count in the result's
// `uncompared`.
// The pairs are read on the comparison pool (comparepool.h) with
// Job.Comparers reads in flight; everything the scan reports follows the
// list's order all the same.
void DeepScan(CopyQueue* copies);
