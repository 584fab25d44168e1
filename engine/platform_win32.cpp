// The engine's platform calls on Win32, with the ANSI file functions: paths
// are bytes in the system code page and at most MAX_PATH - 1 characters.
#include "platform.h"

#include <windows.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

static SysError LastError() {
    DWORD error = GetLastError();
    return error ? (SysError)error : (SysError)ERROR_GEN_FAILURE;
}

static bool TooLong(const char* path) {
    return strlen(path) > PathLimit();
}

static bool EndsWithSeparator(const char* path, size_t length) {
    return length > 0 && IsPathSeparator(path[length - 1]);
}

static uint64_t StampOf(const FILETIME& written) {
    return (((uint64_t)written.dwHighDateTime << 32) | written.dwLowDateTime) | 1u;  // never 0: unknown
}

static HANDLE OpenForInformation(const char* path) {
    // Backup semantics opens folders too; without FILE_FLAG_OPEN_REPARSE_POINT
    // the open follows junctions and symbolic links to what they lead to.
    // Attribute access alone is not stopped by another program's share mode 0.
    return CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Kind, size and identity of what `path` leads to.
static SysError Inspect(const char* path, EntryKind* kind, uint64_t* size, FolderId* id, uint64_t* stamp) {
    if (TooLong(path)) return ENGINE_PATH_TOO_LONG;
    HANDLE handle = OpenForInformation(path);
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    SysError error = 0;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        *kind = ENTRY_OTHER;
    } else if (!GetFileInformationByHandle(handle, &info)) {
        error = LastError();
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        *kind = ENTRY_FOLDER;
        id->volume = info.dwVolumeSerialNumber;
        id->index = ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
    } else {
        *kind = ENTRY_FILE;
        *size = ((uint64_t)info.nFileSizeHigh << 32) | info.nFileSizeLow;
        if (stamp) *stamp = StampOf(info.ftLastWriteTime);
    }
    CloseHandle(handle);
    return error;
}

static bool IsDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

static void PassOn(const char* folder, size_t folderLength, const WIN32_FIND_DATAA& found, EntrySink sink,
                   void* context) {
    FolderEntry entry = {};
    entry.name = found.cFileName;
    entry.nameLength = strlen(found.cFileName);
    DWORD attributes = found.dwFileAttributes;
    bool folderEntry = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;

    if (IsDotOrDotDot(found.cFileName)) {
        entry.kind = ENTRY_FOLDER;  // the caller skips these; no need to examine them
    } else if (!folderEntry && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // A plain file: the listing already says all there is to know.
        entry.kind = ENTRY_FILE;
        entry.size = ((uint64_t)found.nFileSizeHigh << 32) | found.nFileSizeLow;
        entry.stamp = StampOf(found.ftLastWriteTime);
    } else {
        // A folder needs its identity for loop detection; a link to a file
        // lists its own size, not that of the file it leads to.
        char child[2 * MAX_PATH + 2];
        size_t at = folderLength;
        memcpy(child, folder, folderLength);
        if (!EndsWithSeparator(folder, folderLength)) child[at++] = '\\';
        memcpy(child + at, found.cFileName, entry.nameLength + 1);
        SysError error = Inspect(child, &entry.kind, &entry.size, &entry.id, &entry.stamp);
        if (error) {
            entry.kind = ENTRY_BROKEN;
            entry.error = error;
        }
    }
    sink(context, &entry);
}

static SysError ListFolder(const char* folder, EntrySink sink, void* context) {
    size_t length = strlen(folder);
    bool separator = !EndsWithSeparator(folder, length);
    if (length + separator + 1 > PathLimit()) return ENGINE_PATH_TOO_LONG;
    char pattern[MAX_PATH];
    memcpy(pattern, folder, length);
    size_t at = length;
    if (separator) pattern[at++] = '\\';
    pattern[at++] = '*';
    pattern[at] = '\0';

    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
        SysError error = LastError();
        // A drive's root has no "." and "..": an empty one lists nothing
        // at all, which is no error.
        if (error == ERROR_FILE_NOT_FOUND) {
            DWORD attributes = GetFileAttributesA(folder);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
        }
        return error;
    }
    do {
        PassOn(folder, length, found, sink, context);
    } while (FindNextFileA(search, &found));
    SysError error = LastError();
    if (error == ERROR_NO_MORE_FILES) error = 0;
    FindClose(search);
    return error;
}

