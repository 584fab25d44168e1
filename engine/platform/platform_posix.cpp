// The engine's platform calls on POSIX systems.
#include "platform_posix.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

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

// POSIX has no mandatory exclusive open; an advisory lock would only stop
// programs that ask for one, so the file is simply opened.
static SysError OpenForReading(const char* path, FileHandle* file) {
    struct stat st;
    SysError error;
    int fd = OpenRegular(path, &st, &error);
    *file = fd < 0 ? INVALID_FILE : (FileHandle)fd;
    return error;
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
    if (length > PosixPathLimit()) return ENGINE_PATH_TOO_LONG;
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
    if (strlen(folder) > PosixPathLimit()) return ENGINE_PATH_TOO_LONG;
    if (mkdir(folder, 0777) == 0) {
        *made = true;
        return 0;
    }
    return MakeFolder(folder);  // says whether what stands there is a folder
}

static SysError RemoveFile(const char* path) {
    return unlink(path) == 0 ? 0 : LastError();
}

static SysError RemoveFolder(const char* folder) {
    return rmdir(folder) == 0 ? 0 : LastError();
}

// flock on the folder's own descriptor: the lock lives with the open file,
// so whatever ends the process ends it too, and a second open, in this
// process or another, is refused it. O_CLOEXEC keeps a started program
// from inheriting it.
static SysError LockFolder(const char* folder, FileHandle* lock) {
    *lock = INVALID_FILE;
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return LastError();
    int locked;
    do locked = flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        SysError error = errno == EWOULDBLOCK ? ENGINE_DESTINATION_BUSY : LastError();
        close(fd);
        return error;
    }
    *lock = (FileHandle)fd;
    return 0;
}

static void UnlockFolder(FileHandle lock) {
    if (lock != INVALID_FILE) close((int)lock);  // the lock goes with the descriptor
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

static bool CountThreadDiskReads(uint64_t* bytes) {
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

static unsigned KeepOpenFiles() {
    static const unsigned keep = [] {
        struct rlimit limit;
        if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return (unsigned)MAX_OPEN_KEPT;
        rlim_t quarter = limit.rlim_cur / 4;
        return quarter < MAX_OPEN_KEPT ? (unsigned)quarter : (unsigned)MAX_OPEN_KEPT;
    }();
    return keep;
}

const SysCalls PlatformCalls = {
    ListFolder, Examine, OpenForReading, ReadFile, CloseFile, CreateFolders, MakeOneFolder, CopyFile, RemoveFile,
    ResolvePath, AdviseWillNeed, ExamineOpenFile, StartSystemThread,
    IsHeldByOther, SystemClockMilliseconds, SystemSleepMilliseconds, ProbeFolder, OpenListed, RemoveFolder,
    OpenTarget, ReadAt, MatchTimes, PosixPathLimit, CountThreadDiskReads, KeepOpenFiles, SystemCoreCount,
    CloseWritten, SetMode, SetTimes,
    LockFolder, UnlockFolder,
};

SysCalls Sys = PlatformCalls;

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
