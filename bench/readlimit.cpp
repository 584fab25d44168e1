// readlimit: the floor of the benchmark.
//
//   readlimit [-q] [-l] [--overlap] [--readers N] [--expected FILE] ORIGINAL MODDED DESTINATION
//
// With --expected FILE (lines "A path" / "M path", as gentrees writes them):
// walks ORIGINAL, then MODDED (opendir/readdir/fstatat), reading every byte
// of every regular file once, in 1 MiB reads into one buffer; then copies
// the listed files of MODDED to DESTINATION/Data/<path>, making folders.
// That is the least any extraction tool has to do: read both trees whole
// (when a difference may sit in any byte) and write what differs.
//
// --overlap (with --expected only) copies on a second thread while the
// main thread reads: the floor for a tool that overlaps its writing with
// its reading, about the larger of the two instead of their sum.
//
// --readers N (with --expected only) reads with N threads at once, file by
// file from one shared list of both trees: what a disk that is not in the
// page cache gives when it has N reads in flight (the cold benchmark's floor).
//
// Without --expected it finds the changes itself: walks MODDED and reads
// each file together with its counterpart in ORIGINAL to the end, comparing
// chunk by chunk (two 1 MiB buffers, no early stop, no size shortcut), then
// copies the new and differing files. -l lists them ("A path" / "M path")
// on standard output. Original files missing from MODDED are not read.
//
// Plain C++17 and POSIX. Exit status 0, or 1 when something failed.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

const size_t CHUNK = 1 << 20;

struct Totals {
    uint64_t filesRead = 0;
    uint64_t bytesRead = 0;
    uint64_t filesCopied = 0;
    uint64_t bytesCopied = 0;
    std::atomic<unsigned> failures{0};  // the one counter both threads touch
};

Totals totals;
unsigned char* buffer;       // the one read buffer
unsigned char* otherBuffer;  // compare mode only

void Fail(const std::string& path, int error) {
    fprintf(stderr, "readlimit: %s: %s\n", path.c_str(), strerror(error));
    ++totals.failures;
}

