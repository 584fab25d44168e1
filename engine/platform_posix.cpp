// The engine's platform calls on POSIX systems.
#include "platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

static SysError LastError() {
    return errno ? (SysError)errno : (SysError)EIO;
}

static void Classify(const struct stat& st, FolderEntry* entry) {
    if (S_ISREG(st.st_mode)) {
        entry->kind = ENTRY_FILE;
        entry->size = (uint64_t)st.st_size;
    } else if (S_ISDIR(st.st_mode)) {
        entry->kind = ENTRY_FOLDER;
        entry->id.volume = (uint64_t)st.st_dev;
        entry->id.index = (uint64_t)st.st_ino;
    } else {
        entry->kind = ENTRY_OTHER;
    }
}

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
        FolderEntry entry = {};
        entry.name = found->d_name;
        entry.nameLength = strlen(found->d_name);
        const char* n = found->d_name;
        if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'))) {
            entry.kind = ENTRY_FOLDER;  // the caller skips these; no need to examine them
        } else {
            struct stat st;
            if (fstatat(fd, n, &st, 0) == 0) Classify(st, &entry);
            else {
                entry.kind = ENTRY_BROKEN;
                entry.error = LastError();
            }
        }
        sink(context, &entry);
    }
    closedir(dir);
    return error;
}

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
    if (fd >= 0) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return error;
}

static SysError ReadFile(FileHandle file, void* buffer, size_t size, size_t* got) {
    *got = 0;
    char* at = (char*)buffer;
    while (*got < size) {
        ssize_t n = read((int)file, at + *got, size - *got);
        if (n < 0) {
            if (errno == EINTR) continue;
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

static SysError WriteAll(int fd, const char* data, size_t size) {
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

static SysError CopyContents(int from, int to, uint64_t* copied) {
#if defined(__linux__)
    // In-kernel copy: no trip through user memory.
    for (;;) {
        ssize_t n = copy_file_range(from, nullptr, to, nullptr, 1u << 30, 0);
        if (n > 0) {
            *copied += (uint64_t)n;
            continue;
        }
        if (n == 0) return 0;
        if (errno == EINTR) continue;
        if (*copied == 0 && (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP))
            break;  // not here: copy through a buffer instead
        return LastError();
    }
#endif
    char buffer[64 * 1024];
    for (;;) {
        ssize_t n = read(from, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return LastError();
        }
        if (n == 0) return 0;
        SysError error = WriteAll(to, buffer, (size_t)n);
        if (error) return error;
        *copied += (uint64_t)n;
    }
}

static std::atomic<unsigned> TemporaryCounter;

static SysError CopyFile(const char* source, const char* target, uint64_t* copied) {
    *copied = 0;
    size_t targetLength = strlen(target);
    if (targetLength > PathLimit()) return ENGINE_PATH_TOO_LONG;
    const char* slash = strrchr(target, '/');
    size_t folderLength = slash ? (size_t)(slash - target) + 1 : 0;

    char temporary[PATH_BUFFER_SIZE];
    int written = snprintf(temporary, sizeof temporary, "%.*s.modextract-%ld-%u.tmp", (int)folderLength,
                           target, (long)getpid(), TemporaryCounter.fetch_add(1));
    if (written < 0 || (size_t)written > PathLimit()) return ENGINE_PATH_TOO_LONG;

    struct stat st;
    SysError error;
    int from = OpenRegular(source, &st, &error);
    if (from < 0) return error;
    int to = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (to < 0) {
        error = LastError();
        close(from);
        return error;
    }
    error = CopyContents(from, to, copied);
    if (!error && fchmod(to, st.st_mode & 07777) != 0) error = LastError();
    if (!error) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        futimens(to, times);  // the times are a courtesy; the contents are what counts
    }
    if (close(to) != 0 && !error) error = LastError();
    close(from);
    if (!error && rename(temporary, target) != 0) error = LastError();
    if (error) unlink(temporary);
    return error;
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

const SysCalls PlatformCalls = {
    ListFolder, Examine, OpenForReading, ReadFile, CloseFile, CreateFolders, CopyFile, ResolvePath,
};

SysCalls Sys = PlatformCalls;

size_t PathLimit() {
    size_t limit = PATH_MAX - 1;
    return limit < PATH_BUFFER_SIZE - 1 ? limit : PATH_BUFFER_SIZE - 1;
}

char PathSeparator() {
    return '/';
}

bool IsPathSeparator(char c) {
    return c == '/';
}

bool IsNotFound(SysError error) {
    return error == ENOENT;
}

void DescribeError(SysError error, char* out, size_t outSize) {
    const char* text = EngineErrorText(error);
    snprintf(out, outSize, "%s", text ? text : strerror((int)error));
}
