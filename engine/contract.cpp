#include "contract.h"

#include <stdio.h>
#include <stdlib.h>

// Straight to the C library, not through Sys: a test may have swapped Sys
// for fakes that fail, and a broken contract must still be told.
void ContractBroken(const char* file, int line, const char* condition) {
    fprintf(stderr, "%s:%d: contract broken: %s\n", file, line, condition);
    fflush(stderr);
    abort();
}
