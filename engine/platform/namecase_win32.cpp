// Letter case on Win32: names that differ only in case name the same
// file, so names are compared in their upper-case form (NameAsCompared).
#include "platform.h"
#include "textconvert_win32.h"

#include <windows.h>

// The invariant locale's upper case, as the file systems' own tables have
// it, so that a user's locale does not change what matches.
const char* NameAsCompared(const char* name, char* out, size_t outSize) {
    wchar_t wide[PATH_BUFFER_SIZE];
    wchar_t upper[PATH_BUFFER_SIZE];
    if (!WideFromUtf8(name, wide, PATH_BUFFER_SIZE)) return nullptr;
    if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, wide, -1, upper, PATH_BUFFER_SIZE) <= 0) return nullptr;
    return Utf8FromWide(upper, out, outSize) ? out : nullptr;
}
