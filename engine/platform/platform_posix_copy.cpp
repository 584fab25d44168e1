// Copies on POSIX: into an unnamed file beside the target where the file
// system has them, else under a temporary name, named when whole. The
// temporary names are made and recognised in tempnames_posix.cpp.
#include "platform_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

// O_NONBLOCK keeps a FIFO that took a file's place since the listing from
// blocking the open; regular files ignore the flag.
int OpenRegular(const char* path, struct stat* st, SysError* error) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        *error = LastError();
        return -1;
    }
    *error = 0;
    if (fstat(fd, st) != 0) *error = LastError();
    else if (!S_ISREG(st->st_mode)) *error = ENGINE_NOT_REGULAR;
    if (*error) {
        close(fd);
        return -1;
    }
    return fd;
}

// A file the listing found regular is opened as it is: its status query
// (examineOpenFile) comes before its first read, since the listing left
// the size to it, or with a listed size after its last read, and refuses
// whatever took its place. O_NONBLOCK keeps a FIFO from blocking the open
// and its reads; a folder's reads fail (ENGINE_NOT_REGULAR, see ReadFile).
SysError OpenListed(const char* path, FileHandle* file) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    *file = fd < 0 ? INVALID_FILE : (FileHandle)fd;
    return fd < 0 ? LastError() : 0;
}

static int64_t Nanoseconds(const struct timespec& at) {
    return (int64_t)at.tv_sec * 1000000000 + at.tv_nsec;
}

static SysError WriteAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return LastError();
        }
        data += n;
        size -= (size_t)n;
    }
    return 0;
}

// Steps of the in-kernel copy: short enough that a stop is noticed soon.
static const size_t COPY_STEP = 8u << 20;

// Copies the first `size` bytes, in the kernel where it can, else through
// the chunk; from the start of `from` wherever its position stands (a
// comparison may have read it).
static SysError CopyContents(int from, int to, uint64_t size, const CopyRequest* request, uint64_t* copied) {
    bool inKernel = true;
    while (*copied < size) {
        if (request->stop && request->stop->load(std::memory_order_relaxed)) return ENGINE_ABANDONED;
        uint64_t left = size - *copied;
        ssize_t n;
        if (inKernel) {
#if defined(__linux__)
            loff_t at = (loff_t)*copied;
            n = copy_file_range(from, &at, to, nullptr, left < COPY_STEP ? (size_t)left : COPY_STEP, 0);
            if (n < 0 && *copied == 0 &&
                (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP)) {
                inKernel = false;  // not here: copy through the chunk instead
                continue;
            }
#else
            inKernel = false;
            continue;
#endif
        } else {
            n = pread(from, request->chunk, left < request->chunkSize ? (size_t)left : request->chunkSize,
                      (off_t)*copied);
            if (n > 0) {
                SysError error = WriteAll(to, request->chunk, (size_t)n);
                if (error) return error;
            }
        }
        if (n < 0) {
            if (errno == EINTR) continue;
            return LastError();
        }
        if (n == 0) return ENGINE_SOURCE_CHANGED;  // it shrank under the copy
        *copied += (uint64_t)n;
    }
    return 0;
}

enum { MAX_NAME_ATTEMPTS = 1000 };

