// dropcache: hands a finished destination's pages back to the kernel.
//
//   dropcache FOLDER
//
// Writes back every regular file under FOLDER and drops its pages from the
// page cache (fdatasync, then posix_fadvise DONTNEED); the files stay. The
// warm benchmarks run it on each destination after its timed run, so that
// the page cache keeps its size from run to run, as on a player's machine
// that writes one mod, instead of growing by a mod per run into memory that
// a virtual machine's host hands over again page by page (bench/README.md,
// "Destinations that stay in memory").
//
// Plain C++17 and POSIX. Exit status 0, or 1 when a file could not be
// dropped (each one named on standard error).
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

namespace {

unsigned failures = 0;

int DropOne(const char* path, const struct stat*, int type, struct FTW*) {
    if (type != FTW_F) return 0;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    int error = fd < 0 ? errno : 0;
    if (!error && fdatasync(fd) != 0) error = errno;
    if (!error) error = posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    if (fd >= 0) close(fd);
    if (error) {
        fprintf(stderr, "dropcache: %s: %s\n", path, strerror(error));
        ++failures;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: dropcache FOLDER\n");
        return 2;
    }
    if (nftw(argv[1], DropOne, 64, FTW_PHYS) != 0) {
        fprintf(stderr, "dropcache: %s: %s\n", argv[1], strerror(errno));
        return 1;
    }
    return failures ? 1 : 0;
}
