// What the POSIX platform files share among themselves. Only
// engine/platform/platform_posix*.cpp and tempnames_posix.cpp include this.
#pragma once

#include <stdint.h>
#include <sys/stat.h>

#include "platform.h"

// errno as a SysError; never 0, since the call it follows failed
// (platform_posix_paths.cpp, as StampOf).
SysError LastError();

// A file's stamp from its status: moves whenever the file is written.
uint64_t StampOf(const struct stat& st);

// A regular file opened for reading (platform_posix_copy.cpp), its status in `*st`; -1 with
// `*error` set when it cannot be opened or is no regular file
// (ENGINE_NOT_REGULAR). Never blocks on a FIFO.
int OpenRegular(const char* path, struct stat* st, SysError* error);

// Platform.h's openListed on POSIX (platform_posix_copy.cpp, as OpenRegular).
SysError OpenListed(const char* path, FileHandle* file);

// Platform.h's copyFile, probeFolder, openTarget, readAt and matchTimes on
// POSIX (platform_posix_copy.cpp).
SysError CopyFile(const CopyRequest* request, uint64_t* copied);
SysError ProbeFolder(const char* folder);
SysError OpenTarget(const char* path, FileHandle* file, uint64_t* size);
SysError ReadAt(FileHandle file, uint64_t offset, void* buffer, size_t size, size_t* got);
SysError MatchTimes(FileHandle target, FileHandle source, bool* set);
// Platform.h's closeWritten, setMode and setTimes on POSIX (platform_posix_copy.cpp).
SysError CloseWritten(FileHandle file);
SysError SetMode(FileHandle file, uint32_t mode);
SysError SetTimes(FileHandle file, const FileTimes* times);

// The next temporary name in `folder` (its first `folderLength`
// characters), in `out` (PATH_BUFFER_SIZE bytes): one IsTemporaryName
// knows, unique in this run; false when it is longer than the path limit
// (tempnames_posix.cpp).
bool TemporaryName(const char* folder, size_t folderLength, char* out);

// Platform.h's resolvePath and pathLimit on POSIX (platform_posix_paths.cpp).
SysError ResolvePath(const char* path, char* out, size_t outSize);
size_t PosixPathLimit();
