// Copies on Win32: through memory into a temporary file beside the target,
// renamed over it through its own handle, with another program's holds
// waited out as the request's policy says. The temporary names are made
// and recognised in tempnames_win32.cpp.
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include <atomic>

#include "platform_win32.h"

typedef BOOL(WINAPI* SetInformationFunction)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);

// SetFileInformationByHandle came with Vista; without it a copy is renamed
// and removed by its path.
static SetInformationFunction SetInformation() {
    static SetInformationFunction function = (SetInformationFunction)(void*)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle");
    return function;
}

// The answers of a system or a file system that cannot rename or delete a
// file through its handle (Wine has been seen to fail without a reason,
// which LastError makes ERROR_GEN_FAILURE).
static bool NotThroughHandle(SysError error) {
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_CALL_NOT_IMPLEMENTED || error == ERROR_GEN_FAILURE;
}

// Renames the open `file` to `target`, replacing a file of that name.
static SysError RenameThrough(HANDLE file, const WidePath& target) {
    SetInformationFunction set = SetInformation();
    if (!set) return ERROR_CALL_NOT_IMPLEMENTED;
    const size_t nameAt = offsetof(FILE_RENAME_INFO, FileName);
    alignas(FILE_RENAME_INFO) unsigned char buffer[nameAt + WIDE_PATH_SIZE * sizeof(wchar_t)];
    FILE_RENAME_INFO* rename = (FILE_RENAME_INFO*)buffer;
    memset(buffer, 0, nameAt);
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = (DWORD)(target.length * sizeof(wchar_t));
    memcpy(buffer + nameAt, target.text, (target.length + 1) * sizeof(wchar_t));
    DWORD size = (DWORD)(nameAt + (target.length + 1) * sizeof(wchar_t));
    SetLastError(0);
    return set(file, FileRenameInfo, buffer, size) ? 0 : LastError();
}

// The calls a copy makes where its request names no table.
static SysCalls MakeOwnCalls() {
    SysCalls calls = {};
    calls.closeWritten = CloseWrittenFile;
    calls.setMode = SetFileMode;
    calls.setTimes = SetFileTimes;
    return calls;
}

// The table the request's copy closes, and sets the mode and times of, its file through.
static const SysCalls* Calls(const CopyRequest* request) {
    static const SysCalls own = MakeOwnCalls();
    return request->calls ? request->calls : &own;
}

// Another program's hold met by a copy is waited out as the engine's
// policy, handed down with the request, says; `stoppable`: a stop may cut
// the wait short (the clean-up of a failed copy is never cut short).
static bool WaitedOutHold(const CopyRequest* request, HoldWait* wait, SysError error, bool ownName,
                          bool stoppable = true) {
    return request->waitOutHold && request->waitOutHold(wait, error, ownName, stoppable ? request->stop : nullptr);
}

// Puts the finished copy in the target's place: through the copy's own
// handle `file` where the system can, so that no other program (a scanner
// looking at every new file) can open the copy between its completion and
// its rename; else by path, once `file` is closed (`*closed`). Another
// program's hold on the target is waited out. A read-only target is ours
// to replace: its attribute is lifted, and put back if the rename still fails.
static SysError ReplaceTarget(HANDLE file, bool* closed, const wchar_t* temporary, const WidePath& target,
                              const CopyRequest* request) {
    HoldWait wait = {};
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    bool looked = false, lifted = false;
    SysError error;
    for (;;) {
        if (!*closed) {
            error = RenameThrough(file, target);
            if (error && NotThroughHandle(error)) {
                error = Calls(request)->closeWritten((FileHandle)file);
                *closed = true;
                if (error) break;
                continue;
            }
        } else {
            error = MoveFileExW(temporary, target.text, MOVEFILE_REPLACE_EXISTING) ? 0 : LastError();
        }
        if (!error) break;
        if (error == ERROR_ACCESS_DENIED && !looked) {
            looked = true;
            attributes = GetFileAttributesW(target.text);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) break;
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
                SetFileAttributesW(target.text, attributes & ~FILE_ATTRIBUTE_READONLY)) {
                lifted = true;
                continue;
            }
        }
        if (!WaitedOutHold(request, &wait, error, true)) break;
    }
    if (error && lifted) SetFileAttributesW(target.text, attributes);
    return error;
}

// Removes a temporary file of ours by its path, waiting out a hold on it;
// the copy may have made it read-only.
static void RemoveTemporary(const wchar_t* path, const CopyRequest* request) {
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    HoldWait wait = {};
    while (!DeleteFileW(path) && WaitedOutHold(request, &wait, LastError(), true, false)) {
    }
}

