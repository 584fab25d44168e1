// The engine's only door to the operating system.
//
// Every file-system call of the engine goes through the table `Sys`, which
// starts out holding this platform's real calls (platform_posix.cpp or
// platform_win32.cpp, chosen by the build). Tests replace single entries to
// fail the Nth open, read or copy, and put the table back afterwards.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <thread>

// 0 means success; anything else is the platform's own error number
// (errno on POSIX, GetLastError() on Win32), for DescribeError.
typedef uint32_t SysError;

// Storage size of every path buffer in the engine. The platform's real
// limit, PathLimit(), is never more than PATH_BUFFER_SIZE - 1.
enum { PATH_BUFFER_SIZE = 4096 };

// What a folder entry is, with links followed to what they lead to.
enum EntryKind : uint8_t {
    ENTRY_FILE,    // a regular file, or a link to one
    ENTRY_FOLDER,  // a folder, or a link to one
    ENTRY_OTHER,   // a FIFO, socket or device: never opened
    ENTRY_BROKEN,  // could not be examined (a dangling link, say); see error
};

// Identity of a folder, equal for every path that reaches the same folder.
struct FolderId {
    uint64_t volume;
    uint64_t index;
};

// The size of a file that its listing did not examine: its open handle
// tells (Sys.examineOpenFile).
const uint64_t SIZE_UNKNOWN = UINT64_MAX;

// One entry of a folder listing, valid only during the sink call.
struct FolderEntry {
    const char* name;  // the name alone, NUL-terminated
    size_t nameLength;
    EntryKind kind;
    uint64_t size;     // bytes, for ENTRY_FILE; SIZE_UNKNOWN (see listFolder)
    FolderId id;       // for ENTRY_FOLDER
    SysError error;    // for ENTRY_BROKEN
    uint64_t stamp;    // for ENTRY_FILE: moves whenever the file is written; 0 unknown
    bool link;         // the entry itself is a symbolic link, junction or mount point; `kind`
                       // is what it leads to. A walk that must stay inside a folder never
                       // follows one.
};

// Called once per entry of a listing, "." and ".." included when the
// platform returns them. False ends the listing there: a folder of
// hundreds of thousands of entries takes a second or more to list, and a
// stop must not wait for it.
typedef bool (*EntrySink)(void* context, const FolderEntry* entry);

// One operation's waiting for another program's hold so far:
// zero-initialise it before the first try.
struct HoldWait {
    unsigned waits;
    uint32_t waited;  // milliseconds slept
};

// The engine's policy for holds (holdwait.h), handed down with each copy so
// that the platform calls nothing above it. Called after a try failed with
// `error`; true: try again (it has waited), false: give up with `error`.
// `ownName`: the operation renames or removes a file of ours.
typedef bool (*HoldPolicy)(HoldWait* wait, SysError error, bool ownName, const std::atomic<bool>* stop);

// An open file; INVALID_FILE when none.
typedef intptr_t FileHandle;
const FileHandle INVALID_FILE = -1;

// One copy as the engine asks for it.
struct CopyRequest {
    const char* source;
    const char* target;
    uint64_t size;                 // the source as the comparison saw it;
    uint64_t stamp;                // stamp 0: nothing is expected
    unsigned char* chunk;          // page-aligned, for copies through memory
    size_t chunkSize;
    const std::atomic<bool>* stop; // looked at before every chunk
    HoldPolicy waitOutHold;        // null: a hold fails the copy at once
    // The source already open for reading (its comparison's handle, at any
    // position), which the copy reads from its start and leaves open for
    // the caller to close; false: the copy opens `source` itself.
    bool sourceOpen;
    FileHandle sourceFile;
    // The table through which the copy closes, and sets the mode and times
    // of, the file it writes (&Sys, so that a test can fail those calls);
    // null: the platform's own calls. Handed down rather than looked up,
    // so that the platform's copy needs nothing of the table's home.
    const struct SysCalls* calls;
};

// A file's times in the platform's own units: nanoseconds since 1970 on
// POSIX (where `created` is not set), FILETIME ticks on Win32.
struct FileTimes {
    int64_t created, accessed, written;
};

struct SysCalls {
    // Lists `folder` entry by entry into `sink`. Returns 0 when the whole
    // folder was listed, ENGINE_ABANDONED when the sink ended it early;
    // otherwise the error, after passing on whatever entries came before it.
    // Where the listing itself says an entry is a regular file but asking
    // its size would cost a call per file (POSIX), the entry comes with
    // SIZE_UNKNOWN and stamp 0; where it tells them (Win32), with both.
    SysError (*listFolder)(const char* folder, EntrySink sink, void* context);

