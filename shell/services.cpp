#include "services.h"

static void MonitorWorkArea(HWND owner, RECT* area) {
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoA(MonitorFromWindow(owner, MONITOR_DEFAULTTOPRIMARY), &monitor))
        *area = monitor.rcWork;
    else if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, area, 0))
        SetRect(area, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
}

const ShellServices RealServices = {
    SHBrowseForFolderA, SHGetPathFromIDListA, SHGetPathFromIDListW, CoTaskMemFree, MessageBoxA, MessageBoxW,
    MonitorWorkArea,    CreateThread,
};

ShellServices Services = RealServices;
