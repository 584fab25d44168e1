// The Win32 part of taking a root: where a drive-relative, root-relative or
// relative path starts, as the system's own GetFullPathNameW has it (which
// keeps a current folder per drive), and the probe of a folder that copies
// will be written into.
#include "rootpath.h"
#include "textconvert_win32.h"

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

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

static std::atomic<unsigned> ProbeCounter{0x70000000u};

SysError ProbeFolder(const char* folder) {
    size_t length = strlen(folder);
    bool separator = length > 0 && !IsSeparator(folder[length - 1]);
    for (int attempt = 0; attempt < 100; ++attempt) {
        // The copies' own pattern ("~mx<pid>_<n>.tmp"), so a run after a
        // crash here removes what is left.
        char probe[PATH_BUFFER_SIZE];
        int written = snprintf(probe, sizeof probe, "%s%s~mx%lu_%u.tmp", folder, separator ? "\\" : "",
                               (unsigned long)GetCurrentProcessId(), ProbeCounter.fetch_add(1));
        if (written < 0 || (size_t)written > PathLimit()) return ENGINE_PATH_TOO_LONG;
        // The long form, so that no length or name rewriting stands between.
        wchar_t wide[PATH_BUFFER_SIZE + 8] = L"\\\\?\\";
        size_t prefix = 4;
        const char* rest = probe;
        if (IsSeparator(probe[0]) && IsSeparator(probe[1])) {
            wcscpy(wide, L"\\\\?\\UNC");
            prefix = 7;
            rest = probe + 1;
        }
        if (!WideFromUtf8(rest, wide + prefix, PATH_BUFFER_SIZE)) return GetLastError();
        for (wchar_t* at = wide + prefix; *at; ++at)
            if (*at == L'/') *at = L'\\';
        HANDLE file = CreateFileW(wide, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return error;
        }
        CloseHandle(file);  // removes it
        return 0;
    }
    return ERROR_FILE_EXISTS;
}
