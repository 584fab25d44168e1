// Paths on POSIX: the platform resolves them. Names differ in every byte
// (NameAsCompared, in namecase_posix.cpp).
#include "platform_posix.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

SysError ResolvePath(const char* path, char* out, size_t outSize) {
    char* resolved = realpath(path, nullptr);
    if (!resolved) return LastError();
    size_t length = strlen(resolved);
    SysError error = 0;
    if (length >= outSize) error = ENGINE_PATH_TOO_LONG;
    else memcpy(out, resolved, length + 1);
    free(resolved);
    return error;
}

size_t PosixPathLimit() {
    size_t limit = PATH_MAX - 1;
    return limit < PATH_BUFFER_SIZE - 1 ? limit : PATH_BUFFER_SIZE - 1;
}

char PathSeparator() {
    return '/';
}

bool IsPathSeparator(char c) {
    return c == '/';
}

SysError LastError() {
    return errno ? (SysError)errno : (SysError)EIO;
}

// Moves on every write: the modification time, and the change time, which
// nobody can set back.
uint64_t StampOf(const struct stat& st) {
    uint64_t modified = (uint64_t)st.st_mtim.tv_sec * 1000000000u + (uint64_t)st.st_mtim.tv_nsec;
    uint64_t changed = (uint64_t)st.st_ctim.tv_sec * 1000000000u + (uint64_t)st.st_ctim.tv_nsec;
    return (modified * 31u + changed) | 1u;  // never 0, which means unknown
}
