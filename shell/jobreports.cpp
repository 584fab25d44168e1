#include "jobreports.h"

#include <windows.h>
#include <commctrl.h>

#include "messages.h"

// Only one job runs at a time and only its thread reports, so this needs
// no lock.
static uint32_t CurrentRange;
static LONGLONG LastPositionSent;
static LONGLONG PositionInterval;  // in performance-counter ticks

UINT StatusMessage(int statusCode) {
    switch (statusCode) {
    case STATUS_READY: return MSG_STATUS_READY;
    case STATUS_ORIGINAL_INDEX: return MSG_STATUS_ORIGINAL_INDEX;
    case STATUS_MODDED_INDEX: return MSG_STATUS_MODDED_INDEX;
    case STATUS_DEEP_SCAN: return MSG_STATUS_DEEP_SCAN;
    case STATUS_CREATING_MOD: return MSG_STATUS_CREATING_MOD;
    }
    return MSG_STATUS_IDLE;
}

static LONGLONG Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

static void SendStatus(void* mainWindow, int statusCode) {
    SendMessageA((HWND)mainWindow, StatusMessage(statusCode), 0, 0);
}

static void SendRange(void* progressBar, uint32_t maximum) {
    CurrentRange = maximum;
    SendMessageA((HWND)progressBar, PBM_SETRANGE32, 0, (LPARAM)maximum);
}

static void SendPosition(void* progressBar, uint32_t position) {
    if (!PositionInterval) {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        PositionInterval = frequency.QuadPart * POSITION_INTERVAL_MS / 1000;
    }
    LONGLONG now = Now();
    if (position != 0 && position < CurrentRange && now - LastPositionSent < PositionInterval) return;
    LastPositionSent = now;
    // Queued with the job's other messages, so it is taken in their order
    // (a position never lands after the next range), but the job does not
    // wait for the GUI thread to finish a frame.
    SendNotifyMessageA((HWND)progressBar, PBM_SETPOS, (WPARAM)position, 0);
}

static void EnableButton(void* button, int enabled) {
    EnableWindow((HWND)button, enabled ? TRUE : FALSE);
}

// The main window asks the player (MSG_JOB_QUESTION) while the job waits.
static int SendQuestion(void* mainWindow, const JobQuestion* question) {
    return SendMessageA((HWND)mainWindow, MSG_JOB_QUESTION, 0, (LPARAM)question) != 0;
}

const ReportOps WindowReports = {SendStatus, SendRange, SendPosition, EnableButton, nullptr, SendQuestion};
