// How modextract writes: formatted text (Print), and a name as it is or
// quoted as git quotes it (PutQuoted).
#pragma once

#include <stdio.h>

// Writes `path` as it is or, when it holds a control character, a double
// quote, a '\' that is no separator of this platform, or bytes that are
// not UTF-8, quoted as git quotes names: in double quotes, the usual C
// escapes, '\' doubled, other control characters and each byte that is not
// part of valid UTF-8 as a three-digit octal escape ("\377"). Valid UTF-8
// stays as it is, so every language stays readable.
void PutQuoted(FILE* stream, const char* path);

// Writes the printf-style `format` to `stream` through WriteText, which
// shows UTF-8 on a console as it is; all of modextract's output goes so.
// Text too long for a small buffer is formatted again into one of its own
// size, or cut when memory does not allow it.
__attribute__((format(printf, 2, 3)))
void Print(FILE* stream, const char* format, ...);
