// The engine's platform calls on POSIX systems.
#include "platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

static SysError LastError() {
    return errno ? (SysError)errno : (SysError)EIO;
}

// Moves on every write: the modification time, and the change time, which
// nobody can set back.
static uint64_t StampOf(const struct stat& st) {
    uint64_t modified = (uint64_t)st.st_mtim.tv_sec * 1000000000u + (uint64_t)st.st_mtim.tv_nsec;
    uint64_t changed = (uint64_t)st.st_ctim.tv_sec * 1000000000u + (uint64_t)st.st_ctim.tv_nsec;
    return (modified * 31u + changed) | 1u;  // never 0, which means unknown
}

static void Classify(const struct stat& st, FolderEntry* entry) {
    if (S_ISREG(st.st_mode)) {
        entry->kind = ENTRY_FILE;
        entry->size = (uint64_t)st.st_size;
        entry->stamp = StampOf(st);
    } else if (S_ISDIR(st.st_mode)) {
        entry->kind = ENTRY_FOLDER;
        entry->id.volume = (uint64_t)st.st_dev;
        entry->id.index = (uint64_t)st.st_ino;
    } else {
        entry->kind = ENTRY_OTHER;
    }
}

// One entry of a listing, examined (links followed) relative to the open
// folder `fd`, unless its type (`type`, DT_*) says it is a regular file:
// asking each file's size here would look its name up once more, the
// dearest part of a listing, and its open handle tells the same later.
// Folders are examined for their identity, links for what they lead to.
// False: the sink ended the listing.
static bool PassEntry(int fd, const char* name, unsigned char type, EntrySink sink, void* context) {
    FolderEntry entry = {};
    entry.name = name;
    entry.nameLength = strlen(name);
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
        entry.kind = ENTRY_FOLDER;  // the caller skips these; no need to examine them
    } else if (type == DT_REG) {
        entry.kind = ENTRY_FILE;
        entry.size = SIZE_UNKNOWN;
    } else {
        // Where the listing does not tell the type, the entry itself is
        // asked first: whether it is a link, and all of it when it is not.
        struct stat st;
        int looked = 1;
        if (type == DT_UNKNOWN) {
            looked = fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW);
            entry.link = looked == 0 && S_ISLNK(st.st_mode);
        } else {
            entry.link = type == DT_LNK;
        }
        if ((looked == 0 && !entry.link) || fstatat(fd, name, &st, 0) == 0) Classify(st, &entry);
        else {
            entry.kind = ENTRY_BROKEN;
            entry.error = LastError();
        }
    }
    return sink(context, &entry);
}

#if defined(__linux__)
// The folder's entries straight from the kernel: opendir would ask the
// folder's status once more, a call per folder that nobody needs.
static SysError ListFolder(const char* folder, EntrySink sink, void* context) {
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return LastError();
    alignas(struct dirent64) char buffer[32768];
    SysError error = 0;
    for (;;) {
        ssize_t got = getdents64(fd, buffer, sizeof buffer);
        if (got <= 0) {
            if (got < 0) error = LastError();
            break;
        }
        for (ssize_t at = 0; at < got && !error;) {
            const struct dirent64* found = (const struct dirent64*)(buffer + at);
            at += found->d_reclen;
            if (!PassEntry(fd, found->d_name, found->d_type, sink, context)) error = ENGINE_ABANDONED;
        }
        if (error) break;
    }
    close(fd);
    return error;
}
#else
static SysError ListFolder(const char* folder, EntrySink sink, void* context) {
    DIR* dir = opendir(folder);
    if (!dir) return LastError();
    int fd = dirfd(dir);
    SysError error = 0;
    for (;;) {
        errno = 0;
        struct dirent* found = readdir(dir);
        if (!found) {
            error = errno;
            break;
        }
        if (!PassEntry(fd, found->d_name, found->d_type, sink, context)) {
            error = ENGINE_ABANDONED;
            break;
        }
    }
    closedir(dir);
    return error;
}
#endif

static SysError Examine(const char* path, EntryKind* kind, FolderId* id) {
    struct stat st;
    if (stat(path, &st) != 0) return LastError();
    FolderEntry entry = {};
    Classify(st, &entry);
    *kind = entry.kind;
    *id = entry.id;
    return 0;
}

// O_NONBLOCK keeps a FIFO that took a file's place since the listing from
// blocking the open; regular files ignore the flag.
static int OpenRegular(const char* path, struct stat* st, SysError* error) {
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

// POSIX has no mandatory exclusive open; an advisory lock would only stop
// programs that ask for one, so the file is simply opened.
static SysError OpenForReading(const char* path, FileHandle* file) {
    struct stat st;
    SysError error;
    int fd = OpenRegular(path, &st, &error);
    *file = fd < 0 ? INVALID_FILE : (FileHandle)fd;
    return error;
}

// A file the listing found regular is opened as it is: its status query
// (examineOpenFile) comes before its first read, since the listing left
// the size to it, or with a listed size after its last read, and refuses
// whatever took its place. O_NONBLOCK keeps a FIFO from blocking the open
// and its reads; a folder's reads fail (ENGINE_NOT_REGULAR, see ReadFile).
static SysError OpenListed(const char* path, FileHandle* file) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    *file = fd < 0 ? INVALID_FILE : (FileHandle)fd;
    return fd < 0 ? LastError() : 0;
}

