// The mod assembly: every new or changed file copied under the
// destination's "Data" folder at its relative path.
#pragma once

#include <stddef.h>

// Builds the target path of a changed file: destination root, separator,
// "Data", then the file's relative path. Returns its length, or 0 when it
// would be longer than the platform's path limit (nothing is written past
// `out`, which has PATH_BUFFER_SIZE bytes).
size_t BuildTargetPath(const char* destinationRoot, const char* relativePath, char* out);

// Copies every file of the job's ChangedList, in list order, creating the
// folders on the way and replacing existing files; nothing else in the
// destination is touched. Sends the progress position once per file,
// whatever became of its copy. In a dry run nothing is written. Files that
// cannot be copied are recorded as failures.
void CreateMod();
