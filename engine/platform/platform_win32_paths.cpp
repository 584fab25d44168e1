// Paths on Win32: the engine's UTF-8 paths in the absolute, prefixed wide
// form that every wide file call of the platform takes.
#include "platform_win32.h"

#include <string.h>
#include <wchar.h>

#include "textconvert_win32.h"

SysError LastError() {
    DWORD error = GetLastError();
    return error ? (SysError)error : (SysError)ERROR_GEN_FAILURE;
}

// A conversion's failure as the engine names it: a text that does not fit
// its buffer is a path too long, anything else a name that cannot be carried.
SysError ConversionError() {
    DWORD error = GetLastError();
    if (error == ERROR_INSUFFICIENT_BUFFER) return ENGINE_PATH_TOO_LONG;
    return error ? (SysError)error : (SysError)ERROR_NO_UNICODE_TRANSLATION;
}

static bool IsWideSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool Append(WidePath* path, const wchar_t* text, size_t length) {
    if (path->length + length + 1 > WIDE_PATH_SIZE - 2) return false;  // the pattern's "\*" stays possible
    memcpy(path->text + path->length, text, length * sizeof(wchar_t));
    path->length += length;
    path->text[path->length] = L'\0';
    return true;
}

// The "\\?\" prefix turns off every rewriting that the file calls would do
// with a plain path, so this does the part of it that the engine relies on:
// a relative path is taken from the current folder, "/" is a separator,
// doubled separators (a drive root joined with a name) count once, and "."
// and ".." are applied. Names are left exactly as they are: trailing dots
// and spaces stay, since a listed name may end in them.
// `raw` kept as it is, with a root of `rootLength` units: a device or a
// volume named by its GUID, which has no folders to walk.
static SysError KeepAsWritten(const wchar_t* raw, WidePath* out, size_t rootLength) {
    size_t length = wcslen(raw);
    if (length + 1 > WIDE_PATH_SIZE - 2) return ENGINE_PATH_TOO_LONG;
    memcpy(out->text, raw, (length + 1) * sizeof(wchar_t));
    out->length = length;
    out->rootLength = rootLength;
    while (out->rootLength < length && !IsWideSeparator(raw[out->rootLength])) ++out->rootLength;
    return 0;
}

// A path already in the long form ("\\?\..."), read as the path it stands for.
static SysError NormaliseLongForm(const wchar_t* raw, WidePath* out, int depth) {
    const wchar_t* rest = raw + 4;
    if ((rest[0] == L'U' || rest[0] == L'u') && (rest[1] == L'N' || rest[1] == L'n') &&
        (rest[2] == L'C' || rest[2] == L'c') && IsWideSeparator(rest[3])) {
        wchar_t unc[WIDE_PATH_SIZE];
        size_t length = wcslen(rest + 3);
        if (length + 2 > WIDE_PATH_SIZE) return ENGINE_PATH_TOO_LONG;
        unc[0] = L'\\';
        memcpy(unc + 1, rest + 3, (length + 1) * sizeof(wchar_t));
        return Normalise(unc, out, depth);
    }
    if (rest[0] && rest[1] == L':' && IsWideSeparator(rest[2])) return Normalise(rest, out, depth);
    return KeepAsWritten(raw, out, 4);  // a volume named by its GUID
}

// A relative path: the current folder (of the drive named, if one is), or
// the current drive's root, in front.
static SysError NormaliseRelative(const wchar_t* raw, WidePath* out, int depth) {
    if (depth > 0) return ERROR_BAD_PATHNAME;
    wchar_t base[4] = L".";
    const wchar_t* tail = raw;
    if (raw[0] && raw[1] == L':') {
        base[0] = raw[0];
        base[1] = L':';
        base[2] = L'\0';
        tail = raw + 2;
    } else if (IsWideSeparator(raw[0])) {
        base[0] = L'\\';
        tail = raw + 1;
    }
    wchar_t full[WIDE_PATH_SIZE];
    DWORD length = GetFullPathNameW(base, WIDE_PATH_SIZE, full, nullptr);
    if (length == 0) return LastError();
    size_t tailLength = wcslen(tail);
    if (length + 1 + tailLength + 1 > WIDE_PATH_SIZE) return ENGINE_PATH_TOO_LONG;
    full[length] = L'\\';
    memcpy(full + length + 1, tail, (tailLength + 1) * sizeof(wchar_t));
    return Normalise(full, out, depth + 1);
}

