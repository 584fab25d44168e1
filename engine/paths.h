// Paths: the folders a user names, taken once in the form the engine
// works with, and every path built, resolved or compared from them. That
// form is absolute, one separator between names, no "." or "..", no
// separator at the end. Every path the index, the scan and the copies
// build is such a root joined with names, so a root that only the
// platform's own calls understand (a drive-relative "Y:" or "Y:foo", a
// root-relative "\foo", a path relative to the current folder) must never
// reach them.
#pragma once

#include <stddef.h>

#include "platform.h"

// The absolute form of the folder path `path`, as typed or chosen, in
// `out` (`outSize` bytes). A relative path is taken from the current
// folder; on Win32 "Y:" and "Y:foo" from the current folder of drive Y
// (the one the system keeps for it) and "\foo" from the current drive's
// root. "." is dropped and ".." takes off the name before it, by the
// written path alone as Windows does (on POSIX, after a folder link, that
// is the link's own parent, as a shell's cd has it). Doubled and trailing
// separators go; a root keeps its own ("/", "C:\"). A "\\?\" or "\\.\"
// path is kept as written. An empty path stays empty. Fails with
// ENGINE_PATH_TOO_LONG when the result would pass PathLimit(), or with the
// platform's error when the current folder cannot be had.
SysError AbsolutePath(const char* path, char* out, size_t outSize);

// The path of the folder "Data" in `destination`, where the mod lands, in
// `out` (`outSize` bytes): the destination, the platform's separator unless
// it ends in one (a root such as "E:\\" or "/"), and "Data". Every front end
// and every part of the engine spells it this way alone. Returns its
// length, or 0 (and "" in `out`) when it would pass PathLimit() or `out`.
size_t DataFolderPath(const char* destination, char* out, size_t outSize);

// Builds the target path of a changed file: the destination's Data folder
// (DataFolderPath), then the file's relative path. Returns its length, or 0 when it
// would be longer than the platform's path limit (nothing is written past
// `out`, which has PATH_BUFFER_SIZE bytes).
size_t BuildTargetPath(const char* destinationRoot, const char* relativePath, char* out);

// The absolute, link-free form of `path` in `out` (PATH_BUFFER_SIZE bytes),
// also for a path that does not exist yet: its longest existing head is
// resolved and the rest appended, "." and ".." applied. False with `*error`
// set when that cannot be done.
bool ResolveLeniently(const char* path, char* out, SysError* error);

// True when `inner` lies strictly inside `outer`; both resolved.
bool PathInside(const char* inner, const char* outer);

// Takes the last name off the resolved path `path`, never its root.
void ParentFolder(char* path);

// The last name of `path`: what follows its last separator (all of it
// when it has none; "" for a root or a path that ends in one).
const char* LastName(const char* path);

// True when the last name of the folder `path` is "Data" in any letter
// case: a destination so named takes the mod one Data folder deeper
// (".../Data/Data"), the usual sign that the mod's own Data folder was
// chosen instead of the folder that is to hold it.
bool NamedData(const char* path);