// Ends a copy that failed: deleted through its handle, which only this copy
// can have open, so that nothing of it is left even while another program
// waits to look at it; by its path where that cannot be done.
static void Discard(HANDLE file, bool closed, const wchar_t* temporary, const CopyRequest* request) {
    if (!closed) {
        SetInformationFunction set = SetInformation();
        FILE_DISPOSITION_INFO disposition = {TRUE};
        bool deleted = set && set(file, FileDispositionInfo, &disposition, sizeof disposition);
        CloseHandle(file);
        if (deleted) return;
    }
    RemoveTemporary(temporary, request);
}

static int64_t Ticks(const FILETIME& at) {
    return (int64_t)(((uint64_t)at.dwHighDateTime << 32) | at.dwLowDateTime);
}

SysError ProbeFolder(const char* folder) {
    WidePath target;
    SysError error = ToWide(folder, &target);
    if (error) return error;
    // A name below the folder, for TemporaryName to find the folder by.
    if ((!EndsWithSeparator(target) && !Append(&target, L"\\", 1)) || !Append(&target, L"x", 1))
        return ENGINE_PATH_TOO_LONG;
    for (int attempt = 0; attempt < 100; ++attempt) {
        WidePath probe;
        if (!TemporaryName(target, &probe)) return ENGINE_PATH_TOO_LONG;
        HANDLE file = CreateFileW(probe.text, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            error = LastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return error;
        }
        CloseHandle(file);  // removes it
        return 0;
    }
    return ERROR_FILE_EXISTS;
}

static bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.nFileSizeHigh == b.nFileSizeHigh && a.nFileSizeLow == b.nFileSizeLow &&
           StampOf(a.ftLastWriteTime) == StampOf(b.ftLastWriteTime);
}

// Copies through the chunk, looking at `stop` before each one, from the
// start of `from` wherever its position stands (a comparison may have read
// it): each read says where. The copy's handle is this thread's alone:
// only the copy itself can remove its file, which it does when it stops.
static SysError CopyContents(HANDLE from, HANDLE to, const CopyRequest* request, uint64_t* copied) {
    if (!request->chunk) return ENGINE_OUT_OF_MEMORY;
    DWORD ask = request->chunkSize > 0x40000000u ? 0x40000000u : (DWORD)request->chunkSize;
    for (;;) {
        if (request->stop && request->stop->load(std::memory_order_relaxed)) return ENGINE_ABANDONED;
        DWORD got = 0;
        OVERLAPPED at = {};
        at.Offset = (DWORD)*copied;
        at.OffsetHigh = (DWORD)(*copied >> 32);
        if (!ReadFile(from, request->chunk, ask, &got, &at)) {
            SysError error = LastError();
            if (error == ERROR_HANDLE_EOF) return 0;
            return error;
        }
        if (got == 0) return 0;
        for (DWORD done = 0; done < got;) {
            DWORD wrote = 0;
            if (!WriteFile(to, request->chunk + done, got - done, &wrote, nullptr)) return LastError();
            done += wrote;
        }
        *copied += got;
    }
}

// The three wide paths of one copy: too big for every copier's stack frame
// to hold comfortably twice, small enough for once.
struct CopyPaths {
    WidePath source, target, temporary;
};

// A wait for another program's hold that a stop cut short ends the copy as
// abandoned, not as the file's failure.
static SysError HeldOrAbandoned(const CopyRequest* request, SysError error) {
    bool stopped = request->stop && request->stop->load(std::memory_order_relaxed);
    return stopped && IsHeldByOther(error, true) ? ENGINE_ABANDONED : error;
}

