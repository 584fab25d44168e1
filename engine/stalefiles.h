// The files an earlier run left in the Data folder: a walk of the folder
// that lists what this run's copies do not account for (the 'S' list).
#pragma once

#include <stdint.h>

#include "filetree.h"
#include "jobresult.h"

// Lists `dataFolder` through Sys.listFolder, leaving out this program's
// temporary names, and keeps in `stale` each file or other non-folder
// entry whose relative path names none of the `count` files `keep` of
// `modded` (the run's new and changed files, in any order). Never follows
// a link: a link is one entry of its own, and nothing behind it is listed,
// so the walk stays inside the folder and ends. Ends early, false, at a
// stop of the job (StopRequested). False too when memory ran out; what was
// found so far stays in `stale`. Release with ReleaseStaleFiles (jobresult.h).
bool FindStaleFiles(const char* dataFolder, const FileTree* modded, const uint32_t* keep, uint32_t count,
                    StaleFiles* stale);
