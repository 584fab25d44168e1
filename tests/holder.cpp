// Another program touching the files of a run, as players' machines have
// them; started by the tests (and by hand, for measurements).
//
//   holder scan MS FOLDER STOPFILE
//       An on-access scanner: watches FOLDER and everything below it and
//       opens every file that appears there for reading, sharing only
//       reading, as soon as it can, for MS milliseconds. Ends when STOPFILE
//       exists, after one last look.
//   holder hold MS READYFILE FILE...
//       A game holding data files: opens every FILE with share mode 0,
//       writes READYFILE once all are open, holds them MS milliseconds
//       (0: until READYFILE is removed) and closes them.
//   holder lock READYFILE FOLDER
//       Another run writing into FOLDER: takes the program's own lock on it
//       (Sys.lockFolder), writes READYFILE and waits to be ended.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "platform.h"
#include "textconvert_win32.h"

static void CreateEmpty(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

static int Hold(DWORD milliseconds, const wchar_t* ready, int count, wchar_t** files) {
    std::vector<HANDLE> held;
    for (int i = 0; i < count; ++i) {
        HANDLE file = CreateFileW(files[i], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            fwprintf(stderr, L"holder: cannot hold %ls: error %lu\n", files[i], GetLastError());
            return 2;
        }
        held.push_back(file);
    }
    CreateEmpty(ready);
    if (milliseconds) Sleep(milliseconds);
    else
        while (GetFileAttributesW(ready) != INVALID_FILE_ATTRIBUTES) Sleep(20);
    for (HANDLE file : held) CloseHandle(file);
    return 0;
}

struct Scanner {
    std::map<std::wstring, bool> seen;   // every file met; true once opened
    std::vector<std::pair<HANDLE, DWORD>> open;  // with the tick it was opened at
    unsigned opened = 0;
};

// Opens what it can of the files below `folder` not opened yet. A file
// that another program has open exclusively is tried again next round,
// which comes within a millisecond or two.
static void ScanFolder(Scanner* scanner, const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ScanFolder(scanner, path);
            continue;
        }
        bool& done = scanner->seen[path];
        if (done) continue;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) continue;
        done = true;
        ++scanner->opened;
        scanner->open.push_back({file, GetTickCount()});
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

static int Scan(DWORD milliseconds, const wchar_t* folder, const wchar_t* stop) {
    Scanner scanner;
    timeBeginPeriod(1);
    while (GetFileAttributesW(stop) == INVALID_FILE_ATTRIBUTES) {
        ScanFolder(&scanner, folder);
        DWORD now = GetTickCount();
        for (size_t i = 0; i < scanner.open.size();) {
            if (now - scanner.open[i].second >= milliseconds) {
                CloseHandle(scanner.open[i].first);
                scanner.open[i] = scanner.open.back();
                scanner.open.pop_back();
            } else {
                ++i;
            }
        }
        Sleep(1);
    }
    // What appeared just before the stop is still opened once: a scanner
    // meets every file, however late in the run it came.
    ScanFolder(&scanner, folder);
    for (auto& file : scanner.open) CloseHandle(file.first);
    timeEndPeriod(1);
    fwprintf(stderr, L"holder: %u files opened\n", scanner.opened);
    return 0;
}

static int Lock(const wchar_t* ready, const wchar_t* folder) {
    char path[PATH_BUFFER_SIZE];
    FileHandle lock;
    if (!Utf8FromWide(folder, path, sizeof path) || Sys.lockFolder(path, &lock) != 0) {
        fwprintf(stderr, L"holder: cannot lock %ls\n", folder);
        return 2;
    }
    CreateEmpty(ready);
    Sleep(INFINITE);
    return 0;
}

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && wcscmp(argv[1], L"scan") == 0) return Scan(wcstoul(argv[2], nullptr, 10), argv[3], argv[4]);
    if (argc >= 4 && wcscmp(argv[1], L"hold") == 0) return Hold(wcstoul(argv[2], nullptr, 10), argv[3], argc - 4, argv + 4);
    if (argc == 4 && wcscmp(argv[1], L"lock") == 0) return Lock(argv[2], argv[3]);
    fprintf(stderr, "usage: holder scan MS FOLDER STOPFILE | holder hold MS READYFILE FILE... | "
                    "holder lock READYFILE FOLDER\n");
    return 2;
}