// Reads up to `size` bytes; fewer only at the end of the file. -1 on error.
ssize_t ReadFull(int fd, unsigned char* into, size_t size) {
    size_t got = 0;
    while (got < size) {
        ssize_t n = read(fd, into + got, size - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        got += (size_t)n;
    }
    return (ssize_t)got;
}

void ReadWhole(const std::string& path, unsigned char* into = nullptr, uint64_t* bytes = nullptr) {
    if (!into) into = buffer;
    if (!bytes) bytes = &totals.bytesRead;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(path, errno);
    for (;;) {
        ssize_t n = ReadFull(fd, into, CHUNK);
        if (n < 0) {
            Fail(path, errno);
            break;
        }
        *bytes += (uint64_t)n;
        if ((size_t)n < CHUNK) break;
    }
    close(fd);
}

// Reads every file of `paths` with `readers` threads, each taking the next.
void ReadAllParallel(const std::vector<std::string>& paths, unsigned readers) {
    std::atomic<size_t> next{0};
    std::vector<uint64_t> bytes(readers, 0);
    std::vector<std::thread> threads;
    for (unsigned r = 0; r < readers; ++r)
        threads.emplace_back([&, r] {
            std::vector<unsigned char> own(CHUNK);
            for (size_t i; (i = next++) < paths.size();) ReadWhole(paths[i], own.data(), &bytes[r]);
        });
    for (std::thread& thread : threads) thread.join();
    for (uint64_t b : bytes) totals.bytesRead += b;
    totals.filesRead += paths.size();
}

// Calls `onFile(relative)` for every regular file below root/relative.
template <class OnFile>
void Walk(const std::string& root, const std::string& relative, OnFile& onFile) {
    std::string folder = relative.empty() ? root : root + "/" + relative;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return Fail(folder, errno);
    int fd = dirfd(dir);
    std::vector<std::string> files, subfolders;
    for (;;) {
        errno = 0;
        struct dirent* entry = readdir(dir);
        if (!entry) {
            if (errno) Fail(folder, errno);
            break;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        struct stat st;
        if (fstatat(fd, name, &st, 0) != 0) {
            Fail(folder + "/" + name, errno);
            continue;
        }
        std::string child = relative.empty() ? std::string(name) : relative + "/" + name;
        if (S_ISREG(st.st_mode)) files.push_back(child);
        else if (S_ISDIR(st.st_mode)) subfolders.push_back(child);
    }
    closedir(dir);
    for (const std::string& file : files) onFile(file);
    for (const std::string& sub : subfolders) Walk(root, sub, onFile);
}

bool MakeFolders(const std::string& path) {
    if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return true;
    if (errno != ENOENT) return false;
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return false;
    if (!MakeFolders(path.substr(0, slash))) return false;
    return mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

// Only one thread copies at a time (the main one, or the --overlap copier).
void CopyOne(const std::string& source, const std::string& target, unsigned char* copyBuffer) {
    static std::string lastFolder;
    size_t slash = target.rfind('/');
    std::string folder = target.substr(0, slash);
    if (folder != lastFolder) {
        if (!MakeFolders(folder)) return Fail(folder, errno);
        lastFolder = folder;
    }
    int from = open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0) return Fail(source, errno);
    int to = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (to < 0) {
        Fail(target, errno);
        close(from);
        return;
    }
    uint64_t copied = 0;
    bool failed = false;
#if defined(__linux__)
    bool kernelCopy = true;
    for (;;) {  // in-kernel copy, as a careful tool would do
        ssize_t n = copy_file_range(from, nullptr, to, nullptr, 1u << 30, 0);
        if (n > 0) {
            copied += (uint64_t)n;
            continue;
        }
        if (n == 0) break;
        if (errno == EINTR) continue;
        if (copied == 0 && (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP)) {
            kernelCopy = false;
            break;
        }
        Fail(target, errno);
        failed = true;
        break;
    }
    if (!kernelCopy)
#endif
        for (;;) {
            ssize_t n = ReadFull(from, copyBuffer, CHUNK);
            if (n < 0) {
                Fail(source, errno);
                failed = true;
                break;
            }
            for (ssize_t done = 0; done < n;) {
                ssize_t w = write(to, copyBuffer + done, (size_t)(n - done));
                if (w < 0) {
                    if (errno == EINTR) continue;
                    Fail(target, errno);
                    failed = true;
                    break;
                }
                done += w;
            }
            if (failed) break;
            copied += (uint64_t)n;
            if ((size_t)n < CHUNK) break;
        }
    if (close(to) != 0 && !failed) {
        Fail(target, errno);
        failed = true;
    }
    close(from);
    if (!failed) {
        ++totals.filesCopied;
        totals.bytesCopied += copied;
    }
}

// Compare mode: reads the modded file and its original to the end; true
// when they differ (or the original is missing: *isNew).
bool Differs(const std::string& original, const std::string& modded, bool* isNew) {
    *isNew = false;
    int m = open(modded.c_str(), O_RDONLY | O_CLOEXEC);
    if (m < 0) {
        Fail(modded, errno);
        return false;
    }
    int o = open(original.c_str(), O_RDONLY | O_CLOEXEC);
    if (o < 0 && errno != ENOENT) Fail(original, errno);
    if (o < 0) *isNew = true;
    bool differ = *isNew;
    bool moddedDone = false, originalDone = o < 0;
    while (!moddedDone || !originalDone) {
        ssize_t a = 0, b = 0;
        if (!moddedDone) {
            a = ReadFull(m, buffer, CHUNK);
            if (a < 0) {
                Fail(modded, errno);
                a = 0;
            }
            totals.bytesRead += (uint64_t)a;
            moddedDone = (size_t)a < CHUNK;
        }
        if (!originalDone) {
            b = ReadFull(o, otherBuffer, CHUNK);
            if (b < 0) {
                Fail(original, errno);
                b = 0;
            }
            totals.bytesRead += (uint64_t)b;
            originalDone = (size_t)b < CHUNK;
        }
        if (!differ && (a != b || memcmp(buffer, otherBuffer, (size_t)a) != 0)) differ = true;
    }
    totals.filesRead += o < 0 ? 1 : 2;
    close(m);
    if (o >= 0) close(o);
    return differ;
}

int Usage(const char* why) {
    if (why) fprintf(stderr, "readlimit: %s\n", why);
    fprintf(stderr, "usage: readlimit [-q] [-l] [--overlap] [--readers N] [--expected FILE] ORIGINAL MODDED DESTINATION\n");
    return 2;
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    bool quiet = false, list = false, overlap = false;
    unsigned readers = 0;
    const char* expectedPath = nullptr;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "-q") == 0) quiet = true;
        else if (strcmp(argv[i], "-l") == 0) list = true;
        else if (strcmp(argv[i], "--overlap") == 0) overlap = true;
        else if (strcmp(argv[i], "--readers") == 0 && i + 1 < argc) readers = (unsigned)atoi(argv[++i]);
        else if (strcmp(argv[i], "--expected") == 0 && i + 1 < argc) expectedPath = argv[++i];
        else if (argv[i][0] == '-' && argv[i][1]) return Usage("unknown option");
        else folders.push_back(WithoutTrailingSlash(argv[i]));
    }
    if (folders.size() != 3) return Usage("three folders are needed");
    if (overlap && !expectedPath) return Usage("--overlap needs --expected");
    if (readers && (!expectedPath || overlap)) return Usage("--readers needs --expected and no --overlap");
    const std::string& original = folders[0];
    const std::string& modded = folders[1];
    const std::string data = folders[2] + "/Data";

    buffer = (unsigned char*)malloc(CHUNK);
    if (!buffer) return 1;

    std::vector<std::string> toCopy;  // relative paths
    if (expectedPath) {
        FILE* in = fopen(expectedPath, "r");
        if (!in) {
            fprintf(stderr, "readlimit: %s: %s\n", expectedPath, strerror(errno));
            return 1;
        }
        char line[8192];
        while (fgets(line, sizeof line, in)) {
            size_t n = strlen(line);
            while (n && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
            if (n > 2 && (line[0] == 'A' || line[0] == 'M') && line[1] == ' ') toCopy.push_back(line + 2);
        }
        fclose(in);
        std::thread copier;
        if (overlap) {
            copier = std::thread([&] {
                std::vector<unsigned char> copyBuffer(CHUNK);
                for (const std::string& relative : toCopy)
                    CopyOne(modded + "/" + relative, data + "/" + relative, copyBuffer.data());
            });
        }
        if (readers) {
            std::vector<std::string> paths;
            auto collectOriginal = [&](const std::string& relative) { paths.push_back(original + "/" + relative); };
            auto collectModded = [&](const std::string& relative) { paths.push_back(modded + "/" + relative); };
            Walk(original, "", collectOriginal);
            Walk(modded, "", collectModded);
            ReadAllParallel(paths, readers);
        } else {
            auto readOriginal = [&](const std::string& relative) {
                ReadWhole(original + "/" + relative);
                ++totals.filesRead;
            };
            auto readModded = [&](const std::string& relative) {
                ReadWhole(modded + "/" + relative);
                ++totals.filesRead;
            };
            Walk(original, "", readOriginal);
            Walk(modded, "", readModded);
        }
        if (overlap) {
            copier.join();
            toCopy.clear();  // done
        }
    } else {
        otherBuffer = (unsigned char*)malloc(CHUNK);
        if (!otherBuffer) return 1;
        auto compare = [&](const std::string& relative) {
            bool isNew;
            if (Differs(original + "/" + relative, modded + "/" + relative, &isNew)) {
                toCopy.push_back(relative);
                if (list) printf("%c %s\n", isNew ? 'A' : 'M', relative.c_str());
            }
        };
        Walk(modded, "", compare);
    }

    for (const std::string& relative : toCopy) CopyOne(modded + "/" + relative, data + "/" + relative, buffer);

    if (!quiet)
        fprintf(stderr, "readlimit: read %llu files, %llu bytes; copied %llu files, %llu bytes; %u failed\n",
                (unsigned long long)totals.filesRead, (unsigned long long)totals.bytesRead,
                (unsigned long long)totals.filesCopied, (unsigned long long)totals.bytesCopied, totals.failures.load());
    free(buffer);
    free(otherBuffer);
    return totals.failures ? 1 : 0;
}