    // The identity and kind of what `path` leads to, links followed.
    SysError (*examine)(const char* path, EntryKind* kind, FolderId* id);

    // Opens a regular file for reading, exclusively where the platform can
    // (nobody else may open it meanwhile). Never blocks on a FIFO.
    SysError (*openForReading)(const char* path, FileHandle* file);

    // Reads up to `size` bytes; `*got` is 0 only at the end of the file.
    // Retries short reads, so fewer than `size` bytes means the end.
    SysError (*readFile)(FileHandle file, void* buffer, size_t size, size_t* got);

    void (*closeFile)(FileHandle file);

    // Creates `folder` and every missing folder above it. An existing
    // folder is success; an existing non-folder is an error.
    SysError (*createFolders)(const char* folder);

    // Creates the one folder `folder`; its parent must exist. `*made` tells
    // whether it was made now: an existing folder (links followed) is
    // success with `*made` false, an existing non-folder is an error. On
    // Win32 an existing junction or folder link is ENGINE_OUTSIDE_DATA.
    SysError (*makeFolder)(const char* folder, bool* made);

    // Copies the request's source to its target, replacing an existing
    // file. The copy is written beside the target, unnamed where the file
    // system allows, else under a free temporary name (IsTemporaryName),
    // and renamed over the target when complete, so the target's name never
    // holds a partial copy; on failure nothing of it is left. Fails with
    // ENGINE_SOURCE_CHANGED when the source's size or stamp differ from
    // the request's or moved during the copy, and with ENGINE_ABANDONED
    // when `stop` was raised. Where another program can hold a file (Win32),
    // a hold on the source or the target is waited out as holdwait.h says,
    // and the copy gets its name through its own open handle, so nobody can
    // open it unfinished. `*copied` receives the bytes written. On
    // POSIX the temporary name needs up to 34 bytes after the target's
    // folder and separator: a target whose folder comes closer than that to
    // PathLimit() fails with ENGINE_PATH_TOO_LONG, however short its name.
    SysError (*copyFile)(const CopyRequest* request, uint64_t* copied);

    // Removes the file `path` (not a folder).
    SysError (*removeFile)(const char* path);

    // The absolute form of an existing `path`, links resolved, in `out`.
    SysError (*resolvePath)(const char* path, char* out, size_t outSize);

    // Asks the system to start reading the first `bytes` of the file
    // `path` into memory now, without waiting for it, because it will be
    // read soon. Only a hint: what fails here fails again, and is
    // recorded, when the file is opened for real. Holds the file open for
    // no longer than the call, so an exclusive open later is not refused.
    // `*asked`, when not null, gets the bytes the system was asked to read
    // ahead: no more than `bytes` nor than the file holds (learnt through
    // the open handle, for a file whose listing told no size); 0 when
    // nothing was asked.
    SysError (*adviseWillNeed)(const char* path, uint64_t bytes, uint64_t* asked);

    // The size and stamp of the open file `file`, as a listing gives them:
    // whoever read it can tell whether it moved since it was listed.
    // ENGINE_NOT_REGULAR when it is no regular file (see openListed).
    SysError (*examineOpenFile)(FileHandle file, uint64_t* size, uint64_t* stamp);

    // Starts `body(context)` on a new thread, in `*thread`. False when the
    // system gives no thread (out of memory or address space, a limit
    // reached); the caller goes on with the threads it has, or on its own.
    bool (*startThread)(std::thread* thread, void (*body)(void*), void* context);

    // IsHeldByOther, through the table so that tests of the hold policy
    // can have holds where the platform has none.
    bool (*isHeldByOther)(SysError error, bool ownName);

    // Milliseconds on a clock that only moves forward, from any start.
    uint64_t (*clockMilliseconds)();

    // Sleeps `milliseconds` (or a little longer).
    void (*sleepMilliseconds)(uint32_t milliseconds);

    // Creates a file in the existing folder `folder` and removes it again:
    // whether copies can be written there at all (a read-only or special
    // file system, no right to write), asked before the first copy. The
    // file has no name where the platform allows it (Linux), else the
    // program's temporary pattern (IsTemporaryName) and, where the platform
    // allows it (Win32), goes with its handle, so that nothing is left
    // even when the process is killed meanwhile.
    SysError (*probeFolder)(const char* folder);