// Sys.probeFolder: where the file system has no unnamed files, a file
// under the copies' own temporary names, so that a run after a crash here
// removes what is left.
SysError ProbeFolder(const char* folder) {
    char base[PATH_BUFFER_SIZE];
    size_t length = strlen(folder);
    if (length + 1 >= sizeof base) return ENGINE_PATH_TOO_LONG;
    memcpy(base, folder, length);
    if (length == 0 || base[length - 1] != '/') base[length++] = '/';
#if defined(O_TMPFILE)
    // Unnamed, the probe is gone with its descriptor, whatever ends the process.
    int unnamed = open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (unnamed >= 0) {
        close(unnamed);
        return 0;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return LastError();
#endif
    char probe[PATH_BUFFER_SIZE];
    for (int attempt = 0; attempt < MAX_NAME_ATTEMPTS; ++attempt) {
        if (!TemporaryName(base, length, probe)) return ENGINE_PATH_TOO_LONG;
        int fd = open(probe, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return LastError();
        close(fd);
        return unlink(probe) == 0 ? 0 : LastError();
    }
    return EEXIST;
}

// False once the file system or a missing /proc refused an unnamed file.
static std::atomic<bool> UnnamedUsable{true};

// Opens the copy's file: unnamed in the target's folder where the file
// system allows (nothing of it survives a crash), else under a free
// temporary name, written to `temporary`; "" for an unnamed one.
static int OpenCopy(const char* target, size_t folderLength, char* temporary, SysError* error) {
    temporary[0] = '\0';
#if defined(O_TMPFILE)
    if (UnnamedUsable.load(std::memory_order_relaxed)) {
        char folder[PATH_BUFFER_SIZE];
        memcpy(folder, target, folderLength);
        folder[folderLength] = '\0';
        // Unnamed, nobody can read it unfinished: it is made with the mode
        // most copies end with.
        int fd = open(folderLength ? folder : ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0) return fd;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            *error = LastError();
            return -1;
        }
        UnnamedUsable.store(false, std::memory_order_relaxed);
    }
#endif
    for (int attempt = 0; attempt < MAX_NAME_ATTEMPTS; ++attempt) {
        if (!TemporaryName(target, folderLength, temporary)) {
            *error = ENGINE_PATH_TOO_LONG;
            return -1;
        }
        int fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;  // a taken name: a leftover or a stranger's file, left alone
    }
    *error = LastError();
    temporary[0] = '\0';
    return -1;
}

// Gives the finished unnamed file `fd` a free temporary name.
static SysError NameCopy(int fd, const char* target, size_t folderLength, char* temporary) {
    char self[64];
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    for (int attempt = 0; attempt < MAX_NAME_ATTEMPTS; ++attempt) {
        if (!TemporaryName(target, folderLength, temporary)) return ENGINE_PATH_TOO_LONG;
        if (linkat(AT_FDCWD, self, AT_FDCWD, temporary, AT_SYMLINK_FOLLOW) == 0) return 0;
        if (errno != EEXIST) break;
    }
    SysError error = LastError();
    temporary[0] = '\0';
    if (error == ENOENT) UnnamedUsable.store(false, std::memory_order_relaxed);  // no /proc
    return error;
}

// The mode the process's umask leaves of 0666, which an unnamed copy is
// created with: the mode most sources have, so that most copies need no
// fchmod. Read once; where /proc does not say, the copies are given their
// mode by fchmod, as a mode never matches ~0.
static mode_t CreatedMode() {
    static const mode_t mode = [] {
        mode_t created = (mode_t)~0u;
        if (FILE* status = fopen("/proc/self/status", "re")) {
            char line[128];
            unsigned mask;
            while (fgets(line, sizeof line, status))
                if (sscanf(line, "Umask: %o", &mask) == 1) created = 0666 & ~(mode_t)mask;
            fclose(status);
        }
        return created;
    }();
    return mode;
}

// Gives the finished unnamed file `fd` the target's name straight away
// where no file has it yet; `*named` tells whether it did. Otherwise the
// temporary name, then a rename over the target, see NameCopy.
static SysError LinkToTarget(int fd, const char* target, bool* named) {
    char self[64];
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    *named = linkat(AT_FDCWD, self, AT_FDCWD, target, AT_SYMLINK_FOLLOW) == 0;
    if (*named || errno == EEXIST) return 0;
    SysError error = LastError();
    if (error == ENOENT) {  // no /proc, or the target's folder went: NameCopy tells which
        return 0;
    }
    return error;
}

// The calls a copy makes where its request names no table.
static SysCalls MakeOwnCalls() {
    SysCalls calls = {};
    calls.closeWritten = CloseWritten;
    calls.setMode = SetMode;
    calls.setTimes = SetTimes;
    return calls;
}
static const SysCalls OwnCalls = MakeOwnCalls();

SysError CopyFile(const CopyRequest* request, uint64_t* copied) {
    *copied = 0;
    const char* target = request->target;
    if (strlen(target) > PosixPathLimit()) return ENGINE_PATH_TOO_LONG;
    const char* slash = strrchr(target, '/');
    size_t folderLength = slash ? (size_t)(slash - target) + 1 : 0;

    // With a size and stamp expected (listed, or seen by the comparison
    // whose handle this is), the one status query of the source comes
    // after its last read, which tells whether it is still that file;
    // without, it is asked before as well.
    struct stat before;
    bool asked = !request->sourceOpen && !request->stamp;
    SysError error = 0;
    int from;
    FileHandle opened = INVALID_FILE;
    if (request->sourceOpen) from = (int)request->sourceFile;
    else if (asked) from = OpenRegular(request->source, &before, &error);
    else from = (error = OpenListed(request->source, &opened)) ? -1 : (int)opened;
    if (from < 0) return error;
    uint64_t size = asked ? (uint64_t)before.st_size : request->size;
    uint64_t stamp = asked ? StampOf(before) : request->stamp;
    char temporary[PATH_BUFFER_SIZE];
    int to = OpenCopy(target, folderLength, temporary, &error);
    if (!error) error = CopyContents(from, to, size, request, copied);
    struct stat after;
    if (fstat(from, &after) != 0) {
        if (!error) error = LastError();
    } else if (!S_ISREG(after.st_mode)) {
        error = ENGINE_NOT_REGULAR;
    } else if (!error && ((uint64_t)after.st_size != size || StampOf(after) != stamp)) {
        error = ENGINE_SOURCE_CHANGED;
    }
    if (!request->sourceOpen) close(from);
    if (to < 0) return error;
    bool unnamed = !temporary[0];
    const SysCalls* calls = request->calls ? request->calls : &OwnCalls;
    if (!error && (!unnamed || (after.st_mode & 07777) != CreatedMode()))
        error = calls->setMode((FileHandle)to, after.st_mode & 07777);
    if (!error) {
        FileTimes times = {0, Nanoseconds(after.st_atim), Nanoseconds(after.st_mtim)};
        calls->setTimes((FileHandle)to, &times);  // the times are a courtesy; the contents are what counts
    }
    bool named = false;
    if (!error && unnamed) error = LinkToTarget(to, target, &named);
    if (!error && unnamed && !named) {
        error = NameCopy(to, target, folderLength, temporary);
        if (error == ENOENT) {  // no /proc to name it by: once more the named way
            close(to);
            return CopyFile(request, copied);
        }
    }
    SysError closing = calls->closeWritten((FileHandle)to);
    if (!error) error = closing;
    if (!error && !named && rename(temporary, target) != 0) error = LastError();
    if (error && temporary[0]) unlink(temporary);
    if (error && named) unlink(target);  // a copy that failed after naming: none of it stays
    return error;
}

// O_NOFOLLOW: a link in the target's place is replaced by the copy, never
// read through; O_NONBLOCK keeps a FIFO from blocking the open. A file of
// more than one name is refused like a link: its other name may be an
// input's.
SysError OpenTarget(const char* path, FileHandle* file, uint64_t* size) {
    *file = INVALID_FILE;
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return errno == ELOOP ? ENGINE_NOT_REGULAR : LastError();
    struct stat st;
    SysError error = 0;
    if (fstat(fd, &st) != 0) error = LastError();
    else if (!S_ISREG(st.st_mode) || st.st_nlink > 1) error = ENGINE_NOT_REGULAR;
    if (error) {
        close(fd);
        return error;
    }
    *size = (uint64_t)st.st_size;
    *file = (FileHandle)fd;
    return 0;
}

SysError ReadAt(FileHandle file, uint64_t offset, void* buffer, size_t size, size_t* got) {
    *got = 0;
    char* at = (char*)buffer;
    while (*got < size) {
        ssize_t n = pread((int)file, at + *got, size - *got, (off_t)(offset + *got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno == EISDIR ? ENGINE_NOT_REGULAR : LastError();
        }
        if (n == 0) break;
        *got += (size_t)n;
    }
    return 0;
}

// The times CopyFile gives a copy: the source's access and modification times.
SysError MatchTimes(FileHandle target, FileHandle source, bool* set) {
    *set = false;
    struct stat from, to;
    if (fstat((int)source, &from) != 0 || fstat((int)target, &to) != 0) return LastError();
    if (from.st_mtim.tv_sec == to.st_mtim.tv_sec && from.st_mtim.tv_nsec == to.st_mtim.tv_nsec) return 0;
    FileTimes times = {0, Nanoseconds(from.st_atim), Nanoseconds(from.st_mtim)};
    if (SysError error = SetTimes(target, &times)) return error;
    *set = true;
    return 0;
}

SysError CloseWritten(FileHandle file) {
    // A close interrupted by a signal has closed the descriptor all the
    // same on Linux: it is never closed twice.
    return close((int)file) == 0 || errno == EINTR ? 0 : LastError();
}

SysError SetMode(FileHandle file, uint32_t mode) {
    return fchmod((int)file, (mode_t)mode) == 0 ? 0 : LastError();
}

static struct timespec Timespec(int64_t nanoseconds) {
    int64_t seconds = nanoseconds / 1000000000;
    int64_t rest = nanoseconds % 1000000000;
    if (rest < 0) {  // before 1970: the nanoseconds of a timespec never go below 0
        rest += 1000000000;
        --seconds;
    }
    struct timespec at;
    at.tv_sec = (time_t)seconds;
    at.tv_nsec = (long)rest;
    return at;
}

SysError SetTimes(FileHandle file, const FileTimes* times) {
    struct timespec both[2] = {Timespec(times->accessed), Timespec(times->written)};
    return futimens((int)file, both) == 0 ? 0 : LastError();
}
