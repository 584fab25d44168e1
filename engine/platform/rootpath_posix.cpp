// The POSIX part of taking a root: the current folder.
#include "platform.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

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
