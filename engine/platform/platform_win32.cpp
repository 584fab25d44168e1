// The engine's platform calls on Win32, with the wide file functions:
// paths arrive as UTF-8, become UTF-16 here and nowhere else, and reach
// every file call in their absolute "\\?\" form, so that no path up to the
// engine's own buffers is refused for its length and no name is changed on
// the way.
#include "platform.h"
#include "platform_win32.h"
#include "textconvert_win32.h"

#include <windows.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

// Kind, size and identity of what `path` leads to.
static SysError Inspect(const wchar_t* path, EntryKind* kind, uint64_t* size, FolderId* id, uint64_t* stamp) {
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

static bool IsDotOrDotDot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// The longest UTF-8 form of a listed name: up to 3 bytes per UTF-16 unit.
enum { NAME_BUFFER_SIZE = 3 * MAX_PATH + 1 };

// A name that holds an unpaired surrogate has no UTF-8 form. It is passed
// on as a failure under a stand-in that names it for the user (U+FFFD for
// each such unit) and is never opened under that stand-in.
static void StandInName(const wchar_t* name, char* out) {
    wchar_t shown[MAX_PATH];
    size_t length = 0;
    for (; name[length] && length < MAX_PATH - 1; ++length) {
        wchar_t c = name[length];
        bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && name[length + 1] >= 0xDC00 && name[length + 1] <= 0xDFFF && length < MAX_PATH - 2) {
            shown[length] = c;
            ++length;
            shown[length] = name[length];
        } else {
            shown[length] = (high || low) ? (wchar_t)0xFFFD : c;
        }
    }
    shown[length] = L'\0';
    if (!Utf8FromWide(shown, out, NAME_BUFFER_SIZE)) strcpy(out, "?");
}

