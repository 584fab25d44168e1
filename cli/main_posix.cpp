#include <stdio.h>

#include "cli.h"
#include "console.h"

int main(int argc, char** argv) {
    return RunModExtract(argc, argv, stdin, stdout, stderr, IsTerminal(stderr));
}