static SysError ReadFile(FileHandle file, void* buffer, size_t size, size_t* got) {
    *got = 0;
    char* at = (char*)buffer;
    while (*got < size) {
        ssize_t n = read((int)file, at + *got, size - *got);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EISDIR) return ENGINE_NOT_REGULAR;  // opened by OpenListed
            return LastError();
        }
        if (n == 0) break;
        *got += (size_t)n;
    }
    return 0;
}

static void CloseFile(FileHandle file) {
    close((int)file);
}

static SysError ExamineOpenFile(FileHandle file, uint64_t* size, uint64_t* stamp) {
    struct stat st;
    if (fstat((int)file, &st) != 0) return LastError();
    if (!S_ISREG(st.st_mode)) return ENGINE_NOT_REGULAR;
    *size = (uint64_t)st.st_size;
    *stamp = StampOf(st);
    return 0;
}

static SysError MakeFolder(const char* folder) {
    if (mkdir(folder, 0777) == 0) return 0;
    SysError error = LastError();
    if (error == EEXIST) {
        struct stat st;
        if (stat(folder, &st) == 0 && S_ISDIR(st.st_mode)) return 0;
        return ENGINE_NOT_A_FOLDER;
    }
    return error;
}

static SysError CreateFolders(const char* folder) {
    size_t length = strlen(folder);
    if (length > PathLimit()) return ENGINE_PATH_TOO_LONG;
    SysError error = MakeFolder(folder);
    if (error != ENOENT) return error;

    // Some folder above is missing: make the chain from the top down.
    char path[PATH_BUFFER_SIZE];
    memcpy(path, folder, length + 1);
    for (size_t i = 1; i < length; ++i) {
        if (path[i] != '/' || path[i - 1] == '/') continue;
        path[i] = '\0';
        error = MakeFolder(path);
        path[i] = '/';
        if (error) return error;
    }
    return MakeFolder(path);
}