// Opens the request's source for the copy, unless the comparison's handle
// is handed over (sourceOpen), and holds it to the size and stamp the
// comparison saw. Writers are kept out while the copy reads; readers may
// stay. Someone writing it, or holding it as a game does, may let go in a
// moment. (Wine may refuse to describe a file just let go of, once.) The
// comparison's handle, kept for the copy, is exclusive and was asked
// nothing yet: the one query follows the last read.
static SysError OpenSource(const CopyRequest* request, const CopyPaths& paths, HANDLE* from,
                           BY_HANDLE_FILE_INFORMATION* before) {
    *from = (HANDLE)request->sourceFile;
    if (request->sourceOpen) return 0;
    SysError error = 0;
    for (HoldWait wait = {};;) {
        *from = CreateFileW(paths.source.text, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (*from == INVALID_HANDLE_VALUE) error = LastError();
        else if (GetFileType(*from) != FILE_TYPE_DISK) error = ENGINE_NOT_REGULAR;
        else if (!GetFileInformationByHandle(*from, before)) error = LastError();
        else break;
        if (*from != INVALID_HANDLE_VALUE) CloseHandle(*from);
        if (!WaitedOutHold(request, &wait, error, false)) return HeldOrAbandoned(request, error);
    }
    if (request->stamp && (request->size != (((uint64_t)before->nFileSizeHigh << 32) | before->nFileSizeLow) ||
                           request->stamp != StampOf(before->ftLastWriteTime))) {
        CloseHandle(*from);
        return ENGINE_SOURCE_CHANGED;
    }
    return 0;
}

// Creates the copy's file under a free temporary name beside the target.
// Failing when the name exists keeps a stranger's file of that name, or
// another copy's temporary file, untouched; the next name is tried
// instead. Nobody else may open the copy while this handle lives.
static SysError CreateTemporary(CopyPaths* paths, HANDLE* to) {
    for (int attempt = 0;; ++attempt) {
        if (!TemporaryName(paths->target, &paths->temporary)) return ENGINE_PATH_TOO_LONG;
        *to = CreateFileW(paths->temporary.text, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (*to != INVALID_HANDLE_VALUE) return 0;
        SysError error = LastError();
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt >= 1000) return error;
    }
}

// After the copy's bytes: the source must not have moved while it was
// read. `before` becomes what the copy takes (times, attributes).
static SysError CheckSourceHeldStill(const CopyRequest* request, HANDLE from, uint64_t copied,
                                     BY_HANDLE_FILE_INFORMATION* before) {
    BY_HANDLE_FILE_INFORMATION after;
    if (!GetFileInformationByHandle(from, &after)) return ENGINE_SOURCE_CHANGED;
    if (request->sourceOpen) {
        *before = after;
        if (request->size != (((uint64_t)after.nFileSizeHigh << 32) | after.nFileSizeLow) ||
            request->stamp != StampOf(after.ftLastWriteTime) || copied != request->size)
            return ENGINE_SOURCE_CHANGED;
        return 0;
    }
    return SameFile(*before, after) ? (SysError)0 : (SysError)ENGINE_SOURCE_CHANGED;
}

// Read-only, hidden and the like come along, once the copy has its name: a
// failed copy is never read-only when it is deleted. Attributes can be set
// whoever holds the file. Closes the copy's handle unless `closed`.
static SysError FinishNamedCopy(HANDLE to, bool closed, const CopyPaths& paths,
                                const BY_HANDLE_FILE_INFORMATION& before, const CopyRequest* request) {
    DWORD kept = before.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (closed) {
        if (kept) SetFileAttributesW(paths.target.text, kept);
        return 0;
    }
    if (kept) Calls(request)->setMode((FileHandle)to, kept);
    return Calls(request)->closeWritten((FileHandle)to);
}

SysError CopyOneFile(const CopyRequest* request, uint64_t* copied) {
    *copied = 0;
    CopyPaths paths;
    SysError error = ToWide(request->source, &paths.source);
    if (!error) error = ToWide(request->target, &paths.target);
    if (error) return error;

    HANDLE from;
    BY_HANDLE_FILE_INFORMATION before = {};
    if (SysError opened = OpenSource(request, paths, &from, &before)) return opened;
    HANDLE to = INVALID_HANDLE_VALUE;
    error = CreateTemporary(&paths, &to);
    if (error) {
        if (!request->sourceOpen) CloseHandle(from);
        return error;
    }
    const wchar_t* temporary = paths.temporary.text;
    error = CopyContents(from, to, request, copied);
    if (!error) error = CheckSourceHeldStill(request, from, *copied, &before);
    if (!request->sourceOpen) CloseHandle(from);
    if (!error) {
        FileTimes times = {Ticks(before.ftCreationTime), Ticks(before.ftLastAccessTime), Ticks(before.ftLastWriteTime)};
        Calls(request)->setTimes((FileHandle)to, &times);  // the times are a courtesy; the contents are what counts
    }
    bool closed = false;
    if (!error && !SetInformation()) {
        closed = true;
        error = Calls(request)->closeWritten((FileHandle)to);
    }
    if (!error) error = ReplaceTarget(to, &closed, temporary, paths.target, request);
    if (error) {
        Discard(to, closed, temporary, request);
        return HeldOrAbandoned(request, error);
    }
    error = FinishNamedCopy(to, closed, paths, before, request);
    // A close that fails after the rename leaves bytes the disk may never
    // have taken under the target's name: they go, and the copy failed.
    if (error) RemoveTemporary(paths.target.text, request);
    return error;
}

// Every sharing: a scanner, an indexer or the game may go on reading (or
// writing) the target while it is compared, and open it meanwhile as it
// pleases but exclusively. The right to set its times takes no part in
// sharing. A reparse point (a link) is opened as itself and refused; a
// folder does not open without backup semantics.
SysError OpenTargetFile(const char* path, FileHandle* file, uint64_t* size) {
    *file = INVALID_FILE;
    WidePath wide;
    SysError error = ToWide(path, &wide);
    if (error) return error;
    HANDLE handle = CreateFileW(wide.text, GENERIC_READ | FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) != FILE_TYPE_DISK) error = ENGINE_NOT_REGULAR;
    else if (!GetFileInformationByHandle(handle, &info)) error = LastError();
    else if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) error = ENGINE_NOT_REGULAR;
    else if (info.nNumberOfLinks > 1) error = ENGINE_NOT_REGULAR;  // another name of it may be an input's
    if (error) {
        CloseHandle(handle);
        return error;
    }
    *size = ((uint64_t)info.nFileSizeHigh << 32) | info.nFileSizeLow;
    *file = (FileHandle)handle;
    return 0;
}

