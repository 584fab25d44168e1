// The program's own window messages, numbered from WM_APP.
#pragma once

#include <windows.h>

// Status messages to the main window, both parameters 0: each sets StatusCode.
enum : UINT {
    MSG_STATUS_READY = WM_APP + 0x3FF,
    MSG_STATUS_ORIGINAL_INDEX = WM_APP + 0x400,
    MSG_STATUS_MODDED_INDEX = WM_APP + 0x401,
    MSG_STATUS_DEEP_SCAN = WM_APP + 0x402,
    MSG_STATUS_CREATING_MOD = WM_APP + 0x403,
    // WM_APP + 0x404 means nothing and goes to default processing.
    MSG_STATUS_IDLE = WM_APP + 0x405,
    // Posted by the job's thread once the job has made its last report;
    // lParam is the job's JobResult, which the main window then owns.
    MSG_JOB_FINISHED = WM_APP + 0x406,
    // Sent by the job's thread before a likely mistake; lParam is the job's
    // JobQuestion. The main window asks the player and returns 1 to go on,
    // 0 to stop the job.
    MSG_JOB_QUESTION = WM_APP + 0x407,
};

// The status message that sets StatusCode to `statusCode` (0 to 5).
UINT StatusMessage(int statusCode);
