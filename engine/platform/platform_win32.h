// What the Win32 platform files share among themselves: the wide form of a
// path and the small calls around it, and the calls each file makes for the
// table. Only engine/platform/platform_win32*.cpp and tempnames_win32.cpp
// include this.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#include "platform.h"

// Room for the longest UTF-8 path in UTF-16 (never more units than bytes),
// the "\\?\UNC" prefix, a search pattern's "\*" and the terminator.
enum { WIDE_PATH_SIZE = PATH_BUFFER_SIZE + 16 };

// A path as the wide file calls take it: "\\?\C:\a\b" or
// "\\?\UNC\server\share\a\b", absolute, backslashes only, no "." or "..",
// no doubled separator, and a root that ends in its backslash.
struct WidePath {
    wchar_t text[WIDE_PATH_SIZE];
    size_t length;
    size_t rootLength;  // "\\?\C:" or "\\?\UNC\server\share", without the backslash after it
};

// GetLastError() as a SysError; never 0, since the call it follows failed.
SysError LastError();

// A conversion's failure as the engine names it: a text that does not fit
// its buffer is a path too long, anything else a name that cannot be carried.
SysError ConversionError();

// Appends `length` units of `text` to `path`; false when they do not fit.
bool Append(WidePath* path, const wchar_t* text, size_t length);

// The "\\?\" prefix turns off every rewriting that the file calls would do
// with a plain path, so this does the part of it that the engine relies on:
// a relative path is taken from the current folder, "/" is a separator,
// doubled separators (a drive root joined with a name) count once, and "."
// and ".." are applied. Names are left exactly as they are: trailing dots
// and spaces stay, since a listed name may end in them. `raw` is UTF-16;
// `depth` is for the call's own use (0).
SysError Normalise(const wchar_t* raw, WidePath* out, int depth = 0);

// The wide, absolute, prefixed form of the engine's UTF-8 `path`.
SysError ToWide(const char* path, WidePath* out);

// The path without its prefix, as a user writes it: "C:\a" or
// "\\server\share\a". May write into `path`.
const wchar_t* WithoutPrefix(wchar_t* path);

// True when the wide path ends in a backslash (a drive's root).
bool EndsWithSeparator(const WidePath& path);

// A file's stamp from its last-write time; never 0 (unknown).
uint64_t StampOf(const FILETIME& written);

// A handle for the attributes of `path`, folders included, links followed;
// another program's share mode 0 does not keep it out.
HANDLE OpenForInformation(const wchar_t* path);

// Platform.h's copyFile on Win32 (platform_win32_copy.cpp).
SysError CopyOneFile(const CopyRequest* request, uint64_t* copied);

// Platform.h's openTarget, readAt and matchTimes on Win32 (platform_win32_copy.cpp).
SysError OpenTargetFile(const char* path, FileHandle* file, uint64_t* size);
SysError ReadFileAt(FileHandle file, uint64_t offset, void* buffer, size_t size, size_t* got);
SysError MatchTargetTimes(FileHandle target, FileHandle source, bool* set);
// Platform.h's closeWritten, setMode and setTimes on Win32 (platform_win32_copy.cpp).
SysError CloseWrittenFile(FileHandle file);
SysError SetFileMode(FileHandle file, uint32_t mode);
SysError SetFileTimes(FileHandle file, const FileTimes* times);

// Platform.h's probeFolder on Win32 (platform_win32_copy.cpp), under the
// copies' own temporary names, so that a run after a crash here removes
// what is left.
SysError ProbeFolder(const char* folder);

// A fresh temporary name in `target`'s folder: "~mx<pid>_<n>.tmp", or
// the shorter "~<n>" when the long one would not fit the path buffers;
// false when not even that fits (tempnames_win32.cpp).
bool TemporaryName(const WidePath& target, WidePath* out);

// Platform.h's pathLimit on Win32 (platform_win32_paths.cpp).
size_t Win32PathLimit();