// Windows says "not found" for a name below a file, where POSIX says "not
// a directory". Told apart, a path under a file does not pass for one that
// could still be made.
static SysError RefineNotFound(const char* path, SysError error) {
    if (!IsNotFound(error)) return error;
    char above[MAX_PATH];
    size_t length = strlen(path);
    if (length >= sizeof above) return error;
    memcpy(above, path, length + 1);
    for (;;) {
        while (length > 0 && !IsPathSeparator(above[length - 1])) --length;
        while (length > 0 && IsPathSeparator(above[length - 1])) --length;
        if (length == 0 || above[length - 1] == ':') return error;
        above[length] = '\0';
        DWORD attributes = GetFileAttributesA(above);
        if (attributes != INVALID_FILE_ATTRIBUTES)
            return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? error : (SysError)ERROR_DIRECTORY;
    }
}

static SysError Examine(const char* path, EntryKind* kind, FolderId* id) {
    uint64_t size = 0;
    SysError error = Inspect(path, kind, &size, id, nullptr);
    return error ? RefineNotFound(path, error) : 0;
}

// Share mode 0: nobody else may open the file while it is read, and a file
// that another program holds open cannot be opened (ERROR_SHARING_VIOLATION).
static SysError OpenForReading(const char* path, FileHandle* file) {
    *file = INVALID_FILE;
    if (TooLong(path)) return ENGINE_PATH_TOO_LONG;
    HANDLE handle = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastError();
    // Device names such as CON or a named pipe open without complaint but
    // are no files; a pipe could keep a read waiting forever.
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return ENGINE_NOT_REGULAR;
    }
    *file = (FileHandle)handle;
    return 0;
}

static SysError ReadChunk(FileHandle file, void* buffer, size_t size, size_t* got) {
    *got = 0;
    char* at = (char*)buffer;
    while (*got < size) {
        size_t wanted = size - *got;
        DWORD ask = wanted > 0x40000000u ? 0x40000000u : (DWORD)wanted;
        DWORD n = 0;
        if (!ReadFile((HANDLE)file, at + *got, ask, &n, nullptr)) {
            SysError error = LastError();
            if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) break;
            return error;
        }
        if (n == 0) break;
        *got += n;
    }
    return 0;
}

static void CloseFile(FileHandle file) {
    CloseHandle((HANDLE)file);
}

static SysError CreateFolders(const char* folder) {
    if (TooLong(folder)) return ENGINE_PATH_TOO_LONG;
    // SHCreateDirectoryExA refuses relative paths.
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(folder, sizeof full, full, nullptr);
    if (length == 0) return LastError();
    if (length >= sizeof full) return ENGINE_PATH_TOO_LONG;
    // Copies on other threads make folders of the same chain at the same
    // time: whatever the call says, a folder standing there now is success,
    // and a chain cut short by another thread's folder is tried once more.
    int result = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        result = SHCreateDirectoryExA(nullptr, full, nullptr);
        if (result == ERROR_SUCCESS) return 0;
        DWORD attributes = GetFileAttributesA(full);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
        if (attributes != INVALID_FILE_ATTRIBUTES) return ENGINE_NOT_A_FOLDER;
    }
    return (SysError)result;
}

// Removes a temporary file of ours; the copy may have made it read-only.
static void RemoveTemporary(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    DeleteFileA(path);
}

// Renames the finished copy over the target. Windows refuses to replace a
// read-only file, and the target is ours to replace: the attribute is
// lifted for the rename and put back if the rename still fails.
static SysError MoveOver(const char* temporary, const char* target) {
    if (MoveFileExA(temporary, target, MOVEFILE_REPLACE_EXISTING)) return 0;
    SysError error = LastError();
    if (error != ERROR_ACCESS_DENIED) return error;
    DWORD attributes = GetFileAttributesA(target);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !(attributes & FILE_ATTRIBUTE_READONLY))
        return error;
    if (!SetFileAttributesA(target, attributes & ~FILE_ATTRIBUTE_READONLY)) return error;
    if (MoveFileExA(temporary, target, MOVEFILE_REPLACE_EXISTING)) return 0;
    error = LastError();
    SetFileAttributesA(target, attributes);
    return error;
}

