// Waiting out another program's hold on a file. On Windows an antivirus
// scanner, the search indexer or a cloud-sync client opens each new file
// for a moment, and a game or its launcher may hold a data file open; an
// open, a rename or a removal that meets such a hold is refused. A brief
// hold is waited for; a hold that lasts is named as a failure, and holds
// that last do not multiply the run's time.
#pragma once

#include <stdint.h>

#include <atomic>

#include "platform.h"

// Longest wait for one operation: a scanner's hold on a large file, or a
// launcher's, ends within about a second.
const uint32_t HOLD_WAIT_PER_OPERATION_MS = 2500;

// Waiting that the run may spend on operations that failed all the same;
// once spent, a held file fails at once: however many files stay held, the
// run takes at most the budget (and the waits under way as it ran out) longer.
const uint32_t HOLD_WAIT_BUDGET_MS = 10000;

// A job starts: the budget is whole again. Called by the job alone.
void StartHoldBudget();

// Called after a try of one operation failed with `error`. When the error
// says that another program has the file (IsHeldByOther; `ownName`: the
// operation renames or removes a file of ours, where such a hold also
// shows as access denied) and the operation's wait is not used up, sleeps
// a little longer each time (from 1 ms up) and returns true: try again.
// Otherwise returns false, and the time this operation waited in vain is
// taken from the budget. Stops waiting when `stop` (may be null) is raised.
// Looks at holds, the clock and sleeps through Sys. A HoldPolicy
// (platform.h): copies are handed it.
bool WaitOutHold(HoldWait* wait, SysError error, bool ownName, const std::atomic<bool>* stop);

// Sys.openForReading (Sys.openListed when `listed`: a listing found the
// file regular), with holds waited out as above. A raised `stop` (may be
// null) ends the waiting, and a hold it cut short is ENGINE_ABANDONED: the
// file was not found unreadable, the run was stopped.
SysError OpenWaitingOutHolds(const char* path, FileHandle* file, const std::atomic<bool>* stop, bool listed = false);
