#include "exclusions.h"

#include <string.h>

#include "platform.h"

// Paths hold the platform's separators; a pattern's names end at a '/'
// (PatternNameEnd, where the patterns are read).
static const char* PathNameEnd(const char* at, const char* end) {
    while (at < end && !IsPathSeparator(*at)) ++at;
    return at;
}

// Where the name after the one ending at `nameEnd` starts; `end` after the last.
static const char* NextName(const char* nameEnd, const char* end) {
    return nameEnd < end ? nameEnd + 1 : end;
}

// Past the UTF-8 character at `at`: '?' stands for a character, not a byte.
static const char* NextCharacter(const char* at, const char* end) {
    ++at;
    while (at < end && ((unsigned char)*at & 0xC0) == 0x80) ++at;
    return at;
}

// The character at `at` as a number, for ranges such as [a-z]; a byte
// that starts no UTF-8 sequence stands for itself. `*next` goes past it.
static uint32_t CharacterAt(const char* at, const char* end, const char** next) {
    unsigned char first = (unsigned char)*at;
    int more = first >= 0xF0 ? 3 : first >= 0xE0 ? 2 : first >= 0xC0 ? 1 : 0;
    uint32_t code = more ? first & (0x3Fu >> more) : first;
    const char* p = at + 1;
    for (; more > 0 && p < end && ((unsigned char)*p & 0xC0) == 0x80; --more) code = (code << 6) | (*p++ & 0x3Fu);
    *next = p;
    return code;
}

// Past the ']' of the class that opens at `open`, or null when it has none:
// then the '[' is a plain character, as in .gitignore files.
static const char* ClassEnd(const char* open, const char* end) {
    const char* p = open + 1;
    if (p < end && (*p == '!' || *p == '^')) ++p;
    if (p < end && *p == ']') ++p;  // a member, not the end
    while (p < end && *p != ']') p += (*p == '\\' && p + 1 < end) ? 2 : 1;
    return p < end ? p + 1 : nullptr;
}

static bool InClass(const char* open, const char* close, uint32_t code) {
    const char* p = open + 1;
    const char* last = close - 1;  // its ']'
    bool negated = *p == '!' || *p == '^';
    if (negated) ++p;
    bool found = false;
    while (p < last) {
        if (*p == '\\' && p + 1 < last) ++p;
        uint32_t low = CharacterAt(p, last, &p);
        uint32_t high = low;
        if (p + 1 < last && *p == '-') {
            ++p;
            if (*p == '\\' && p + 1 < last) ++p;
            high = CharacterAt(p, last, &p);
        }
        if (code >= low && code <= high) found = true;
    }
    return found != negated;
}

// One pattern element other than '*' against the character at `*name`;
// moves both past what matched, and neither when nothing did.
static bool MatchOne(const char** pattern, const char* patternEnd, const char** name, const char* nameEnd) {
    const char* p = *pattern;
    if (*p == '?') {
        *pattern = p + 1;
        *name = NextCharacter(*name, nameEnd);
        return true;
    }
    if (*p == '[') {
        if (const char* close = ClassEnd(p, patternEnd)) {
            const char* after;
            if (!InClass(p, close, CharacterAt(*name, nameEnd, &after))) return false;
            *pattern = close;
            *name = after;
            return true;
        }
    }
    if (*p == '\\' && p + 1 < patternEnd) ++p;
    if (*p != **name) return false;
    *pattern = p + 1;
    ++*name;
    return true;
}

// One name against one pattern name. Each '*' first takes nothing; on a
// mismatch the last '*' takes one character more and the rest is tried
// again, which is enough for '*' (no backtracking into earlier ones) and
// keeps the cost at most the product of the lengths.
static bool MatchName(const char* pattern, const char* patternEnd, const char* name, const char* nameEnd) {
    const char* retryPattern = nullptr;
    const char* retryName = nullptr;
    while (name < nameEnd) {
        if (pattern < patternEnd && *pattern == '*') {
            retryPattern = ++pattern;
            retryName = name;
        } else if (pattern < patternEnd && MatchOne(&pattern, patternEnd, &name, nameEnd)) {
            // matched one character
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

bool IsExcluded(const ExclusionList* list, const char* relative, bool isFolder) {
    if (list->count == 0) return false;
    while (IsPathSeparator(*relative)) ++relative;
    char folded[2 * PATH_BUFFER_SIZE];
    const char* path = NameAsCompared(relative, folded, sizeof folded);
    if (!path) path = relative;  // as it is: a pattern may still match it byte for byte
    const char* end = path + strlen(path);
    const char* lastName = end;
    while (lastName > path && !IsPathSeparator(lastName[-1])) --lastName;
    bool decided = false, excluded = false;
    for (uint32_t i = list->count; i-- > 0;) {  // the last that matches decides
        const Exclusion* exclusion = &list->patterns[i];
        if (exclusion->foldersOnly && !isFolder) continue;
        // Past the decision only a pattern that never matched is worth a
        // look, so that "matched nothing" is said of none that did; no
        // write to a shared count once it is known, for the walkers' sake.
        if (decided && list->matches[i].load(std::memory_order_relaxed)) continue;
        const char* pattern = list->text + exclusion->start;
        const char* patternEnd = pattern + exclusion->length;
        if (!(exclusion->anchored ? MatchPath(pattern, patternEnd, path, end)
                                  : MatchName(pattern, patternEnd, lastName, end)))
            continue;
        list->matches[i].fetch_add(1, std::memory_order_relaxed);
        if (!decided) excluded = !exclusion->reincludes;
        decided = true;
    }
    return excluded;
}
