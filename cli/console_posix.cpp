// A terminal takes UTF-8 bytes like any other file.
#include "console.h"

#include <unistd.h>

void WriteText(FILE* stream, const char* text, size_t length) {
    fwrite(text, 1, length, stream);
}

bool IsTerminal(FILE* stream) {
    return isatty(fileno(stream)) != 0;
}
