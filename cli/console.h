// Where modextract's text goes: a console shows it through the platform's
// own text call, anything else (a file, a pipe) gets the UTF-8 bytes.
#pragma once

#include <stddef.h>
#include <stdio.h>

// Writes `length` bytes of UTF-8 `text` to `stream`. On Windows a console
// gets them as UTF-16 through WriteConsoleW, so names show as they are
// whatever the console's code page; a file or a pipe gets the bytes.
// Failures show in ferror(stream).
void WriteText(FILE* stream, const char* text, size_t length);

// True when `stream` is a terminal (a console on Windows).
bool IsTerminal(FILE* stream);
