// One extraction: from the three folder paths to the finished mod folder.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "foldercheck.h"
#include "jobparameters.h"

// The one preparation of a job, for every front end: takes the three
// folders as the user gave them (`folders`: original, modded, destination),
// makes each absolute (AbsolutePath) and checks them (CheckJobFolders, with
// `willWrite` for a run that writes). Returns the job's parameters, made
// with malloc, whose three paths are the absolute forms, held in the same
// block; the caller fills in the rest and hands it to ExtractionJob.
// Otherwise null, with `refusal` filled and a one-line reason in `reason`
// (for REFUSAL_NOT_ABSOLUTE: "the folder cannot be made absolute: <why>",
// to follow the path as given).
// With `willWrite`, the parameters carry the hold on the destination that
// keeps a second writing job out (REFUSAL_DESTINATION_BUSY) from now until
// the job's end; a dry run takes none, since it writes nothing another
// job's copies could meet.
JobParameters* PrepareJob(const char* const folders[3], bool willWrite, FolderRefusal* refusal, char* reason,
                          size_t reasonSize);

// Frees `parameters` (null: nothing) that will not be handed to a job,
// releasing the hold on the destination they carry.
void DiscardJobParameters(JobParameters* parameters);

// Runs one whole extraction on the calling thread and returns 1. Takes over
// `parameters` (a JobParameters made with malloc). Every phase runs to its
// end whatever the file system answers; what failed is in the result.
// Front ends prepare it with PrepareJob.
uint32_t ExtractionJob(void* parameters);
