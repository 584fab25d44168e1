// The Win32 boundary's text conversions: inside the program a path is a
// UTF-8 `char` string, as on POSIX; the wide file, console and window calls
// take UTF-16. Neither conversion ever falls back to a best-fit or
// replacement character: a text is carried exactly or not at all.
#pragma once

#include <stddef.h>

// UTF-8 `text` as NUL-terminated UTF-16 in `out`, `outCount` units long.
// False when `text` is not valid UTF-8 (GetLastError() then says
// ERROR_NO_UNICODE_TRANSLATION) or does not fit (ERROR_INSUFFICIENT_BUFFER).
bool WideFromUtf8(const char* text, wchar_t* out, size_t outCount);

// UTF-16 `text` as NUL-terminated UTF-8 in `out`, `outSize` bytes long.
// False when `text` holds an unpaired surrogate (ERROR_NO_UNICODE_TRANSLATION)
// or does not fit (ERROR_INSUFFICIENT_BUFFER).
bool Utf8FromWide(const wchar_t* text, char* out, size_t outSize);
