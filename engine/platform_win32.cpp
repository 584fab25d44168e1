// The engine's platform calls on Win32, with the wide file functions:
// paths arrive as UTF-8, become UTF-16 here and nowhere else, and reach
// every file call in their absolute "\\?\" form, so that no path up to the
// engine's own buffers is refused for its length and no name is changed on
// the way.
#include "platform.h"
#include "rootpath.h"
#include "platform_win32.h"
#include "holdwait.h"

#include <windows.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

static SysError LastError() {
    DWORD error = GetLastError();
    return error ? (SysError)error : (SysError)ERROR_GEN_FAILURE;
}

bool WideFromUtf8(const char* text, wchar_t* out, size_t outCount) {
    if (outCount == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    if (!text[0]) {
        out[0] = L'\0';
        return true;
    }
    int count = outCount > 0x7fffffff ? 0x7fffffff : (int)outCount;
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, out, count) > 0;
}

bool Utf8FromWide(const wchar_t* text, char* out, size_t outSize) {
    if (outSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    if (!text[0]) {
        out[0] = '\0';
        return true;
    }
    int size = outSize > 0x7fffffff ? 0x7fffffff : (int)outSize;
    return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, out, size, nullptr, nullptr) > 0;
}

// A conversion's failure as the engine names it: a text that does not fit
// its buffer is a path too long, anything else a name that cannot be carried.
static SysError ConversionError() {
    DWORD error = GetLastError();
    if (error == ERROR_INSUFFICIENT_BUFFER) return ENGINE_PATH_TOO_LONG;
    return error ? (SysError)error : (SysError)ERROR_NO_UNICODE_TRANSLATION;
}

// Room for the longest UTF-8 path in UTF-16 (never more units than bytes),
// the "\\?\UNC" prefix, a search pattern's "\*" and the terminator.
enum { WIDE_PATH_SIZE = PATH_BUFFER_SIZE + 16 };

// A path as the wide file calls take it: "\\?\C:\a\b" or
// "\\?\UNC\server\share\a\b", absolute, backslashes only, no "." or "..",
// no doubled separator, and a root that ends in its backslash.
struct WidePath {
    wchar_t text[WIDE_PATH_SIZE];
    size_t length;
    size_t rootLength;  // "\\?\C:" or "\\?\UNC\server\share", without the backslash after it
};

static bool IsWideSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

static bool Append(WidePath* path, const wchar_t* text, size_t length) {
    if (path->length + length + 1 > WIDE_PATH_SIZE - 2) return false;  // the pattern's "\*" stays possible
    memcpy(path->text + path->length, text, length * sizeof(wchar_t));
    path->length += length;
    path->text[path->length] = L'\0';
    return true;
}

