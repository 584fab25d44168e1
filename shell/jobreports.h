// Where the job's phases reach the scene: the reporting operations of a
// job, carried out on the window program's controls from the job's thread.
// Each phase's status becomes a status message to the main window, which
// sets StatusCode (appstate.h) that the scene draws; ranges and positions
// move the progress bar.
#pragma once

#include "report.h"

// Statuses go to the main window, ranges and positions to the progress bar
// (the full 32-bit range), the start command is the Create MOD button.
// Statuses, ranges and the button are synchronous messages: the GUI thread
// has taken each in when the job goes on. Positions would pace the job that
// way, since the GUI thread takes messages only between two frames: a
// position is sent only when about a frame's time has passed since the last
// one, or when it is 0 or the end of its range, and without waiting, though
// in order with the rest. The job's question is a synchronous message
// too (MSG_JOB_QUESTION): the main window answers it.
extern const ReportOps WindowReports;

// Milliseconds between two positions sent, at the least.
enum { POSITION_INTERVAL_MS = 16 };
