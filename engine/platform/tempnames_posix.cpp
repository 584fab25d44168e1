// A copy's temporary names on POSIX: ".modextract-<pid>-<n>.tmp" beside
// its target (TemporaryName), and the test for that pattern by which a
// later run finds and removes what a killed one left (IsTemporaryName).
// The copy that makes, renames and removes them is platform_posix_copy.cpp.
#include "platform_posix.h"

#include <stdio.h>
#include <unistd.h>

#include <atomic>

static std::atomic<unsigned> TemporaryCounter;

// Asked once: the process id names every temporary file of this run.
static long ProcessId() {
    static const long id = (long)getpid();
    return id;
}

bool TemporaryName(const char* folder, size_t folderLength, char* out) {
    int written = snprintf(out, PATH_BUFFER_SIZE, "%.*s.modextract-%ld-%u.tmp", (int)folderLength, folder,
                           ProcessId(), TemporaryCounter.fetch_add(1));
    return written >= 0 && (size_t)written <= PosixPathLimit();
}

bool IsTemporaryName(const char* name) {
    return HasTemporaryPattern(name, ".modextract-", '-');
}