static SysError MakeOneFolder(const char* folder, bool* made) {
    *made = false;
    if (strlen(folder) > PathLimit()) return ENGINE_PATH_TOO_LONG;
    if (mkdir(folder, 0777) == 0) {
        *made = true;
        return 0;
    }
    return MakeFolder(folder);  // says whether what stands there is a folder
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

static std::atomic<unsigned> TemporaryCounter;

// Asked once: the process id names every temporary file of this run.
static long ProcessId() {
    static const long id = (long)getpid();
    return id;
}

// The next temporary name in `folder` (its first `folderLength` characters).
static bool TemporaryName(const char* folder, size_t folderLength, char* out) {
    int written = snprintf(out, PATH_BUFFER_SIZE, "%.*s.modextract-%ld-%u.tmp", (int)folderLength, folder,
                           ProcessId(), TemporaryCounter.fetch_add(1));
    return written >= 0 && (size_t)written <= PathLimit();
}

bool IsTemporaryName(const char* name) {
    return HasTemporaryPattern(name, ".modextract-", '-');
}

enum { MAX_NAME_ATTEMPTS = 1000 };

// Sys.probeFolder: where the file system has no unnamed files, a file
// under the copies' own temporary names, so that a run after a crash here
// removes what is left.
static SysError ProbeFolder(const char* folder) {
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

static SysError CopyFile(const CopyRequest* request, uint64_t* copied) {
    *copied = 0;
    const char* target = request->target;
    if (strlen(target) > PathLimit()) return ENGINE_PATH_TOO_LONG;
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
    if (!error && (!unnamed || (after.st_mode & 07777) != CreatedMode()) && fchmod(to, after.st_mode & 07777) != 0)
        error = LastError();
    if (!error) {
        struct timespec times[2] = {after.st_atim, after.st_mtim};
        futimens(to, times);  // the times are a courtesy; the contents are what counts
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
    if (close(to) != 0 && !error) error = LastError();
    if (!error && !named && rename(temporary, target) != 0) error = LastError();
    if (error && temporary[0]) unlink(temporary);
    if (error && named) unlink(target);  // a copy that failed after naming: none of it stays
    return error;
}

// O_NOFOLLOW: a link in the target's place is replaced by the copy, never
// read through; O_NONBLOCK keeps a FIFO from blocking the open.
static SysError OpenTarget(const char* path, FileHandle* file, uint64_t* size) {
    *file = INVALID_FILE;
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return errno == ELOOP ? ENGINE_NOT_REGULAR : LastError();
    struct stat st;
    SysError error = 0;
    if (fstat(fd, &st) != 0) error = LastError();
    else if (!S_ISREG(st.st_mode)) error = ENGINE_NOT_REGULAR;
    if (error) {
        close(fd);
        return error;
    }
    *size = (uint64_t)st.st_size;
    *file = (FileHandle)fd;
    return 0;
}

static SysError ReadAt(FileHandle file, uint64_t offset, void* buffer, size_t size, size_t* got) {
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
static SysError MatchTimes(FileHandle target, FileHandle source, bool* set) {
    *set = false;
    struct stat from, to;
    if (fstat((int)source, &from) != 0 || fstat((int)target, &to) != 0) return LastError();
    if (from.st_mtim.tv_sec == to.st_mtim.tv_sec && from.st_mtim.tv_nsec == to.st_mtim.tv_nsec) return 0;
    struct timespec times[2] = {from.st_atim, from.st_mtim};
    if (futimens((int)target, times) != 0) return LastError();
    *set = true;
    return 0;
}

static SysError RemoveFile(const char* path) {
    return unlink(path) == 0 ? 0 : LastError();
}

static SysError RemoveFolder(const char* folder) {
    return rmdir(folder) == 0 ? 0 : LastError();
}

static size_t PageSize() {
    long page = sysconf(_SC_PAGESIZE);
    return page > 0 ? (size_t)page : 4096;
}

// Mapped, not taken from the heap: the system hands the pages out zeroed
// and makes them memory only when first written, so a chunk that only ever
// holds small files costs a page or two, and unmapping gives it all back.
// The page in front keeps the mapping's size for FreeChunk.
unsigned char* AllocateChunk(size_t size) {
    size_t page = PageSize();
    if (size > SIZE_MAX - page) return nullptr;
    void* block = mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return nullptr;
    *(size_t*)block = size + page;
    return (unsigned char*)block + page;
}

void FreeChunk(unsigned char* chunk) {
    if (!chunk) return;
    unsigned char* block = chunk - PageSize();
    munmap(block, *(size_t*)block);
}

static SysError ResolvePath(const char* path, char* out, size_t outSize) {
    char* resolved = realpath(path, nullptr);
    if (!resolved) return LastError();
    size_t length = strlen(resolved);
    SysError error = 0;
    if (length >= outSize) error = ENGINE_PATH_TOO_LONG;
    else memcpy(out, resolved, length + 1);
    free(resolved);
    return error;
}

// The pages are asked for and the file closed at once: the kernel reads on
// by itself, and the comparison's own open finds them in memory.
static SysError AdviseWillNeed(const char* path, uint64_t bytes, uint64_t* asked) {
    if (asked) *asked = 0;
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return LastError();
    struct stat st;
    if (asked && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (uint64_t)st.st_size < bytes)
        bytes = (uint64_t)st.st_size;
    int error = 0;  // a length of 0 would ask for the whole file
    if (bytes > 0) error = posix_fadvise(fd, 0, (off_t)bytes, POSIX_FADV_WILLNEED);  // ESPIPE for a FIFO
    close(fd);
    if (asked && error == 0) *asked = bytes;
    return (SysError)error;
}

const SysCalls PlatformCalls = {
    ListFolder, Examine, OpenForReading, ReadFile, CloseFile, CreateFolders, MakeOneFolder, CopyFile, RemoveFile,
    ResolvePath, AdviseWillNeed, ExamineOpenFile, StartSystemThread,
    IsHeldByOther, SystemClockMilliseconds, SystemSleepMilliseconds, ProbeFolder, OpenListed, RemoveFolder,
    OpenTarget, ReadAt, MatchTimes,
};

SysCalls Sys = PlatformCalls;

size_t PathLimit() {
    size_t limit = PATH_MAX - 1;
    return limit < PATH_BUFFER_SIZE - 1 ? limit : PATH_BUFFER_SIZE - 1;
}

bool ThreadDiskReadBytes(uint64_t* bytes) {
#if defined(RUSAGE_THREAD)
    struct rusage usage;
    if (getrusage(RUSAGE_THREAD, &usage) != 0) return false;
    *bytes = (uint64_t)usage.ru_inblock * 512u;  // counted in blocks of 512 bytes
    return true;
#else
    (void)bytes;
    return false;
#endif
}

unsigned OpenFilesToKeep() {
    static const unsigned keep = [] {
        struct rlimit limit;
        if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return (unsigned)MAX_OPEN_KEPT;
        rlim_t quarter = limit.rlim_cur / 4;
        return quarter < MAX_OPEN_KEPT ? (unsigned)quarter : (unsigned)MAX_OPEN_KEPT;
    }();
    return keep;
}

char PathSeparator() {
    return '/';
}

bool IsPathSeparator(char c) {
    return c == '/';
}

const char* NameAsCompared(const char* name, char*, size_t) {
    return name;
}

bool IsNotFound(SysError error) {
    return error == ENOENT;
}

bool IsHeldByOther(SysError, bool) {
    return false;
}

void DescribeError(SysError error, char* out, size_t outSize) {
    const char* text = EngineErrorText(error);
    snprintf(out, outSize, "%s", text ? text : strerror((int)error));
}
