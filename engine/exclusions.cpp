#include "exclusions.h"

#include <stdio.h>
#include <string.h>

#include "platform.h"

void InitExclusions(ExclusionList* list) {
    list->count = 0;
    list->used = 0;
}

static bool Refuse(char* why, size_t whySize, const char* reason) {
    snprintf(why, whySize, "%s", reason);
    return false;
}

// Patterns hold '/' alone; paths the platform's separators.
static const char* PatternNameEnd(const char* at, const char* end) {
    while (at < end && *at != '/') ++at;
    return at;
}

static const char* PathNameEnd(const char* at, const char* end) {
    while (at < end && !IsPathSeparator(*at)) ++at;
    return at;
}

// Where the name after the one ending at `nameEnd` starts; `end` after the last.
static const char* NextName(const char* nameEnd, const char* end) {
    return nameEnd < end ? nameEnd + 1 : end;
}

static bool IsAnyFolders(const char* name, const char* nameEnd) {
    return nameEnd - name == 2 && name[0] == '*' && name[1] == '*';
}

// Past the UTF-8 character at `at`: '?' stands for a character, not a byte.
static const char* NextCharacter(const char* at, const char* end) {
    ++at;
    while (at < end && ((unsigned char)*at & 0xC0) == 0x80) ++at;
    return at;
}

// One name against one pattern name of '*', '?' and plain bytes. Each '*'
// first takes nothing; on a mismatch the last '*' takes one character more
// and the rest is tried again, which is enough for '*' (no backtracking
// into earlier ones) and keeps the cost at most the product of the lengths.
static bool MatchName(const char* pattern, const char* patternEnd, const char* name, const char* nameEnd) {
    const char* retryPattern = nullptr;
    const char* retryName = nullptr;
    while (name < nameEnd) {
        if (pattern < patternEnd && *pattern == '*') {
            retryPattern = ++pattern;
            retryName = name;
        } else if (pattern < patternEnd && *pattern == '?') {
            ++pattern;
            name = NextCharacter(name, nameEnd);
        } else if (pattern < patternEnd && *pattern == *name) {
            ++pattern;
            ++name;
        } else if (retryPattern) {
            retryName = NextCharacter(retryName, nameEnd);
            pattern = retryPattern;
            name = retryName;
        } else {
            return false;
        }
    }
    while (pattern < patternEnd && *pattern == '*') ++pattern;
    return pattern == patternEnd;
}

// A whole path against an anchored pattern, name by name: the same scheme
// as MatchName, with "**" for '*' and a name for a character.
static bool MatchPath(const char* pattern, const char* patternEnd, const char* path, const char* pathEnd) {
    const char* retryPattern = nullptr;
    const char* retryPath = nullptr;
    for (;;) {
        const char* patternName = PatternNameEnd(pattern, patternEnd);
        if (pattern < patternEnd && IsAnyFolders(pattern, patternName)) {
            pattern = NextName(patternName, patternEnd);
            retryPattern = pattern;
            retryPath = path;
            continue;
        }
        if (path == pathEnd) return pattern == patternEnd;
        const char* pathName = PathNameEnd(path, pathEnd);
        if (pattern < patternEnd && MatchName(pattern, patternName, path, pathName)) {
            pattern = NextName(patternName, patternEnd);
            path = NextName(pathName, pathEnd);
        } else if (retryPattern) {
            retryPath = NextName(PathNameEnd(retryPath, pathEnd), pathEnd);
            pattern = retryPattern;
            path = retryPath;
        } else {
            return false;
        }
    }
}

