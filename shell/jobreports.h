// The reporting operations of a job, carried out on the window program's
// controls from the job's thread.
#pragma once

#include "report.h"

// Statuses go to the main window, ranges and positions to the progress bar
// (the full 32-bit range), the start command is the Create MOD button. Each
// is a synchronous message, so the GUI thread has taken it in when the job
// goes on. A position is sent only when about a frame's time has passed
// since the last one sent, or when it is 0 or the end of its range: a
// message waits for the GUI thread, which takes it only between two
// frames, and one per file would pace the job.
extern const ReportOps WindowReports;

// Milliseconds between two positions sent, at the least.
enum { POSITION_INTERVAL_MS = 16 };
