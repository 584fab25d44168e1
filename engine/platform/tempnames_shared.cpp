// The pattern both platforms' temporary names follow (HasTemporaryPattern);
// each platform's names are in tempnames_posix.cpp and tempnames_win32.cpp.
#include <string.h>

#include "platform.h"

bool HasTemporaryPattern(const char* name, const char* prefix, char between) {
    size_t prefixLength = strlen(prefix);
    if (strncmp(name, prefix, prefixLength) != 0) return false;
    const char* at = name + prefixLength;
    for (int part = 0; part < 2; ++part) {
        const char* digits = at;
        while (*at >= '0' && *at <= '9') ++at;
        if (at == digits || *at != (part == 0 ? between : '.')) return false;
        ++at;
    }
    return strcmp(at, "tmp") == 0;
}
