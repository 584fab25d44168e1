// What to leave out of both trees: patterns matched against the relative
// path of every folder and file the index meets. The patterns and pattern
// files are read and checked in exclusionpatterns.cpp (InitExclusions,
// AddExclusion, AddExclusionsFromReader/FromFile, GivenPattern); they are
// matched in exclusions.cpp (IsExcluded).
//
// A pattern names a relative path with '/' between names (on Win32 '\' too):
// '*' matches any run of characters within one name, '?' one character,
// a class ("[abc]", "[a-z]", "[!a]" or "[^a]") one character of it or, with
// '!' or '^', not of it (a ']' right after the opening is a member; a '['
// without its ']' is itself), and a name "**" any number of folders, none
// included ("a/**" matches everything below a, not a itself). On POSIX a
// '\' makes the next character plain. A pattern without '/' matches a name
// at any depth; one with '/' (a leading '/' included) matches from the
// root. A trailing '/' matches folders only. A leading '!' turns a pattern
// into a re-inclusion, as in a .gitignore file: the last pattern that
// matches a path decides, and what lies below a left-out folder stays out,
// for the folder is never read. Letter case counts as in the platform's
// names (NameAsCompared): exactly on POSIX, not at all on Win32.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "platform.h"

enum {
    MAX_EXCLUSIONS = 1024,        // patterns in one list
    EXCLUSION_TEXT_SIZE = 65536,  // bytes of all their texts together
};

struct Exclusion {
    uint32_t start;    // of the pattern's text in ExclusionList::text
    uint32_t length;   // without a NUL
    bool anchored;     // matched from the root, else against the last name
    bool foldersOnly;  // written with a trailing '/'
    bool reincludes;   // written with a leading '!'
    uint32_t written;  // of the pattern as it was given, in ExclusionList::given
    uint32_t line;     // of its pattern file, from 1; 0 when given on its own
};

// The patterns of one job, in fixed storage. Read-only once the job runs
// but for the match counts, which are atomic, so any thread may match
// against it.
struct ExclusionList {
    uint32_t count;
    uint32_t used;       // bytes of `text` taken
    uint32_t givenUsed;  // bytes of `given` taken
    Exclusion patterns[MAX_EXCLUSIONS];
    char text[EXCLUSION_TEXT_SIZE];
    char given[EXCLUSION_TEXT_SIZE];  // each pattern as given, NUL-terminated
    // How often each pattern matched a path that IsExcluded was asked
    // about, whether or not a later one decided; a path may be asked more
    // than once, so only 0, "matched nothing", is exact.
    mutable std::atomic<uint32_t> matches[MAX_EXCLUSIONS];
};

// Empties `list`.
void InitExclusions(ExclusionList* list);

// Adds `pattern` (NUL-terminated), with no matches yet. False, with why in
// `why` (`whySize` bytes), when it is malformed: empty, an empty name ("a//b"), a name "."
// or "..", "**" inside a longer name, a '\' that quotes nothing at its end
// (POSIX), not readable as a name on this platform, or no room left in
// `list`.
bool AddExclusion(ExclusionList* list, const char* pattern, char* why, size_t whySize);

// Fills `buffer` with up to `size` bytes of a pattern file, fewer only at
// its end; `*got` 0 at the end. False on a read error, in `*error` (0 when
// the reader has no SysError for it).
typedef bool (*PatternReader)(void* context, void* buffer, size_t size, size_t* got, SysError* error);

// Adds the patterns that `read(context, ...)` yields, one a line (LF or
// CRLF). The text is UTF-8 (a byte order mark ignored) or, after its byte
// order mark (FF FE or FE FF), UTF-16, which Windows' Notepad writes.
// Blank lines and lines whose first non-blank character is '#' are
// skipped, so a '#' anywhere else is part of the pattern; blanks around a
// pattern are dropped (on POSIX "\ " keeps a trailing one). False, with why
// in `why` naming `name` and the line, when it cannot be read, holds a NUL
// character, is not valid UTF-16 after a UTF-16 mark, or a pattern is
// malformed. Each pattern keeps its line number (Exclusion::line).
bool AddExclusionsFromReader(ExclusionList* list, const char* name, PatternReader read, void* context, char* why,
                             size_t whySize);

// AddExclusionsFromReader on the file `path`, read through Sys.
bool AddExclusionsFromFile(ExclusionList* list, const char* path, char* why, size_t whySize);

// True when the last pattern of `list` that matches `relative` leaves it
// out rather than re-including it. Counts a match for that pattern and
// for every earlier one that matches too and has none yet. `relative` is
// the path of a folder (`isFolder`) or file below a tree's root, its names joined by the
// platform's separators (leading separators are skipped).
bool IsExcluded(const ExclusionList* list, const char* relative, bool isFolder);

// Pattern `index` of `list` as it was given, a leading '!' included.
const char* GivenPattern(const ExclusionList* list, uint32_t index);

// Where the pattern name that starts at `at` ends ('/' or `end`): patterns
// hold '/' alone, and on POSIX '\' quotes the character after it, '/'
// included. For the matching, which walks the names as they were read.
const char* PatternNameEnd(const char* at, const char* end);

// True when the name from `name` to `nameEnd` is "**", any number of folders.
bool IsAnyFolders(const char* name, const char* nameEnd);
