// How modextract writes a name: as it is, or quoted as git quotes it.
#pragma once

#include <stdio.h>

// Writes `path` as it is or, when it holds a control character, a double
// quote, a '\' that is no separator of this platform, or bytes that are
// not UTF-8, quoted as git quotes names: in double quotes, the usual C
// escapes, '\' doubled, other control characters and each byte that is not
// part of valid UTF-8 as a three-digit octal escape ("\377"). Valid UTF-8
// stays as it is, so every language stays readable.
void PutQuoted(FILE* stream, const char* path);
