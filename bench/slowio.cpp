// slowio: a preload library that slows or counts a few calls of the program
// it is loaded into, to measure how soon a stop is noticed and how often
// folders are listed. Linux only; used by bench/stop-latency.sh.
//
//   LD_PRELOAD=slowio.so MX_SLOW_READ_MS=50 modextract ...
//
// MX_SLOW_READ_MS       read() of 64 KiB or more waits this long first
// MX_SLOW_COPY_MS       copy_file_range() waits this long first
// MX_SLOW_REALPATH_MS   realpath() waits this long first, in its calls
//                       after the first MX_SLOW_REALPATH_SKIP, and only the
//                       next MX_SLOW_REALPATH_CALLS of them when that is set
// MX_COUNT_LISTINGS=1   prints "listings N realpaths M" (opendir and
//                       realpath calls) on standard error at the end
#include <dirent.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace {

long Milliseconds(const char* name) {
    const char* value = getenv(name);
    return value ? atol(value) : 0;
}

void Pause(long milliseconds) {
    if (milliseconds <= 0) return;
    struct timespec wait = {milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0) {
    }
}

template <typename Call>
Call Next(const char* name) {
    return (Call)dlsym(RTLD_NEXT, name);
}

std::atomic<unsigned long> Listings, Resolutions;

struct Counter {
    ~Counter() {
        if (getenv("MX_COUNT_LISTINGS"))
            fprintf(stderr, "listings %lu realpaths %lu\n", Listings.load(), Resolutions.load());
    }
} CountAtExit;

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t size) {
    static auto real = Next<ssize_t (*)(int, void*, size_t)>("read");
    if (size >= (64u << 10)) Pause(Milliseconds("MX_SLOW_READ_MS"));
    return real(fd, buffer, size);
}

extern "C" ssize_t copy_file_range(int in, off64_t* inOffset, int out, off64_t* outOffset, size_t size,
                                   unsigned flags) {
    static auto real = Next<ssize_t (*)(int, off64_t*, int, off64_t*, size_t, unsigned)>("copy_file_range");
    Pause(Milliseconds("MX_SLOW_COPY_MS"));
    return real(in, inOffset, out, outOffset, size, flags);
}

extern "C" char* realpath(const char* path, char* resolved) {
    static auto real = Next<char* (*)(const char*, char*)>("realpath");
    long call = (long)++Resolutions - Milliseconds("MX_SLOW_REALPATH_SKIP");
    long calls = Milliseconds("MX_SLOW_REALPATH_CALLS");
    if (call > 0 && (calls == 0 || call <= calls)) Pause(Milliseconds("MX_SLOW_REALPATH_MS"));
    return real(path, resolved);
}

extern "C" DIR* opendir(const char* name) {
    static auto real = Next<DIR* (*)(const char*)>("opendir");
    ++Listings;
    return real(name);
}