// The "\\?\" prefix turns off every rewriting that the file calls would do
// with a plain path, so this does the part of it that the engine relies on:
// a relative path is taken from the current folder, "/" is a separator,
// doubled separators (a drive root joined with a name) count once, and "."
// and ".." are applied. Names are left exactly as they are: trailing dots
// and spaces stay, since a listed name may end in them.
static SysError Normalise(const wchar_t* raw, WidePath* out, int depth = 0) {
    // A device ("\\.\NUL", "\\.\pipe\x") is left as it is: it has no
    // folders to walk.
    if (IsWideSeparator(raw[0]) && IsWideSeparator(raw[1]) && raw[2] == L'.' && IsWideSeparator(raw[3])) {
        size_t length = wcslen(raw);
        if (length + 1 > WIDE_PATH_SIZE - 2) return ENGINE_PATH_TOO_LONG;
        memcpy(out->text, raw, (length + 1) * sizeof(wchar_t));
        out->length = length;
        out->rootLength = 4;
        return 0;
    }
    // Already in the long form: read it as the path it stands for.
    if (IsWideSeparator(raw[0]) && IsWideSeparator(raw[1]) && raw[2] == L'?' && IsWideSeparator(raw[3])) {
        const wchar_t* rest = raw + 4;
        if ((rest[0] == L'U' || rest[0] == L'u') && (rest[1] == L'N' || rest[1] == L'n') &&
            (rest[2] == L'C' || rest[2] == L'c') && IsWideSeparator(rest[3])) {
            wchar_t unc[WIDE_PATH_SIZE];
            size_t length = wcslen(rest + 3);
            if (length + 2 > WIDE_PATH_SIZE) return ENGINE_PATH_TOO_LONG;
            unc[0] = L'\\';
            memcpy(unc + 1, rest + 3, (length + 1) * sizeof(wchar_t));
            return Normalise(unc, out, depth);
        }
        if (rest[0] && rest[1] == L':' && IsWideSeparator(rest[2])) return Normalise(rest, out, depth);
        // A volume named by its GUID: taken as it is, like a device.
        size_t length = wcslen(raw);
        if (length + 1 > WIDE_PATH_SIZE - 2) return ENGINE_PATH_TOO_LONG;
        memcpy(out->text, raw, (length + 1) * sizeof(wchar_t));
        out->length = length;
        out->rootLength = 4;
        while (out->rootLength < length && !IsWideSeparator(raw[out->rootLength])) ++out->rootLength;
        return 0;
    }

    out->length = 0;
    out->text[0] = L'\0';
    const wchar_t* rest;
    if (IsWideSeparator(raw[0]) && IsWideSeparator(raw[1])) {
        // \\server\share\...
        const wchar_t* server = raw + 2;
        size_t serverLength = 0;
        while (server[serverLength] && !IsWideSeparator(server[serverLength])) ++serverLength;
        if (serverLength == 0 || !server[serverLength]) return ERROR_BAD_PATHNAME;
        const wchar_t* share = server + serverLength + 1;
        size_t shareLength = 0;
        while (share[shareLength] && !IsWideSeparator(share[shareLength])) ++shareLength;
        if (shareLength == 0) return ERROR_BAD_PATHNAME;
        if (!Append(out, L"\\\\?\\UNC\\", 8) || !Append(out, server, serverLength) || !Append(out, L"\\", 1) ||
            !Append(out, share, shareLength))
            return ENGINE_PATH_TOO_LONG;
        rest = share + shareLength;
    } else if (raw[0] && raw[1] == L':' && IsWideSeparator(raw[2])) {
        wchar_t root[6] = {L'\\', L'\\', L'?', L'\\', raw[0], L':'};
        Append(out, root, 6);
        rest = raw + 2;
    } else {
        // Relative: the current folder (of the drive named, if one is),
        // or the current drive's root, in front.
        if (depth > 0) return ERROR_BAD_PATHNAME;
        wchar_t base[4] = L".";
        const wchar_t* tail = raw;
        if (raw[0] && raw[1] == L':') {
            base[0] = raw[0];
            base[1] = L':';
            base[2] = L'\0';
            tail = raw + 2;
        } else if (IsWideSeparator(raw[0])) {
            base[0] = L'\\';
            tail = raw + 1;
        }
        wchar_t full[WIDE_PATH_SIZE];
        DWORD length = GetFullPathNameW(base, WIDE_PATH_SIZE, full, nullptr);
        if (length == 0) return LastError();
        size_t tailLength = wcslen(tail);
        if (length + 1 + tailLength + 1 > WIDE_PATH_SIZE) return ENGINE_PATH_TOO_LONG;
        full[length] = L'\\';
        memcpy(full + length + 1, tail, (tailLength + 1) * sizeof(wchar_t));
        return Normalise(full, out, depth + 1);
    }
    out->rootLength = out->length;

    while (*rest) {
        while (IsWideSeparator(*rest)) ++rest;
        size_t nameLength = 0;
        while (rest[nameLength] && !IsWideSeparator(rest[nameLength])) ++nameLength;
        if (nameLength == 0) break;
        if (nameLength == 1 && rest[0] == L'.') {
            // the folder itself
        } else if (nameLength == 2 && rest[0] == L'.' && rest[1] == L'.') {
            while (out->length > out->rootLength && out->text[out->length - 1] != L'\\') --out->length;
            if (out->length > out->rootLength) --out->length;
            out->text[out->length] = L'\0';
        } else if (!Append(out, L"\\", 1) || !Append(out, rest, nameLength)) {
            return ENGINE_PATH_TOO_LONG;
        }
        rest += nameLength;
    }
    // A root alone is the root folder only with its backslash.
    if (out->length == out->rootLength && !Append(out, L"\\", 1)) return ENGINE_PATH_TOO_LONG;
    return 0;
}

// The wide, absolute, prefixed form of the engine's UTF-8 `path`.
static SysError ToWide(const char* path, WidePath* out) {
    if (strlen(path) > PathLimit()) return ENGINE_PATH_TOO_LONG;
    if (!path[0]) return ERROR_PATH_NOT_FOUND;
    wchar_t raw[WIDE_PATH_SIZE];
    if (!WideFromUtf8(path, raw, WIDE_PATH_SIZE)) return ConversionError();
    return Normalise(raw, out);
}

