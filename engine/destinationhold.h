// A writing job's hold on its destination: while one job of this program
// writes there, a second one is refused at once; the folders made for the
// hold go again when nothing was put in them; and once the destination is
// held, what killed runs left of their temporary files beside the mod goes.
#pragma once

#include <stddef.h>

#include "platform.h"

struct DestinationHold {
    FileHandle lock;     // Sys.lockFolder's; INVALID_FILE when none could be taken
    SysError lockError;  // why none could (0: held)
    size_t madeFrom;     // the folders of `folder` longer than this were made for the hold
    char folder[PATH_BUFFER_SIZE];  // the destination, resolved
};

// Holds the destination `destination` (resolved, whose first
// `existingLength` characters name a folder that exists) for a job that
// writes into its Data folder `data` (resolved): makes the missing folders
// from there down, takes this program's lock on the destination
// (Sys.lockFolder) and, holding it, clears the leftovers of killed runs in
// the destination and in Data (ClearLeftovers). Returns a hold made with
// malloc, or null with `*error`: ENGINE_DESTINATION_BUSY when another job
// holds the destination, the error of a folder that could not be made,
// ENGINE_OUT_OF_MEMORY; the folders made are removed again then. A lock
// refused for any other reason (a file system without locks, no right to
// open the folder) is not taken and its error kept in `lockError`: the job
// may still write, but nothing keeps a second one out, and no leftover is
// cleared, since another job's copies in flight have the same names.
DestinationHold* HoldDestination(const char* destination, size_t existingLength, const char* data, SysError* error);

// Lets go of `hold` (null: nothing) and frees it: the lock first, then the
// folders made for the hold that are still empty, deepest first.
void ReleaseDestination(DestinationHold* hold);

// Removes from `folder` the regular files named in this program's temporary
// pattern (IsTemporaryName): probes and copies that a killed run left.
// Never a folder, a link or a file of any other name; what cannot be listed
// or removed stays. Only in a folder whose writing jobs this process keeps
// out (HoldDestination).
void ClearLeftovers(const char* folder);