    // Sys.openForReading for a file that a listing found regular, without
    // asking again what it is where that costs a call (POSIX): whatever
    // took its place since is still opened without blocking, but a caller
    // asks examineOpenFile, which refuses what is no regular file, before
    // its first read (the listing did not tell the size) or after reading
    // at most the listed size.
    SysError (*openListed)(const char* path, FileHandle* file);

    // Removes the empty folder `folder`; a folder that holds anything, or
    // a file, is an error and stays.
    SysError (*removeFolder)(const char* folder);

    // Opens the existing file `path` that a copy would replace, to see
    // whether it holds the copy's bytes already: the entry itself, never
    // what a link leads to, for reading without keeping others from
    // reading or writing it (on Win32 every sharing is allowed, so that a
    // scanner's or the game's read is not refused), and for setting its
    // times. `*size` receives its size. ENGINE_NOT_REGULAR for a link, a
    // folder or anything else that is no regular file, and for a file of
    // more than one name (a hard link), which may be an input's and is
    // never the job's alone to give times: it is copied anew, which
    // replaces this name only; the platform's own
    // error when it cannot be opened (not found, held by another program).
    SysError (*openTarget)(const char* path, FileHandle* file, uint64_t* size);

    // Reads up to `size` bytes of the open `file` from `offset`, wherever
    // its position stands, which stays. Retries short reads, so fewer than
    // `size` bytes means the end.
    SysError (*readAt)(FileHandle file, uint64_t offset, void* buffer, size_t size, size_t* got);

    // Gives the open `target` (from openTarget) the times that a copy of
    // the open `source` would give it, unless its last write time is the
    // source's already: then nothing is written. `*set` tells which.
    SysError (*matchTimes)(FileHandle target, FileHandle source, bool* set);

    // What PathLimit, ThreadDiskReadBytes and OpenFilesToKeep answer (below),
    // asked here so that tests can answer otherwise.
    size_t (*pathLimit)();
    bool (*threadDiskReadBytes)(uint64_t* bytes);
    unsigned (*openFilesToKeep)();

    // The cores the system runs threads on; 0 when it cannot tell.
    unsigned (*coreCount)();

    // The calls a copy makes on the file it writes, through the table so
    // that a test can fail each one (the platform's copyFile makes them
    // through CopyRequest.calls).
    // Closes a file the engine wrote: a write error that only the close
    // reports (a network share, a quota) fails the copy, since the bytes
    // may never have reached the disk. The handle is gone either way.
    SysError (*closeWritten)(FileHandle file);
    // Gives the open `file` the permission bits (POSIX) or the attributes
    // (Win32, FILE_ATTRIBUTE_*) `mode`.
    SysError (*setMode)(FileHandle file, uint32_t mode);
    // Gives the open `file` the times `times` (see FileTimes).
    SysError (*setTimes)(FileHandle file, const FileTimes* times);

    // Takes this program's hold on the existing folder `folder`, which
    // keeps every other such hold on it out (this process's own included)
    // until unlockFolder, or until the process ends, however it ends: an
    // advisory lock on an open handle, never a file that would have to be
    // removed. ENGINE_DESTINATION_BUSY when another holds it. `*lock` is
    // INVALID_FILE whenever the result is not 0. The folder may still be
    // read, listed and written below while it is held.
    SysError (*lockFolder)(const char* folder, FileHandle* lock);

    // Lets go of a hold that lockFolder took.
    void (*unlockFolder)(FileHandle lock);
};

// The calls in force. Tests may swap entries; nothing else writes it.
extern SysCalls Sys;

// This platform's real calls, to put back what a test swapped.
extern const SysCalls PlatformCalls;

// The real thread start, the same on every platform: the table entry both
// platforms hold.
bool StartSystemThread(std::thread* thread, void (*body)(void*), void* context);

// The real clock, sleep and core count, the same on every platform (platform_shared.cpp).
uint64_t SystemClockMilliseconds();
void SystemSleepMilliseconds(uint32_t milliseconds);
unsigned SystemCoreCount();

// The longest path, in bytes, that this platform's file calls take
// (Sys.pathLimit):
// PATH_BUFFER_SIZE - 1 on Win32 (the wide calls in their long form take
// more), PATH_MAX - 1 on POSIX (capped at PATH_BUFFER_SIZE - 1). Paths are
// UTF-8 on Win32 too; the platform layer alone converts them.
size_t PathLimit();

