// The Win32 services of the main window that block on a user or start a
// thread, behind one table, so that tests drive the window procedure with
// fakes: no dialog waits for a click, and every box and thread is seen.
#pragma once

#include <windows.h>
#include <shlobj.h>

struct ShellServices {
    // Runs the folder browser; the chosen item list, or null when cancelled.
    PIDLIST_ABSOLUTE(WINAPI* browseForFolder)(LPBROWSEINFOA info);
    // The file-system path of an item list into a MAX_PATH buffer; FALSE
    // when it has none.
    BOOL(WINAPI* pathFromIDList)(PCIDLIST_ABSOLUTE list, LPSTR path);
    // The same path through the wide call, into a MAX_PATH buffer of
    // UTF-16 units: exact, where the call above renders it in the code page.
    BOOL(WINAPI* pathFromIDListW)(PCIDLIST_ABSOLUTE list, LPWSTR path);
    // Frees an item list that the browser returned.
    void(WINAPI* freeIDList)(LPVOID list);
    int(WINAPI* messageBox)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
    // The wide box, for every text that names folders or files.
    int(WINAPI* messageBoxW)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
    // The work area of the monitor that a box owned by `owner` appears on
    // (the screen less its task bars), in screen coordinates.
    void (*workArea)(HWND owner, RECT* area);
    HANDLE(WINAPI* createThread)(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize,
                                 LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags, LPDWORD id);
};

// The services in force. Tests swap entries; nothing else writes it.
extern ShellServices Services;

// The real ones, to put back what a test swapped.
extern const ShellServices RealServices;