// The prefixed root of "\\server\share\..." in `out`; in `*rest` what follows it.
static SysError TakeShareRoot(const wchar_t* raw, WidePath* out, const wchar_t** rest) {
    const wchar_t* server = raw + 2;
    size_t serverLength = 0;
    while (server[serverLength] && !IsWideSeparator(server[serverLength])) ++serverLength;
    if (serverLength == 0 || !server[serverLength]) return ERROR_BAD_PATHNAME;
    const wchar_t* share = server + serverLength + 1;
    size_t shareLength = 0;
    while (share[shareLength] && !IsWideSeparator(share[shareLength])) ++shareLength;
    if (shareLength == 0) return ERROR_BAD_PATHNAME;
    if (!Append(out, L"\\\\?\\UNC\\", 8) || !Append(out, server, serverLength) || !Append(out, L"\\", 1) ||
        !Append(out, share, shareLength))
        return ENGINE_PATH_TOO_LONG;
    *rest = share + shareLength;
    return 0;
}

// Appends the names of `rest` to `out`, "." and ".." applied.
static SysError AppendNames(const wchar_t* rest, WidePath* out) {
    while (*rest) {
        while (IsWideSeparator(*rest)) ++rest;
        size_t nameLength = 0;
        while (rest[nameLength] && !IsWideSeparator(rest[nameLength])) ++nameLength;
        if (nameLength == 0) break;
        if (nameLength == 1 && rest[0] == L'.') {
            // the folder itself
        } else if (nameLength == 2 && rest[0] == L'.' && rest[1] == L'.') {
            while (out->length > out->rootLength && out->text[out->length - 1] != L'\\') --out->length;
            if (out->length > out->rootLength) --out->length;
            out->text[out->length] = L'\0';
        } else if (!Append(out, L"\\", 1) || !Append(out, rest, nameLength)) {
            return ENGINE_PATH_TOO_LONG;
        }
        rest += nameLength;
    }
    // A root alone is the root folder only with its backslash.
    if (out->length == out->rootLength && !Append(out, L"\\", 1)) return ENGINE_PATH_TOO_LONG;
    return 0;
}

SysError Normalise(const wchar_t* raw, WidePath* out, int depth) {
    bool twoSeparators = IsWideSeparator(raw[0]) && IsWideSeparator(raw[1]);
    // A device ("\\.\NUL", "\\.\pipe\x") has no folders to walk.
    if (twoSeparators && raw[2] == L'.' && IsWideSeparator(raw[3])) {
        SysError error = KeepAsWritten(raw, out, 4);
        out->rootLength = 4;
        return error;
    }
    if (twoSeparators && raw[2] == L'?' && IsWideSeparator(raw[3])) return NormaliseLongForm(raw, out, depth);

    out->length = 0;
    out->text[0] = L'\0';
    const wchar_t* rest;
    if (twoSeparators) {
        if (SysError error = TakeShareRoot(raw, out, &rest)) return error;
    } else if (raw[0] && raw[1] == L':' && IsWideSeparator(raw[2])) {
        wchar_t root[6] = {L'\\', L'\\', L'?', L'\\', raw[0], L':'};
        Append(out, root, 6);
        rest = raw + 2;
    } else {
        return NormaliseRelative(raw, out, depth);
    }
    out->rootLength = out->length;
    return AppendNames(rest, out);
}

// The wide, absolute, prefixed form of the engine's UTF-8 `path`.
SysError ToWide(const char* path, WidePath* out) {
    if (strlen(path) > Win32PathLimit()) return ENGINE_PATH_TOO_LONG;
    if (!path[0]) return ERROR_PATH_NOT_FOUND;
    wchar_t raw[WIDE_PATH_SIZE];
    if (!WideFromUtf8(path, raw, WIDE_PATH_SIZE)) return ConversionError();
    return Normalise(raw, out);
}

// The path without its prefix, as a user writes it: "C:\a" or "\\server\share\a".
const wchar_t* WithoutPrefix(wchar_t* path) {
    if (wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
        path[6] = L'\\';
        return path + 6;
    }
    if (wcsncmp(path, L"\\\\?\\", 4) == 0) return path + 4;
    return path;
}

bool EndsWithSeparator(const WidePath& path) {
    return path.length > 0 && path.text[path.length - 1] == L'\\';
}

uint64_t StampOf(const FILETIME& written) {
    return (((uint64_t)written.dwHighDateTime << 32) | written.dwLowDateTime) | 1u;  // never 0: unknown
}

HANDLE OpenForInformation(const wchar_t* path) {
    // Backup semantics opens folders too; without FILE_FLAG_OPEN_REPARSE_POINT
    // the open follows junctions and symbolic links to what they lead to.
    // Attribute access alone is not stopped by another program's share mode 0.
    return CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// The wide calls take paths far longer than any engine buffer: the limit
// is the engine's own.
size_t Win32PathLimit() {
    return PATH_BUFFER_SIZE - 1;
}

char PathSeparator() {
    return '\\';
}

bool IsPathSeparator(char c) {
    return c == '\\' || c == '/';
}
