// A console shows UTF-16 through WriteConsoleW; bytes written to it would
// be read in its code page, where most names do not exist.
#include "console.h"

#include <windows.h>
#include <io.h>
#include <stdlib.h>
#include <string.h>

#include "textconvert_win32.h"

static HANDLE ConsoleOf(FILE* stream) {
    HANDLE handle = (HANDLE)_get_osfhandle(_fileno(stream));
    DWORD mode;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return INVALID_HANDLE_VALUE;
    return handle;
}

void WriteText(FILE* stream, const char* text, size_t length) {
    HANDLE console = ConsoleOf(stream);
    char* copy = console == INVALID_HANDLE_VALUE ? nullptr : (char*)malloc(length + 1);
    // UTF-16 never takes more units than UTF-8 takes bytes.
    wchar_t* wide = copy ? (wchar_t*)malloc((length + 1) * sizeof(wchar_t)) : nullptr;
    if (!wide) {
        free(copy);
        fwrite(text, 1, length, stream);
        return;
    }
    fflush(stream);  // whatever went through the stream before comes first
    memcpy(copy, text, length);
    copy[length] = '\0';
    // A NUL (the end of a -z entry) ends a conversion: each piece goes alone.
    for (size_t at = 0; at < length;) {
        size_t piece = strlen(copy + at);
        DWORD written = 0;
        if (piece > 0 && WideFromUtf8(copy + at, wide, length + 1))
            WriteConsoleW(console, wide, (DWORD)wcslen(wide), &written, nullptr);
        else if (piece > 0)
            WriteFile(console, copy + at, (DWORD)piece, &written, nullptr);  // no UTF-8: the bytes as they are
        if (at + piece < length) WriteConsoleW(console, L" ", 1, &written, nullptr);  // a NUL shows as a space
        at += piece + 1;
    }
    free(wide);
    free(copy);
}

bool IsTerminal(FILE* stream) {
    return ConsoleOf(stream) != INVALID_HANDLE_VALUE;
}
