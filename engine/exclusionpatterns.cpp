#include "exclusions.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "platform.h"

void InitExclusions(ExclusionList* list) {
    list->count = 0;
    list->used = 0;
    list->givenUsed = 0;
}

const char* GivenPattern(const ExclusionList* list, uint32_t index) {
    return list->given + list->patterns[index].written;
}

static bool Refuse(char* why, size_t whySize, const char* reason) {
    snprintf(why, whySize, "%s", reason);
    return false;
}

const char* PatternNameEnd(const char* at, const char* end) {
    while (at < end && *at != '/') at += (*at == '\\' && at + 1 < end) ? 2 : 1;
    return at;
}

bool IsAnyFolders(const char* name, const char* nameEnd) {
    return nameEnd - name == 2 && name[0] == '*' && name[1] == '*';
}

bool AddExclusion(ExclusionList* list, const char* pattern, char* why, size_t whySize) {
    // Room for the pattern, a "/*" added below, and the NUL.
    char text[PATH_BUFFER_SIZE + 3];
    Exclusion exclusion = {0, 0, false, false, false, 0, 0};
    const char* given = pattern;
    if (pattern[0] == '!') {
        exclusion.reincludes = true;
        ++pattern;
    }
    size_t length = strlen(pattern);
    if (length >= PATH_BUFFER_SIZE) return Refuse(why, whySize, "longer than any path");
    for (size_t i = 0; i < length; ++i) text[i] = IsPathSeparator(pattern[i]) ? '/' : pattern[i];
    char* start = text;
    char* end = text + length;
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
        for (size_t i = 0; i < n; ++i) {
            if (name[i] == '\\' && i + 1 == n && nameEnd == end)
                return Refuse(why, whySize, "a '\\' at the end quotes nothing");
            if (name[i] == '\\') ++i;
            else if (n > 2 && i + 1 < n && name[i] == '*' && name[i + 1] == '*')
                return Refuse(why, whySize, "'**' must be a name of its own, as in 'a/**/b'");
        }
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
    size_t givenSize = strlen(given) + 1;
    if (list->count == MAX_EXCLUSIONS || comparedLength > EXCLUSION_TEXT_SIZE - list->used ||
        givenSize > EXCLUSION_TEXT_SIZE - list->givenUsed)
        return Refuse(why, whySize, "too many patterns");
    exclusion.written = list->givenUsed;
    memcpy(list->given + list->givenUsed, given, givenSize);
    list->givenUsed += (uint32_t)givenSize;
    list->matches[list->count].store(0, std::memory_order_relaxed);
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

// A pattern file read line by line, whatever its encoding.
struct PatternFile {
    ExclusionList* list;
    const char* name;
    char* why;
    size_t whySize;
    unsigned number;  // of the line being read, from 1
    size_t length;    // bytes of it so far
    char line[PATH_BUFFER_SIZE + 1];
    bool failed;
};

static void Fail(PatternFile* file, const char* reason) {
    snprintf(file->why, file->whySize, "%.3000s, line %u: %s", file->name, file->number, reason);
    file->failed = true;
}

static void TakeLine(PatternFile* file) {
    char* start = file->line;
    char* end = file->line + file->length;
    while (start < end && IsBlank(*start)) ++start;
    // "\ " keeps a blank where '\' quotes (POSIX); nowhere else is one kept.
    while (end > start && IsBlank(end[-1]) && !(end - 1 > start && end[-2] == '\\' && !IsPathSeparator('\\')))
        --end;
    file->length = 0;
    if (start == end || *start == '#') return;
    *end = '\0';
    char reason[200];
    if (!AddExclusion(file->list, start, reason, sizeof reason)) Fail(file, reason);
    else file->list->patterns[file->list->count - 1].line = file->number;
}

// One byte of UTF-8 text, however it was encoded in the file.
static void TakeByte(PatternFile* file, unsigned char byte) {
    if (byte == '\n') {
        TakeLine(file);
        if (!file->failed) ++file->number;
    } else if (byte == 0) {
        Fail(file, "a NUL character: a pattern file is text, UTF-8 or UTF-16 with its byte order mark");
    } else if (file->length < PATH_BUFFER_SIZE) {
        file->line[file->length++] = (char)byte;
    } else {
        Fail(file, "longer than any path");
    }
}

static void TakeCharacter(PatternFile* file, uint32_t code) {
    unsigned char bytes[4];
    int count;
    if (code < 0x80) {
        bytes[0] = (unsigned char)code;
        count = 1;
    } else if (code < 0x800) {
        bytes[0] = (unsigned char)(0xC0 | (code >> 6));
        bytes[1] = (unsigned char)(0x80 | (code & 0x3F));
        count = 2;
    } else if (code < 0x10000) {
        bytes[0] = (unsigned char)(0xE0 | (code >> 12));
        bytes[1] = (unsigned char)(0x80 | ((code >> 6) & 0x3F));
        bytes[2] = (unsigned char)(0x80 | (code & 0x3F));
        count = 3;
    } else {
        bytes[0] = (unsigned char)(0xF0 | (code >> 18));
        bytes[1] = (unsigned char)(0x80 | ((code >> 12) & 0x3F));
        bytes[2] = (unsigned char)(0x80 | ((code >> 6) & 0x3F));
        bytes[3] = (unsigned char)(0x80 | (code & 0x3F));
        count = 4;
    }
    for (int i = 0; i < count && !file->failed; ++i) TakeByte(file, bytes[i]);
}

enum Encoding { ENCODING_UTF8, ENCODING_UTF16LE, ENCODING_UTF16BE };

bool AddExclusionsFromReader(ExclusionList* list, const char* name, PatternReader read, void* context, char* why,
                             size_t whySize) {
    PatternFile* file = (PatternFile*)calloc(1, sizeof(PatternFile));  // too big for a thread's stack
    if (!file) {
        snprintf(why, whySize, "%.3000s: out of memory", name);
        return false;
    }
    file->list = list;
    file->name = name;
    file->why = why;
    file->whySize = whySize;
    file->number = 1;
    unsigned char chunk[4096];
    Encoding encoding = ENCODING_UTF8;
    bool first = true;
    int pendingByte = -1;     // the first byte of a UTF-16 unit cut by the chunk's end
    uint32_t highSurrogate = 0;
    size_t got = 1;
    while (!file->failed && got > 0) {
        SysError error = 0;
        if (!read(context, chunk, sizeof chunk, &got, &error)) {
            char reason[256] = "read error";
            if (error) DescribeError(error, reason, sizeof reason);
            snprintf(why, whySize, "%.3000s: cannot read: %s", name, reason);
            file->failed = true;
            break;
        }
        size_t at = 0;
        if (first && got > 0) {  // a byte order mark comes whole in the first chunk, which is full but at the end
            first = false;
            if (got >= 3 && memcmp(chunk, "\xEF\xBB\xBF", 3) == 0) at = 3;
            else if (got >= 2 && chunk[0] == 0xFF && chunk[1] == 0xFE) encoding = ENCODING_UTF16LE, at = 2;
            else if (got >= 2 && chunk[0] == 0xFE && chunk[1] == 0xFF) encoding = ENCODING_UTF16BE, at = 2;
        }
        for (; at < got && !file->failed; ++at) {
            if (encoding == ENCODING_UTF8) {
                TakeByte(file, chunk[at]);
                continue;
            }
            if (pendingByte < 0) {
                pendingByte = chunk[at];
                continue;
            }
            uint32_t unit = encoding == ENCODING_UTF16LE ? (uint32_t)pendingByte | (uint32_t)chunk[at] << 8
                                                         : (uint32_t)pendingByte << 8 | chunk[at];
            pendingByte = -1;
            if (highSurrogate) {
                if (unit < 0xDC00 || unit > 0xDFFF) {
                    Fail(file, "not valid UTF-16 (a lone surrogate)");
                    break;
                }
                TakeCharacter(file, 0x10000 + ((highSurrogate - 0xD800) << 10) + (unit - 0xDC00));
                highSurrogate = 0;
            } else if (unit >= 0xD800 && unit <= 0xDBFF) {
                highSurrogate = unit;
            } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                Fail(file, "not valid UTF-16 (a lone surrogate)");
            } else {
                TakeCharacter(file, unit);
            }
        }
    }
    if (!file->failed && (pendingByte >= 0 || highSurrogate)) Fail(file, "not valid UTF-16 (cut off at its end)");
    if (!file->failed && file->length > 0) TakeLine(file);
    bool fine = !file->failed;
    free(file);
    return fine;
}

static bool ReadThroughSys(void* context, void* buffer, size_t size, size_t* got, SysError* error) {
    *error = Sys.readFile(*(FileHandle*)context, buffer, size, got);
    return *error == 0;
}

bool AddExclusionsFromFile(ExclusionList* list, const char* path, char* why, size_t whySize) {
    FileHandle file;
    SysError error = Sys.openForReading(path, &file);
    if (error) {
        char reason[256];
        DescribeError(error, reason, sizeof reason);
        snprintf(why, whySize, "%.3000s: cannot read: %s", path, reason);
        return false;
    }
    bool fine = AddExclusionsFromReader(list, path, ReadThroughSys, &file, why, whySize);
    Sys.closeFile(file);
    return fine;
}