// True for a name in the pattern of this platform's temporary copies,
// which only this program makes and which a later run may remove. The
// names are made and recognised in tempnames_posix.cpp and
// tempnames_win32.cpp, their shared pattern in tempnames_shared.cpp.
bool IsTemporaryName(const char* name);

// The pattern of both platforms' temporary names, for IsTemporaryName:
// `prefix`, a number, `between`, a number, ".tmp" (the process and a count).
bool HasTemporaryPattern(const char* name, const char* prefix, char between);

// A zero-filled, page-aligned block of `size` bytes for file chunks (the
// kernel copies into aligned memory much faster), or null. Its pages take
// memory only once written, so chunks that only see small files stay
// small. Free with FreeChunk, which accepts null.
unsigned char* AllocateChunk(size_t size);
void FreeChunk(unsigned char* chunk);

// Bytes the calling thread has had read from a disk so far (Sys.threadDiskReadBytes), in `*bytes`,
// where the platform counts them (Linux): reads served from memory add
// nothing. False where it does not (the engine then times its reads).
bool ThreadDiskReadBytes(uint64_t* bytes);

// How many files the engine may keep open for later (Sys.openFilesToKeep) beside those it reads
// at the moment: a quarter of the process's descriptor limit on POSIX
// (asked once), at most MAX_OPEN_KEPT; MAX_OPEN_KEPT on Win32, which has
// no such limit worth the name.
enum { MAX_OPEN_KEPT = 1024 };
unsigned OpenFilesToKeep();

// The platform's part of AbsolutePath (paths.h), the root forms
// (rootpath_posix.cpp, rootpath_win32.cpp): the
// absolute folder that the start of `path` stands for, in `base`
// (`baseSize` bytes), and in `*taken` how many characters of `path` it
// stands for; the rest of `path` is names below it. `*taken` is the whole
// path for a form kept as written ("\\?\...").
SysError PathBase(const char* path, char* base, size_t baseSize, size_t* taken);

// The separator that joins a folder and a name: '\\' on Win32, '/' on POSIX.
char PathSeparator();

// True for the separators this platform accepts in a path it is given.
bool IsPathSeparator(char c);

// `name` (NUL-terminated UTF-8) in the form in which this platform tells
// names apart, for matching names against patterns: on POSIX, where names
// differ in every byte, `name` itself; on Win32, where letter case does not
// tell names apart, its upper-case form, written to `out` (`outSize`
// bytes) and returned. Null when that form cannot be had (not UTF-8, or
// longer than `out`).
const char* NameAsCompared(const char* name, char* out, size_t outSize);

// True when `error` says that the path does not exist.
bool IsNotFound(SysError error);

// True when `error` says that another program has the file open in a way
// that keeps this one out, which ends when that program lets go: a
// sharing or lock violation, a mapped section, and, where `ownName` (the
// rename or removal of a file of ours, or the replacing of a target), an
// access denied. Never on POSIX, where opens do not exclude each other.
bool IsHeldByOther(SysError error, bool ownName);

// A short human text for `error`, such as "Permission denied"; engine
// error numbers included.
void DescribeError(SysError error, char* out, size_t outSize);

// Error numbers the engine itself raises, outside the platforms' ranges
// (bit 29 is the Win32 "customer" bit; errno values are small).
enum : SysError {
    ENGINE_PATH_TOO_LONG = 0x20000001u,
    ENGINE_OUT_OF_MEMORY = 0x20000002u,
    ENGINE_LINK_LOOP = 0x20000003u,
    ENGINE_NOT_REGULAR = 0x20000004u,
    ENGINE_NOT_A_FOLDER = 0x20000005u,
    ENGINE_OUTSIDE_DATA = 0x20000006u,
    ENGINE_SOURCE_CHANGED = 0x20000007u,
    ENGINE_ABANDONED = 0x20000008u,
    ENGINE_DATA_IN_INPUT = 0x20000009u,
    ENGINE_DATA_HOLDS_INPUT = 0x2000000Au,
    ENGINE_LEADS_NOWHERE = 0x2000000Bu,
    ENGINE_NAME_CLASH = 0x2000000Cu,
    ENGINE_FOLDER_IN_THE_WAY = 0x2000000Du,
    ENGINE_DESTINATION_BUSY = 0x20000010u,
};

// The text of an engine error number, or null for a platform one.
const char* EngineErrorText(SysError error);
