// What to leave out of both trees: patterns matched against the relative
// path of every folder and file the index meets.
//
// A pattern names a relative path with '/' between names (on Win32 '\' too):
// '*' matches any run of characters within one name, '?' one character,
// and a name "**" any number of folders, none included ("a/**" matches
// everything below a, not a itself). A pattern without '/' matches a name
// at any depth; one with '/' (a leading '/' included) matches from the
// root. A trailing '/' matches folders only. Letter case counts as in the
// platform's names (NameAsCompared): exactly on POSIX, not at all on Win32.
#pragma once

#include <stddef.h>
#include <stdint.h>

enum {
    MAX_EXCLUSIONS = 1024,        // patterns in one list
    EXCLUSION_TEXT_SIZE = 65536,  // bytes of all their texts together
};

struct Exclusion {
    uint32_t start;    // of the pattern's text in ExclusionList::text
    uint32_t length;   // without a NUL
    bool anchored;     // matched from the root, else against the last name
    bool foldersOnly;  // written with a trailing '/'
};

// The patterns of one job, in fixed storage. Read-only once the job runs,
// so any thread may match against it.
struct ExclusionList {
    uint32_t count;
    uint32_t used;  // bytes of `text` taken
    Exclusion patterns[MAX_EXCLUSIONS];
    char text[EXCLUSION_TEXT_SIZE];
};

// Empties `list`.
void InitExclusions(ExclusionList* list);

// Adds `pattern` (NUL-terminated). False, with why in `why` (`whySize`
// bytes), when it is malformed: empty, an empty name ("a//b"), a name "."
// or "..", "**" inside a longer name, not readable as a name on this
// platform, or no room left in `list`.
bool AddExclusion(ExclusionList* list, const char* pattern, char* why, size_t whySize);

// Adds the patterns of the file `path`, one a line (LF or CRLF, a UTF-8
// byte order mark ignored). Blank lines and lines whose first non-blank
// character is '#' are skipped; blanks around a pattern are dropped. Reads
// through Sys. False, with why in `why` (naming the line of a malformed
// pattern), when the file cannot be read or a pattern is malformed.
bool AddExclusionsFromFile(ExclusionList* list, const char* path, char* why, size_t whySize);

// True when a pattern of `list` matches `relative`, the path of a folder
// (`isFolder`) or file below a tree's root, its names joined by the
// platform's separators (leading separators are skipped).
bool IsExcluded(const ExclusionList* list, const char* relative, bool isFolder);
