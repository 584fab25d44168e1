// What the engine asks the platform beside its file calls, asked through
// the table so that tests can answer otherwise. The platform's own files
// ask their own answers directly, so that none of them calls back up
// into the table.
#include "platform.h"

size_t PathLimit() {
    return Sys.pathLimit();
}

bool ThreadDiskReadBytes(uint64_t* bytes) {
    return Sys.threadDiskReadBytes(bytes);
}

unsigned OpenFilesToKeep() {
    return Sys.openFilesToKeep();
}
