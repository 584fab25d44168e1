// The mod assembly: every new or changed file copied under the
// destination's "Data" folder at its relative path.
#pragma once

#include "copyqueue.h"

// Sees every file of the job's ChangedList copied, in list order: the
// copies were queued on `copies` by the scan and are awaited here, each
// creating the folders on its way and replacing an existing file unless
// it holds the file's bytes already (counted in inPlace); nothing else in
// the destination is touched. Sends the progress position once per
// file, whatever became of its copy. In a dry run nothing is written, and
// a target path over the platform's limit is named as a failure as the
// real run would. Files that could not be copied are recorded as failures;
// those left out because the job was abandoned are counted in notCopied.
void AwaitCopies(CopyQueue* copies);
