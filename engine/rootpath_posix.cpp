// The POSIX part of taking a root: the current folder, and the probe of a
// folder that copies will be written into.
#include "rootpath.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>

SysError PathBase(const char* path, char* base, size_t baseSize, size_t* taken) {
    if (path[0] == '/') {
        if (baseSize < 2) return ENGINE_PATH_TOO_LONG;
        memcpy(base, "/", 2);
        *taken = 1;
        return 0;
    }
    *taken = 0;
    if (!getcwd(base, baseSize)) return errno == ERANGE ? ENGINE_PATH_TOO_LONG : (SysError)errno;
    return 0;
}

// Numbers of probe files, apart from the copies' own: a probe name is only
// ever created exclusively, so a clash costs another try.
static std::atomic<unsigned> ProbeCounter{0x70000000u};

SysError ProbeFolder(const char* folder) {
    char probe[PATH_BUFFER_SIZE];
    for (int attempt = 0; attempt < 100; ++attempt) {
        int written = snprintf(probe, sizeof probe, "%s%s.modextract-%ld-%u.tmp", folder,
                               folder[0] && folder[strlen(folder) - 1] == '/' ? "" : "/", (long)getpid(),
                               ProbeCounter.fetch_add(1));
        if (written < 0 || (size_t)written > PathLimit()) return ENGINE_PATH_TOO_LONG;
        int fd = open(probe, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return (SysError)errno;
        close(fd);
        return unlink(probe) == 0 ? 0 : (SysError)errno;
    }
    return EEXIST;
}
