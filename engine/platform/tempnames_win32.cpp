// A copy's temporary names on Win32: "~mx<pid>_<n>.tmp" beside its target
// (TemporaryName), and the test for that pattern by which a later run finds
// and removes what a killed one left (IsTemporaryName). The copy that
// makes, renames and removes them is platform_win32_copy.cpp.
#include <stdio.h>
#include <string.h>

#include <atomic>

#include "platform_win32.h"

static std::atomic<unsigned> TemporaryCounter;

// Asked once: the process id names every temporary file of this run.
static unsigned long ProcessId() {
    static const unsigned long id = GetCurrentProcessId();
    return id;
}

bool TemporaryName(const WidePath& target, WidePath* out) {
    size_t folderLength = target.length;
    while (folderLength > target.rootLength && target.text[folderLength - 1] != L'\\') --folderLength;
    unsigned counter = TemporaryCounter.fetch_add(1);
    char names[2][40];
    snprintf(names[0], sizeof names[0], "~mx%lu_%u.tmp", ProcessId(), counter);
    snprintf(names[1], sizeof names[1], "~%x", counter);
    for (const char* name : names) {
        size_t nameLength = strlen(name);
        if (folderLength + nameLength >= PATH_BUFFER_SIZE) continue;  // as long as the engine's paths, at most
        memcpy(out->text, target.text, folderLength * sizeof(wchar_t));
        for (size_t i = 0; i <= nameLength; ++i) out->text[folderLength + i] = (wchar_t)(unsigned char)name[i];
        out->length = folderLength + nameLength;
        out->rootLength = target.rootLength;
        return true;
    }
    return false;
}

// Only the long pattern: "~<hex>" is too plain a name to remove on sight.
bool IsTemporaryName(const char* name) {
    return HasTemporaryPattern(name, "~mx", '_');
}