SysError ReadFileAt(FileHandle file, uint64_t offset, void* buffer, size_t size, size_t* got) {
    *got = 0;
    char* at = (char*)buffer;
    while (*got < size) {
        size_t wanted = size - *got;
        DWORD ask = wanted > 0x40000000u ? 0x40000000u : (DWORD)wanted;
        uint64_t from = offset + *got;
        OVERLAPPED position = {};
        position.Offset = (DWORD)from;
        position.OffsetHigh = (DWORD)(from >> 32);
        DWORD n = 0;
        if (!ReadFile((HANDLE)file, at + *got, ask, &n, &position)) {
            SysError error = LastError();
            if (error == ERROR_HANDLE_EOF) break;
            return error;
        }
        if (n == 0) break;
        *got += n;
    }
    return 0;
}

// The times CopyOneFile gives a copy: the source's creation, access and last write times.
SysError MatchTargetTimes(FileHandle target, FileHandle source, bool* set) {
    *set = false;
    BY_HANDLE_FILE_INFORMATION from, to;
    if (!GetFileInformationByHandle((HANDLE)source, &from) || !GetFileInformationByHandle((HANDLE)target, &to))
        return LastError();
    if (from.ftLastWriteTime.dwLowDateTime == to.ftLastWriteTime.dwLowDateTime &&
        from.ftLastWriteTime.dwHighDateTime == to.ftLastWriteTime.dwHighDateTime)
        return 0;
    FileTimes times = {Ticks(from.ftCreationTime), Ticks(from.ftLastAccessTime), Ticks(from.ftLastWriteTime)};
    if (SysError error = SetFileTimes(target, &times)) return error;
    *set = true;
    return 0;
}

SysError CloseWrittenFile(FileHandle file) {
    return CloseHandle((HANDLE)file) ? 0 : LastError();
}

// Through the handle where the system can (Vista on), so that a file
// nobody else may open still takes its attributes; else by nothing: the
// attributes of a copy are a courtesy on systems that old.
SysError SetFileMode(FileHandle file, uint32_t mode) {
    SetInformationFunction set = SetInformation();
    if (!set) return 0;
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = mode;
    return set((HANDLE)file, FileBasicInfo, &basic, sizeof basic) ? 0 : LastError();
}

static FILETIME FileTimeOf(int64_t ticks) {
    FILETIME at;
    at.dwLowDateTime = (DWORD)(uint64_t)ticks;
    at.dwHighDateTime = (DWORD)((uint64_t)ticks >> 32);
    return at;
}

SysError SetFileTimes(FileHandle file, const FileTimes* times) {
    FILETIME created = FileTimeOf(times->created), accessed = FileTimeOf(times->accessed),
             written = FileTimeOf(times->written);
    return SetFileTime((HANDLE)file, &created, &accessed, &written) ? 0 : LastError();
}

bool IsHeldByOther(SysError error, bool ownName) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE ||
           (ownName && error == ERROR_ACCESS_DENIED);
}
