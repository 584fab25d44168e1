// The job's stop: the flag that a stop raises, and the copies in flight,
// which must agree with it (none may start after it) and which a front end
// about to end its process waits for. Below every phase: they look at the
// flag, the copy queue counts its copies here (BeginCopy, EndCopy).
//
// Where the flag is looked at:
//   fileindex.cpp, listingrecords.cpp  each entry of the index
//   deepscan.cpp      each modded file of the scan, and before the question
//                     on shared paths and the removed files
//   filecompare.cpp   each chunk of a comparison (JobStopFlag, handed down
//                     by comparepool.cpp); holdwait.cpp, a wait for a hold
//   copyqueue.cpp     each copy as it starts (BeginCopy), each chunk of the
//                     check of a target already there, each leftover
//                     temporary file removed
//   platform_*_copy.cpp  each chunk or step of a copy (CopyRequest::stop)
//   stalefiles.cpp    each entry of the Data folder's walk
//   job.cpp           between the phases
#pragma once

#include <atomic>

// Asks the job to stop, from any thread, at any moment, without waiting:
// no copy starts after this call, and the job ends soon with its result's
// `abandoned` set (the index notices between two entries, a comparison or
// a copy between two chunks; the copies in flight remove their temporary
// files). A stop asked for before the job starts, or while it sets out, is
// kept: that job then does nothing. It stays until ClearJobStop.
void StopJob();

// StopJob, and then, when copies are in flight, waits until they have
// removed their temporary files (a copy notices between two chunks, so
// the wait is short): for a front end whose process ends once this
// returns. Files already copied stay. The job itself is not waited for.
// Safe to call twice.
void AbandonJob();

// Forgets a stop asked for earlier. A front end calls it before it starts
// taking the user's stops for its next job, never while a job runs.
void ClearJobStop();

// True once a stop was asked for (StopJob, AbandonJob) and not
// cleared since: nothing more is to be started.
bool StopRequested();

// The flag behind StopRequested, for loops that look at it between chunks.
const std::atomic<bool>* JobStopFlag();

// Counts one copy as in flight and returns true, unless a stop was asked
// for: then nothing is counted and the copy must not start.
bool BeginCopy();

// The copy counted by BeginCopy has ended (its temporary file gone).
void EndCopy();
