#include "listing.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "console.h"
#include "platform.h"

// Bytes of the valid UTF-8 character at `at`, or 0 when it is none.
static size_t Utf8Length(const unsigned char* at) {
    unsigned char c = at[0];
    if (c < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (c >= 0xC2 && c <= 0xDF) length = 2;
    else if (c >= 0xE0 && c <= 0xEF) length = 3, low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4) length = 4, low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
    else return 0;
    if (at[1] < low || at[1] > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if ((at[i] & 0xC0) != 0x80) return 0;  // a NUL ends the check here too
    return length;
}

static bool NeedsQuotes(const unsigned char* at) {
    bool backslashIsName = !IsPathSeparator('\\');
    while (*at) {
        if (*at < 0x20 || *at == 0x7f || *at == '"' || (*at == '\\' && backslashIsName)) return true;
        size_t length = Utf8Length(at);
        if (!length) return true;
        at += length;
    }
    return false;
}

void PutQuoted(FILE* stream, const char* path) {
    const unsigned char* at = (const unsigned char*)path;
    size_t length = strlen(path);
    if (!NeedsQuotes(at)) {
        WriteText(stream, path, length);
        return;
    }
    // Built whole, so that a console gets every character in one piece.
    char* quoted = (char*)malloc(4 * length + 3);
    if (!quoted) {
        WriteText(stream, path, length);
        return;
    }
    static const char ESCAPED[] = "\a\b\t\n\v\f\r\"\\";
    static const char LETTERS[] = "abtnvfr\"\\";
    size_t used = 0;
    quoted[used++] = '"';
    while (*at) {
        const char* escape = strchr(ESCAPED, *at);
        size_t character = Utf8Length(at);
        if (escape) {
            quoted[used++] = '\\';
            quoted[used++] = LETTERS[escape - ESCAPED];
            ++at;
        } else if (*at < 0x20 || *at == 0x7f || !character) {
            used += (size_t)snprintf(quoted + used, 5, "\\%03o", *at);
            ++at;
        } else {
            memcpy(quoted + used, at, character);
            used += character;
            at += character;
        }
    }
    quoted[used++] = '"';
    WriteText(stream, quoted, used);
    free(quoted);
}

void Print(FILE* stream, const char* format, ...) {
    char small[1024];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(small, sizeof small, format, arguments);
    va_end(arguments);
    if (length < 0) return;
    if ((size_t)length < sizeof small) {
        WriteText(stream, small, (size_t)length);
        return;
    }
    char* large = (char*)malloc((size_t)length + 1);
    if (!large) {
        WriteText(stream, small, sizeof small - 1);  // cut rather than nothing
        return;
    }
    va_start(arguments, format);
    vsnprintf(large, (size_t)length + 1, format, arguments);
    va_end(arguments);
    WriteText(stream, large, (size_t)length);
    free(large);
}
