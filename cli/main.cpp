#include <stdio.h>
#include <unistd.h>

#include "cli.h"

int main(int argc, char** argv) {
    return RunModExtract(argc, argv, stdout, stderr, isatty(fileno(stderr)) != 0);
}
