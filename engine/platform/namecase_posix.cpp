// Letter case on POSIX: names differ in every byte, so a name is compared
// as it is (NameAsCompared).
#include "platform.h"

const char* NameAsCompared(const char* name, char*, size_t) {
    return name;
}
