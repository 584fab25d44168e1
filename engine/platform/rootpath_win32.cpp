// The Win32 part of taking a root: where a drive-relative, root-relative or
// relative path starts, as the system's own GetFullPathNameW has it (which
// keeps a current folder per drive).
#include "platform.h"
#include "textconvert_win32.h"

#include <windows.h>
#include <string.h>

static bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// The full path of `head` ("", "Y:" or "\") as the system keeps it.
static SysError FullPathOf(const wchar_t* head, char* base, size_t baseSize) {
    wchar_t full[PATH_BUFFER_SIZE];
    DWORD length = GetFullPathNameW(head, PATH_BUFFER_SIZE, full, nullptr);
    if (length == 0) return GetLastError();
    if (length >= PATH_BUFFER_SIZE) return ENGINE_PATH_TOO_LONG;
    // A drive's current folder may come with a separator at its end; a root keeps its own.
    while (length > 3 && (full[length - 1] == L'\\' || full[length - 1] == L'/')) full[--length] = L'\0';
    if (!Utf8FromWide(full, base, baseSize)) return GetLastError();
    return 0;
}

static SysError Copy(const char* path, size_t length, char* base, size_t baseSize) {
    if (length + 1 > baseSize) return ENGINE_PATH_TOO_LONG;
    memcpy(base, path, length);
    base[length] = '\0';
    return 0;
}

SysError PathBase(const char* path, char* base, size_t baseSize, size_t* taken) {
    if (IsSeparator(path[0]) && IsSeparator(path[1])) {
        if ((path[2] == '?' || path[2] == '.') && IsSeparator(path[3])) {
            *taken = strlen(path);  // the long and device forms mean exactly what they say
            return Copy(path, *taken, base, baseSize);
        }
        // \\server\share
        size_t at = 2;
        while (path[at] && !IsSeparator(path[at])) ++at;
        if (at == 2 || !path[at]) return ERROR_BAD_PATHNAME;
        size_t share = ++at;
        while (path[at] && !IsSeparator(path[at])) ++at;
        if (at == share) return ERROR_BAD_PATHNAME;
        *taken = at;
        SysError error = Copy(path, at, base, baseSize);
        for (size_t i = 0; !error && i < at; ++i)
            if (base[i] == '/') base[i] = '\\';
        return error;
    }
    if (path[0] && path[1] == ':') {
        if (IsSeparator(path[2])) {
            *taken = 3;
            SysError error = Copy(path, 3, base, baseSize);
            if (!error) base[2] = '\\';
            return error;
        }
        // "Y:" or "Y:foo": the current folder of drive Y.
        wchar_t drive[3] = {(wchar_t)(unsigned char)path[0], L':', L'\0'};
        *taken = 2;
        return FullPathOf(drive, base, baseSize);
    }
    if (IsSeparator(path[0])) {
        *taken = 1;
        return FullPathOf(L"\\", base, baseSize);
    }
    *taken = 0;
    return FullPathOf(L".", base, baseSize);
}