static SysError MakeOneFolder(const char* folder, bool* made) {
    *made = false;
    if (TooLong(folder)) return ENGINE_PATH_TOO_LONG;
    if (CreateDirectoryA(folder, nullptr)) {
        *made = true;
        return 0;
    }
    SysError error = LastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return error;
    DWORD attributes = GetFileAttributesA(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ENGINE_NOT_A_FOLDER;
    // Where a junction or folder link leads cannot be told everywhere (no
    // final path before Vista, none that follows links under Wine): it is
    // never written through.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return ENGINE_OUTSIDE_DATA;
    return 0;
}

static std::atomic<unsigned> TemporaryCounter;

// Asked once: the process id names every temporary file of this run.
static unsigned long ProcessId() {
    static const unsigned long id = GetCurrentProcessId();
    return id;
}

// A fresh temporary name in the target's folder: "~mx<pid>_<n>.tmp", or
// the shorter "~<n>" when the long one would pass the path limit. The short
// one fits beside any folder that CreateDirectory makes (at most 248
// characters); false when not even that fits.
static bool TemporaryName(const char* target, char* out, size_t outSize) {
    size_t folderLength = strlen(target);
    while (folderLength > 0 && !IsPathSeparator(target[folderLength - 1]) && target[folderLength - 1] != ':')
        --folderLength;
    unsigned counter = TemporaryCounter.fetch_add(1);
    int written = snprintf(out, outSize, "%.*s~mx%lu_%u.tmp", (int)folderLength, target, ProcessId(), counter);
    if (written >= 0 && (size_t)written <= PathLimit() && (size_t)written < outSize) return true;
    written = snprintf(out, outSize, "%.*s~%x", (int)folderLength, target, counter);
    return written >= 0 && (size_t)written <= PathLimit() && (size_t)written < outSize;
}

// Only the long pattern: "~<hex>" is too plain a name to remove on sight.
bool IsTemporaryName(const char* name) {
    if (strncmp(name, "~mx", 3) != 0) return false;
    const char* at = name + 3;
    for (int part = 0; part < 2; ++part) {
        const char* digits = at;
        while (*at >= '0' && *at <= '9') ++at;
        if (at == digits || *at != (part == 0 ? '_' : '.')) return false;
        ++at;
    }
    return strcmp(at, "tmp") == 0;
}

static bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.nFileSizeHigh == b.nFileSizeHigh && a.nFileSizeLow == b.nFileSizeLow &&
           StampOf(a.ftLastWriteTime) == StampOf(b.ftLastWriteTime);
}

