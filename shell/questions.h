// The questions the window asks before a likely mistake, each a Yes/No
// box through the Services table: Yes goes on, No stops before anything
// is written.
#pragma once

#include <windows.h>

#include "report.h"

// The job's question (report.h), on the GUI thread while the job waits:
// how many of the backup's files the modded folder shares, and what each
// folder holds at its top. True when the player goes on.
bool AskTreesApart(HWND owner, const JobQuestion* question);

// Before a job whose destination is itself named Data: the mod would land
// in `data` (UTF-8), a Data folder inside it. True when the player goes on.
bool AskDataNamed(HWND owner, const char* data);