// The path without its prefix, as a user writes it: "C:\a" or "\\server\share\a".
static const wchar_t* WithoutPrefix(wchar_t* path) {
    if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        path[6] = L'\\';
        return path + 6;
    }
    if (wcsncmp(path, L"\\\\?\\", 4) == 0) return path + 4;
    return path;
}

static bool EndsWithSeparator(const WidePath& path) {
    return path.length > 0 && path.text[path.length - 1] == L'\\';
}

static uint64_t StampOf(const FILETIME& written) {
    return (((uint64_t)written.dwHighDateTime << 32) | written.dwLowDateTime) | 1u;  // never 0: unknown
}

static HANDLE OpenForInformation(const wchar_t* path) {
    // Backup semantics opens folders too; without FILE_FLAG_OPEN_REPARSE_POINT
    // the open follows junctions and symbolic links to what they lead to.
    // Attribute access alone is not stopped by another program's share mode 0.
    return CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

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

    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path.text, &found);
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

// Puts the finished copy in the target's place: through the copy's own
// handle `file` where the system can, so that no other program (a scanner
// looking at every new file) can open the copy between its completion and
// its rename; else by path, once `file` is closed (`*closed`). Another
// program's hold on the target is waited out. A read-only target is ours
// to replace: its attribute is lifted, and put back if the rename still fails.
static SysError ReplaceTarget(HANDLE file, bool* closed, const wchar_t* temporary, const WidePath& target,
                              const std::atomic<bool>* stop) {
    HoldWait wait = {};
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    bool looked = false, lifted = false;
    SysError error;
    for (;;) {
        if (!*closed) {
            error = RenameThrough(file, target);
            if (error && NotThroughHandle(error)) {
                error = CloseHandle(file) ? 0 : LastError();
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
        if (!WaitOutHold(&wait, error, true, stop)) break;
    }
    if (error && lifted) SetFileAttributesW(target.text, attributes);
    return error;
}

// Removes a temporary file of ours by its path, waiting out a hold on it;
// the copy may have made it read-only.
static void RemoveTemporary(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    HoldWait wait = {};
    while (!DeleteFileW(path) && WaitOutHold(&wait, LastError(), true, nullptr)) {
    }
}

// Ends a copy that failed: deleted through its handle, which only this copy
// can have open, so that nothing of it is left even while another program
// waits to look at it; by its path where that cannot be done.
static void Discard(HANDLE file, bool closed, const wchar_t* temporary) {
    if (!closed) {
        SetInformationFunction set = SetInformation();
        FILE_DISPOSITION_INFO disposition = {TRUE};
        bool deleted = set && set(file, FileDispositionInfo, &disposition, sizeof disposition);
        CloseHandle(file);
        if (deleted) return;
    }
    RemoveTemporary(temporary);
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

static std::atomic<unsigned> TemporaryCounter;

// Asked once: the process id names every temporary file of this run.
static unsigned long ProcessId() {
    static const unsigned long id = GetCurrentProcessId();
    return id;
}

// A fresh temporary name in the target's folder: "~mx<pid>_<n>.tmp", or
// the shorter "~<n>" when the long one would not fit the path buffers;
// false when not even that fits.
static bool TemporaryName(const WidePath& target, WidePath* out) {
    size_t folderLength = target.length;
    while (folderLength > target.rootLength && target.text[folderLength - 1] != L'\\') --folderLength;
    unsigned counter = TemporaryCounter.fetch_add(1);
    char names[2][40];
    snprintf(names[0], sizeof names[0], "~mx%lu_%u.tmp", ProcessId(), counter);
    snprintf(names[1], sizeof names[1], "~%x", counter);
    for (const char* name : names) {
        size_t nameLength = strlen(name);
        if (folderLength + nameLength >= PATH_BUFFER_SIZE) continue;  // as long as the engine's paths, at most
        memcpy(out->text, target.text, folderLength * sizeof(wchar_t));
        for (size_t i = 0; i <= nameLength; ++i) out->text[folderLength + i] = (wchar_t)(unsigned char)name[i];
        out->length = folderLength + nameLength;
        out->rootLength = target.rootLength;
        return true;
    }
    return false;
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

static SysError CopyOneFile(const CopyRequest* request, uint64_t* copied) {
    *copied = 0;
    CopyPaths paths;
    SysError error = ToWide(request->source, &paths.source);
    if (!error) error = ToWide(request->target, &paths.target);
    if (error) return error;

    // Writers are kept out while the copy reads; readers may stay. Someone
    // writing it, or holding it as a game does, may let go in a moment.
    // (Wine may refuse to describe a file just let go of, once.)
    HANDLE from;
    BY_HANDLE_FILE_INFORMATION before;
    HoldWait wait = {};
    for (;;) {
        from = CreateFileW(paths.source.text, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (from == INVALID_HANDLE_VALUE) error = LastError();
        else if (GetFileType(from) != FILE_TYPE_DISK) error = ENGINE_NOT_REGULAR;
        else if (!GetFileInformationByHandle(from, &before)) error = LastError();
        else break;
        if (from != INVALID_HANDLE_VALUE) CloseHandle(from);
        if (!WaitOutHold(&wait, error, false, request->stop)) return HeldOrAbandoned(request, error);
    }
    if (request->stamp && (request->size != (((uint64_t)before.nFileSizeHigh << 32) | before.nFileSizeLow) ||
                           request->stamp != StampOf(before.ftLastWriteTime))) {
        CloseHandle(from);
        return ENGINE_SOURCE_CHANGED;
    }

    // Failing when the name exists keeps a stranger's file of that name, or
    // another copy's temporary file, untouched; the next name is tried
    // instead. Nobody else may open the copy while this handle lives.
    const wchar_t* temporary = paths.temporary.text;
    HANDLE to = INVALID_HANDLE_VALUE;
    for (int attempt = 0; to == INVALID_HANDLE_VALUE; ++attempt) {
        if (!TemporaryName(paths.target, &paths.temporary)) {
            CloseHandle(from);
            return ENGINE_PATH_TOO_LONG;
        }
        to = CreateFileW(temporary, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
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
    CloseHandle(from);
    if (!error) SetFileTime(to, &before.ftCreationTime, &before.ftLastAccessTime, &before.ftLastWriteTime);
    bool closed = false;
    if (!error && !SetInformation()) {
        closed = true;
        if (!CloseHandle(to)) error = LastError();
    }
    if (!error) error = ReplaceTarget(to, &closed, temporary, paths.target, request->stop);
    if (error) {
        Discard(to, closed, temporary);
        return HeldOrAbandoned(request, error);
    }
    // Read-only, hidden and the like come along, once the copy has its
    // name: a failed copy is never read-only when it is deleted. Attributes
    // can be set whoever holds the file.
    DWORD kept = before.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                            FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    if (closed) {
        if (kept) SetFileAttributesW(paths.target.text, kept);
        return 0;
    }
    if (kept) {
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = kept;
        SetInformation()(to, FileBasicInfo, &basic, sizeof basic);
    }
    return CloseHandle(to) ? 0 : LastError();
}

static SysError RemoveFile(const char* path) {
    WidePath wide;
    SysError error = ToWide(path, &wide);
    if (error) return error;
    return DeleteFileW(wide.text) ? 0 : LastError();
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
    if (strlen(out) > PathLimit()) return ENGINE_PATH_TOO_LONG;
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
static SysError AdviseWillNeed(const char*, uint64_t) {
    return 0;
}

const SysCalls PlatformCalls = {
    ListFolder, Examine, OpenForReading, ReadChunk, CloseFile, CreateFolders, MakeOneFolder, CopyOneFile, RemoveFile,
    ResolvePath, AdviseWillNeed, ExamineOpenFile, StartSystemThread, ProbeFolder,
};

SysCalls Sys = PlatformCalls;

// The wide calls take paths far longer than any engine buffer: the limit
// is the engine's own.
size_t PathLimit() {
    return PATH_BUFFER_SIZE - 1;
}

char PathSeparator() {
    return '\\';
}

bool IsPathSeparator(char c) {
    return c == '\\' || c == '/';
}

// The invariant locale's upper case, as the file systems' own tables have
// it, so that a user's locale does not change what matches.
const char* NameAsCompared(const char* name, char* out, size_t outSize) {
    wchar_t wide[PATH_BUFFER_SIZE];
    wchar_t upper[PATH_BUFFER_SIZE];
    if (!WideFromUtf8(name, wide, PATH_BUFFER_SIZE)) return nullptr;
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide, -1, upper, PATH_BUFFER_SIZE) <= 0) return nullptr;
    return Utf8FromWide(upper, out, outSize) ? out : nullptr;
}

bool IsNotFound(SysError error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool IsHeldByOther(SysError error, bool ownName) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_USER_MAPPED_FILE ||
           (ownName && error == ERROR_ACCESS_DENIED);
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