static bool PassOn(WidePath* folder, const WIN32_FIND_DATAW& found, EntrySink sink, void* context) {
    char name[NAME_BUFFER_SIZE];
    FolderEntry entry = {};
    entry.name = name;
    DWORD attributes = found.dwFileAttributes;
    bool folderEntry = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;

    if (!Utf8FromWide(found.cFileName, name, sizeof name)) {
        entry.kind = ENTRY_BROKEN;
        entry.error = ERROR_NO_UNICODE_TRANSLATION;
        StandInName(found.cFileName, name);
    } else if (IsDotOrDotDot(found.cFileName)) {
        entry.kind = ENTRY_FOLDER;  // the caller skips these; no need to examine them
    } else if (!folderEntry && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // A plain file: the listing already says all there is to know.
        entry.kind = ENTRY_FILE;
        entry.size = ((uint64_t)found.nFileSizeHigh << 32) | found.nFileSizeLow;
        entry.stamp = StampOf(found.ftLastWriteTime);
    } else {
        // A folder needs its identity for loop detection; a link to a file
        // lists its own size, not that of the file it leads to.
        size_t length = folder->length;
        size_t nameLength = wcslen(found.cFileName);
        SysError error = ENGINE_PATH_TOO_LONG;
        if (Append(folder, L"\\", EndsWithSeparator(*folder) ? 0 : 1) && Append(folder, found.cFileName, nameLength))
            error = Inspect(folder->text, &entry.kind, &entry.size, &entry.id, &entry.stamp);
        folder->length = length;
        folder->text[length] = L'\0';
        if (error) {
            entry.kind = ENTRY_BROKEN;
            entry.error = error;
        }
    }
    // Links and junctions lead elsewhere; other reparse points (a cloud
    // file that is only online, a deduplicated file) are what they hold.
    entry.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                 (found.dwReserved0 == IO_REPARSE_TAG_SYMLINK || found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
    entry.nameLength = strlen(name);
    return sink(context, &entry);
}

static SysError ListFolder(const char* folder, EntrySink sink, void* context) {
    WidePath path;
    SysError error = ToWide(folder, &path);
    if (error) return error;
    size_t length = path.length;
    bool separator = !EndsWithSeparator(path);
    // WIDE_PATH_SIZE keeps room for these two.
    if (separator) path.text[path.length++] = L'\\';
    path.text[path.length++] = L'*';
    path.text[path.length] = L'\0';

    // No short names, and entries fetched in bigger batches: fewer calls
    // through the file-system filters per folder. Systems before Windows 7
    // know neither and refuse them.
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(path.text, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
        search = FindFirstFileW(path.text, &found);
    path.length = length;
    path.text[length] = L'\0';
    if (search == INVALID_HANDLE_VALUE) {
        error = LastError();
        // A drive's root has no "." and "..": an empty one lists nothing
        // at all, which is no error.
        if (error == ERROR_FILE_NOT_FOUND) {
            DWORD attributes = GetFileAttributesW(path.text);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
        }
        return error;
    }
    bool goOn;
    do {
        goOn = PassOn(&path, found, sink, context);
    } while (goOn && FindNextFileW(search, &found));
    error = goOn ? LastError() : ENGINE_ABANDONED;
    if (error == ERROR_NO_MORE_FILES) error = 0;
    FindClose(search);
    return error;
}

// Windows says "not found" for a name below a file, where POSIX says "not
// a directory". Told apart, a path under a file does not pass for one that
// could still be made.
static SysError RefineNotFound(WidePath* path, SysError error) {
    if (!IsNotFound(error)) return error;
    size_t length = path->length;
    for (;;) {
        while (length > path->rootLength && path->text[length - 1] != L'\\') --length;
        while (length > path->rootLength && path->text[length - 1] == L'\\') --length;
        if (length <= path->rootLength) return error;
        path->text[length] = L'\0';
        DWORD attributes = GetFileAttributesW(path->text);
        if (attributes != INVALID_FILE_ATTRIBUTES)
            return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? error : (SysError)ERROR_DIRECTORY;
    }
}

static SysError Examine(const char* path, EntryKind* kind, FolderId* id) {
    WidePath wide;
    SysError error = ToWide(path, &wide);
    if (error) return error;
    uint64_t size = 0;
    error = Inspect(wide.text, kind, &size, id, nullptr);
    return error ? RefineNotFound(&wide, error) : 0;
}

// Share mode 0: nobody else may open the file while it is read, and a file
// that another program holds open cannot be opened (ERROR_SHARING_VIOLATION).
static SysError OpenForReading(const char* path, FileHandle* file) {
    *file = INVALID_FILE;
    WidePath wide;
    SysError error = ToWide(path, &wide);
    if (error) return error;
    HANDLE handle = CreateFileW(wide.text, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
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
    WidePath wide;
    SysError error = ToWide(folder, &wide);
    if (error) return error;
    // Usually only the last folder is missing. Otherwise every folder of
    // the chain is made from the root down; copies on other threads make
    // folders of the same chain at the same time, so whatever a call says,
    // a folder standing there at the end is success.
    SysError failed = 0;
    if (!CreateDirectoryW(wide.text, nullptr)) {
        failed = LastError();
        if (failed == ERROR_PATH_NOT_FOUND) {
            for (size_t at = wide.rootLength + 1; at <= wide.length; ++at) {
                if (at < wide.length && wide.text[at] != L'\\') continue;
                wchar_t kept = wide.text[at];
                wide.text[at] = L'\0';
                failed = CreateDirectoryW(wide.text, nullptr) ? 0 : LastError();
                wide.text[at] = kept;
            }
        }
    }
    if (!failed) return 0;
    DWORD attributes = GetFileAttributesW(wide.text);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    if (attributes != INVALID_FILE_ATTRIBUTES) return ENGINE_NOT_A_FOLDER;
    return failed;
}

static SysError MakeOneFolder(const char* folder, bool* made) {
    *made = false;
    WidePath wide;
    SysError error = ToWide(folder, &wide);
    if (error) return error;
    if (CreateDirectoryW(wide.text, nullptr)) {
        *made = true;
        return 0;
    }
    error = LastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return error;
    DWORD attributes = GetFileAttributesW(wide.text);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ENGINE_NOT_A_FOLDER;
    // Where a junction or folder link leads cannot be told everywhere (no
    // final path before Vista, none that follows links under Wine): it is
    // never written through.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return ENGINE_OUTSIDE_DATA;
    return 0;
}

static SysError RemoveFile(const char* path) {
    WidePath wide;
    SysError error = ToWide(path, &wide);
    if (error) return error;
    return DeleteFileW(wide.text) ? 0 : LastError();
}

static SysError RemoveFolder(const char* folder) {
    WidePath wide;
    SysError error = ToWide(folder, &wide);
    if (error) return error;
    return RemoveDirectoryW(wide.text) ? 0 : LastError();
}

// The folder opened for adding folders to it while sharing only reading:
// a second such open, in this process or another (on a share, from
// another machine too: the server keeps share modes), is refused with a
// sharing violation, while listing the folder (Explorer, a console
// standing in it), reading, and creating files and folders below it all
// go on; a delete or a rename of the folder itself is refused until the
// job ends. No ordinary program opens a folder for adding to it: only
// renames into the folder itself fail meanwhile, and the job makes none.
// A lock file would stay behind a killed run; the handle goes with the
// process.
static SysError LockFolder(const char* folder, FileHandle* lock) {
    *lock = INVALID_FILE;
    WidePath wide;
    SysError error = ToWide(folder, &wide);
    if (error) return error;
    HANDLE handle = CreateFileW(wide.text, FILE_ADD_SUBDIRECTORY | SYNCHRONIZE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = LastError();
        return error == ERROR_SHARING_VIOLATION ? ENGINE_DESTINATION_BUSY : error;
    }
    *lock = (FileHandle)handle;
    return 0;
}

static void UnlockFolder(FileHandle lock) {
    if (lock != INVALID_FILE) CloseHandle((HANDLE)lock);
}

unsigned char* AllocateChunk(size_t size) {
    return (unsigned char*)VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void FreeChunk(unsigned char* chunk) {
    if (chunk) VirtualFree(chunk, 0, MEM_RELEASE);
}

typedef DWORD(WINAPI* FinalPathFunction)(HANDLE, LPWSTR, DWORD, DWORD);

// GetFinalPathNameByHandleW came with Vista; before it, the full path is
// as far as links are resolved.
static FinalPathFunction FinalPathName() {
    static FinalPathFunction function = (FinalPathFunction)(void*)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleW");
    return function;
}

static SysError ResolvePath(const char* path, char* out, size_t outSize) {
    WidePath wide;
    SysError error = ToWide(path, &wide);
    if (error) return error;
    HANDLE handle = OpenForInformation(wide.text);
    if (handle == INVALID_HANDLE_VALUE) return RefineNotFound(&wide, LastError());
    wchar_t resolved[WIDE_PATH_SIZE];
    const wchar_t* result = WithoutPrefix(wide.text);
    if (FinalPathFunction function = FinalPathName()) {
        DWORD got = function(handle, resolved, WIDE_PATH_SIZE, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (got > 0 && got < WIDE_PATH_SIZE) result = WithoutPrefix(resolved);
    }
    CloseHandle(handle);

    if (!Utf8FromWide(result, out, outSize)) return ConversionError();
    if (strlen(out) > Win32PathLimit()) return ENGINE_PATH_TOO_LONG;
    return 0;
}

static SysError ExamineOpenFile(FileHandle file, uint64_t* size, uint64_t* stamp) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle((HANDLE)file, &info)) return LastError();
    *size = ((uint64_t)info.nFileSizeHigh << 32) | info.nFileSizeLow;
    *stamp = StampOf(info.ftLastWriteTime);
    return 0;
}

// Win32 has no call that starts a file's reads without a reader waiting
// for them; the comparers' own reads in flight give the disk its depth.
static SysError AdviseWillNeed(const char*, uint64_t, uint64_t* asked) {
    if (asked) *asked = 0;
    return 0;
}

// Windows counts no thread's disk reads: the engine times its reads instead.
static bool CountThreadDiskReads(uint64_t*) {
    return false;
}

static unsigned KeepOpenFiles() {
    return MAX_OPEN_KEPT;
}

const SysCalls PlatformCalls = {
    ListFolder, Examine, OpenForReading, ReadChunk, CloseFile, CreateFolders, MakeOneFolder, CopyOneFile, RemoveFile,
    ResolvePath, AdviseWillNeed, ExamineOpenFile, StartSystemThread,
    IsHeldByOther, SystemClockMilliseconds, SystemSleepMilliseconds, ProbeFolder,
    OpenForReading,  // the open asks GetFileType, which no file-system filter sees
    RemoveFolder,
    OpenTargetFile, ReadFileAt, MatchTargetTimes, Win32PathLimit, CountThreadDiskReads, KeepOpenFiles, SystemCoreCount,
    CloseWrittenFile, SetFileMode, SetFileTimes,
    LockFolder, UnlockFolder,
};

SysCalls Sys = PlatformCalls;

bool IsNotFound(SysError error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

void DescribeError(SysError error, char* out, size_t outSize) {
    if (outSize == 0) return;
    if (const char* text = EngineErrorText(error)) {
        snprintf(out, outSize, "%s", text);
        return;
    }
    wchar_t text[512];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  text, sizeof text / sizeof text[0], nullptr);
    // System texts end in a period and a line break.
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' ' ||
                          text[length - 1] == L'.'))
        --length;
    text[length] = L'\0';
    char whole[3 * 512 + 1];
    if (length == 0 || !Utf8FromWide(text, whole, sizeof whole)) {
        snprintf(out, outSize, "error %lu", (unsigned long)error);
        return;
    }
    // Cut, when it must be, between two characters.
    size_t cut = strlen(whole);
    if (cut >= outSize) {
        cut = outSize - 1;
        while (cut > 0 && ((unsigned char)whole[cut] & 0xC0) == 0x80) --cut;
    }
    memcpy(out, whole, cut);
    out[cut] = '\0';
}
