// modextract on Windows: the arguments come from the wide command line,
// so that a folder of any name reaches the engine exactly, as UTF-8.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "cli.h"
#include "console.h"
#include "textconvert_win32.h"

int main() {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    char** argv = wide ? (char**)calloc((size_t)count + 1, sizeof(char*)) : nullptr;
    if (!argv) {
        fprintf(stderr, "modextract: the command line cannot be read\n");
        return EXIT_REFUSED;
    }
    for (int i = 0; i < count; ++i) {
        // Up to 3 UTF-8 bytes for each UTF-16 unit.
        size_t size = 3 * wcslen(wide[i]) + 1;
        argv[i] = (char*)malloc(size);
        if (!argv[i]) {
            fprintf(stderr, "modextract: out of memory\n");
            return EXIT_REFUSED;
        }
        // Only a name with an unpaired surrogate has no UTF-8 form; no
        // stand-in could name the same folder.
        if (!Utf8FromWide(wide[i], argv[i], size)) {
            fprintf(stderr, "modextract: argument %d holds a character that has no UTF-8 form\n", i);
            return EXIT_REFUSED;
        }
    }
    LocalFree(wide);
    // A pattern file on standard input may be UTF-16, which text mode would
    // cut at its first 0x1A byte.
    _setmode(_fileno(stdin), _O_BINARY);
    return RunModExtract(count, argv, stdin, stdout, stderr, IsTerminal(stderr));
}
