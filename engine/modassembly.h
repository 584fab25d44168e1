// The mod assembly: every new or changed file copied under the
// destination's "Data" folder at its relative path.
#pragma once

#include "copyqueue.h"
#include "filetree.h"

// Sees every file of the job's ChangedList copied, in list order: the
// copies were queued on `copies` by the scan and are awaited here, each
// creating the folders on its way and replacing an existing file unless
// it holds the file's bytes already (counted in inPlace); nothing else in
// the destination is touched. Sends the progress position once per
// file, whatever became of its copy. A file flagged CHANGED_CLASH is never
// copied: it fails with ENGINE_NAME_CLASH. In a dry run nothing is
// written, and what the real run would fail for certain is named as a
// failure as the real run would: a target path over the platform's limit,
// and, from `data` (the Data folder's entries as they were listed before
// the copies, links as files; null when there was no Data folder), a file
// standing where a folder is needed and a folder standing where the file
// goes. Files that could not be copied are recorded as failures; they and
// those left out because the job was abandoned are counted in notCopied.
void CreateMod(CopyQueue* copies, const FileTree* data);