// Copies through the chunk, looking at `stop` before each one. The copy's
// handle is this thread's alone: only the copy itself can remove its file,
// which it does when it stops.
static SysError CopyContents(HANDLE from, HANDLE to, const CopyRequest* request, uint64_t* copied) {
    if (!request->chunk) return ENGINE_OUT_OF_MEMORY;
    DWORD ask = request->chunkSize > 0x40000000u ? 0x40000000u : (DWORD)request->chunkSize;
    for (;;) {
        if (request->stop && request->stop->load(std::memory_order_relaxed)) return ENGINE_ABANDONED;
        DWORD got = 0;
        if (!ReadFile(from, request->chunk, ask, &got, nullptr)) {
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

static SysError CopyOneFile(const CopyRequest* request, uint64_t* copied) {
    *copied = 0;
    const char* target = request->target;
    if (TooLong(request->source) || TooLong(target)) return ENGINE_PATH_TOO_LONG;

    // Writers are kept out while the copy reads; readers may stay.
    HANDLE from = CreateFileA(request->source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (from == INVALID_HANDLE_VALUE) return LastError();
    BY_HANDLE_FILE_INFORMATION before;
    SysError error = 0;
    if (GetFileType(from) != FILE_TYPE_DISK) error = ENGINE_NOT_REGULAR;
    else if (!GetFileInformationByHandle(from, &before)) error = LastError();
    else if (request->stamp && (request->size != (((uint64_t)before.nFileSizeHigh << 32) | before.nFileSizeLow) ||
                                request->stamp != StampOf(before.ftLastWriteTime)))
        error = ENGINE_SOURCE_CHANGED;
    if (error) {
        CloseHandle(from);
        return error;
    }

    // Failing when the name exists keeps a stranger's file of that name, or
    // another copy's temporary file, untouched; the next name is tried instead.
    char temporary[MAX_PATH];
    HANDLE to = INVALID_HANDLE_VALUE;
    for (int attempt = 0; to == INVALID_HANDLE_VALUE; ++attempt) {
        if (!TemporaryName(target, temporary, sizeof temporary)) {
            CloseHandle(from);
            return ENGINE_PATH_TOO_LONG;
        }
        to = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (to != INVALID_HANDLE_VALUE) break;
        error = LastError();
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt >= 1000) {
            CloseHandle(from);
            return error;
        }
    }
    error = CopyContents(from, to, request, copied);
    BY_HANDLE_FILE_INFORMATION after;
    if (!error && (!GetFileInformationByHandle(from, &after) || !SameFile(before, after)))
        error = ENGINE_SOURCE_CHANGED;
    if (!error) SetFileTime(to, &before.ftCreationTime, &before.ftLastAccessTime, &before.ftLastWriteTime);
    if (!CloseHandle(to) && !error) error = LastError();
    CloseHandle(from);
    // Read-only, hidden and the like come along; a read-only file may still be renamed.
    DWORD kept = before.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (!error && kept) SetFileAttributesA(temporary, kept);
    if (!error) error = MoveOver(temporary, target);
    if (error) RemoveTemporary(temporary);
    return error;
}

static SysError RemoveFile(const char* path) {
    if (TooLong(path)) return ENGINE_PATH_TOO_LONG;
    return DeleteFileA(path) ? 0 : LastError();
}

unsigned char* AllocateChunk(size_t size) {
    return (unsigned char*)VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void FreeChunk(unsigned char* chunk) {
    if (chunk) VirtualFree(chunk, 0, MEM_RELEASE);
}

typedef DWORD(WINAPI* FinalPathFunction)(HANDLE, LPSTR, DWORD, DWORD);

// GetFinalPathNameByHandleA came with Vista; before it, the full path is
// as far as links are resolved.
static FinalPathFunction FinalPathName() {
    static FinalPathFunction function = (FinalPathFunction)(void*)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA");
    return function;
}

static SysError ResolvePath(const char* path, char* out, size_t outSize) {
    if (TooLong(path)) return ENGINE_PATH_TOO_LONG;
    char full[MAX_PATH];
    DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (length == 0) return LastError();
    if (length >= sizeof full) return ENGINE_PATH_TOO_LONG;

    HANDLE handle = OpenForInformation(full);
    if (handle == INVALID_HANDLE_VALUE) return RefineNotFound(full, LastError());
    char resolved[PATH_BUFFER_SIZE];
    const char* result = full;
    if (FinalPathFunction function = FinalPathName()) {
        DWORD got = function(handle, resolved, sizeof resolved, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (got > 0 && got < sizeof resolved) {
            result = resolved;
            if (strncmp(resolved, "\\\\?\\UNC\\", 8) == 0) {
                result = resolved + 6;  // "\\?\UNC\server\share" is "\\server\share"
                resolved[6] = '\\';
            } else if (strncmp(resolved, "\\\\?\\", 4) == 0) {
                result = resolved + 4;
            }
        }
    }
    CloseHandle(handle);

    size_t resultLength = strlen(result);
    if (resultLength > PathLimit() || resultLength >= outSize) return ENGINE_PATH_TOO_LONG;
    memcpy(out, result, resultLength + 1);
    return 0;
}

// Win32 has no call that starts a file's reads without a reader waiting
// for them; the comparers' own reads in flight give the disk its depth.
static SysError AdviseWillNeed(const char*, uint64_t) {
    return 0;
}

const SysCalls PlatformCalls = {
    ListFolder, Examine, OpenForReading, ReadChunk, CloseFile, CreateFolders, MakeOneFolder, CopyOneFile, RemoveFile,
    ResolvePath, AdviseWillNeed,
};

SysCalls Sys = PlatformCalls;

size_t PathLimit() {
    return MAX_PATH - 1;
}

char PathSeparator() {
    return '\\';
}

bool IsPathSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsNotFound(SysError error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

void DescribeError(SysError error, char* out, size_t outSize) {
    if (outSize == 0) return;
    if (const char* text = EngineErrorText(error)) {
        snprintf(out, outSize, "%s", text);
        return;
    }
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  text, sizeof text, nullptr);
    // System texts end in a period and a line break.
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ' ||
                          text[length - 1] == '.'))
        --length;
    if (length == 0) {
        snprintf(out, outSize, "error %lu", (unsigned long)error);
        return;
    }
    text[length] = '\0';
    snprintf(out, outSize, "%s", text);
}