bool AddExclusion(ExclusionList* list, const char* pattern, char* why, size_t whySize) {
    // Room for the pattern, a "/*" added below, and the NUL.
    char text[PATH_BUFFER_SIZE + 3];
    size_t length = strlen(pattern);
    if (length >= PATH_BUFFER_SIZE) return Refuse(why, whySize, "longer than any path");
    for (size_t i = 0; i < length; ++i) text[i] = IsPathSeparator(pattern[i]) ? '/' : pattern[i];
    char* start = text;
    char* end = text + length;
    Exclusion exclusion = {0, 0, false, false};
    if (end > start && end[-1] == '/') {
        exclusion.foldersOnly = true;
        --end;
    }
    if (end > start && *start == '/') {
        exclusion.anchored = true;
        ++start;
    }
    if (start == end) return Refuse(why, whySize, "an empty pattern");
    const char* lastName = start;
    for (const char* name = start;;) {
        const char* nameEnd = PatternNameEnd(name, end);
        size_t n = (size_t)(nameEnd - name);
        if (n == 0) return Refuse(why, whySize, "an empty name between two '/'");
        if (name[0] == '.' && (n == 1 || (n == 2 && name[1] == '.')))
            return Refuse(why, whySize, "'.' and '..' name no file or folder of a tree");
        for (size_t i = 0; n > 2 && i + 1 < n; ++i)
            if (name[i] == '*' && name[i + 1] == '*')
                return Refuse(why, whySize, "'**' must be a name of its own, as in 'a/**/b'");
        lastName = name;
        if (nameEnd == end) break;
        exclusion.anchored = true;
        name = nameEnd + 1;
    }
    // A trailing "**" matches what lies below, one name at least.
    if (exclusion.anchored && IsAnyFolders(lastName, end)) {
        memcpy(end, "/*", 2);
        end += 2;
    }
    *end = '\0';

    char folded[2 * PATH_BUFFER_SIZE];
    const char* compared = NameAsCompared(start, folded, sizeof folded);
    if (!compared) return Refuse(why, whySize, "not a name this platform can have (not UTF-8?)");
    size_t comparedLength = strlen(compared);
    if (list->count == MAX_EXCLUSIONS || comparedLength > EXCLUSION_TEXT_SIZE - list->used)
        return Refuse(why, whySize, "too many patterns");
    exclusion.start = list->used;
    exclusion.length = (uint32_t)comparedLength;
    memcpy(list->text + list->used, compared, comparedLength);
    list->used += (uint32_t)comparedLength;
    list->patterns[list->count++] = exclusion;
    return true;
}

static bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// One line of a pattern file, `length` bytes at `line` (room for a NUL after).
static bool TakeLine(ExclusionList* list, char* line, size_t length, unsigned number, const char* path, char* why,
                     size_t whySize) {
    char* start = line;
    char* end = line + length;
    if (number == 1 && length >= 3 && memcmp(line, "\xEF\xBB\xBF", 3) == 0) start += 3;
    while (start < end && IsBlank(*start)) ++start;
    while (end > start && IsBlank(end[-1])) --end;
    if (start == end || *start == '#') return true;
    *end = '\0';
    char reason[200];
    if (AddExclusion(list, start, reason, sizeof reason)) return true;
    snprintf(why, whySize, "%.3000s, line %u: %s", path, number, reason);
    return false;
}

bool AddExclusionsFromFile(ExclusionList* list, const char* path, char* why, size_t whySize) {
    FileHandle file;
    SysError error = Sys.openForReading(path, &file);
    char reason[256];
    if (error) {
        DescribeError(error, reason, sizeof reason);
        snprintf(why, whySize, "%.3000s: cannot read: %s", path, reason);
        return false;
    }
    char chunk[4096];
    char line[PATH_BUFFER_SIZE + 1];
    size_t length = 0;
    unsigned number = 1;
    bool fine = true;
    for (size_t got = 1; fine && got > 0;) {
        error = Sys.readFile(file, chunk, sizeof chunk, &got);
        if (error) {
            DescribeError(error, reason, sizeof reason);
            snprintf(why, whySize, "%.3000s: cannot read: %s", path, reason);
            fine = false;
            break;
        }
        for (size_t i = 0; fine && i < got; ++i) {
            if (chunk[i] == '\n') {
                fine = TakeLine(list, line, length, number++, path, why, whySize);
                length = 0;
            } else if (length < PATH_BUFFER_SIZE) {
                line[length++] = chunk[i];
            } else {
                snprintf(why, whySize, "%.3000s, line %u: longer than any path", path, number);
                fine = false;
            }
        }
    }
    if (fine && length > 0) fine = TakeLine(list, line, length, number, path, why, whySize);
    Sys.closeFile(file);
    return fine;
}

bool IsExcluded(const ExclusionList* list, const char* relative, bool isFolder) {
    if (list->count == 0) return false;
    while (IsPathSeparator(*relative)) ++relative;
    char folded[2 * PATH_BUFFER_SIZE];
    const char* path = NameAsCompared(relative, folded, sizeof folded);
    if (!path) path = relative;  // as it is: a pattern may still match it byte for byte
    const char* end = path + strlen(path);
    const char* lastName = end;
    while (lastName > path && !IsPathSeparator(lastName[-1])) --lastName;
    for (uint32_t i = 0; i < list->count; ++i) {
        const Exclusion* exclusion = &list->patterns[i];
        if (exclusion->foldersOnly && !isFolder) continue;
        const char* pattern = list->text + exclusion->start;
        const char* patternEnd = pattern + exclusion->length;
        if (exclusion->anchored ? MatchPath(pattern, patternEnd, path, end)
                                : MatchName(pattern, patternEnd, lastName, end))
            return true;
    }
    return false;
}
