// Calls per modded file, by kind, as the engine asks them of `Sys`: on
// Windows, where `strace` does not reach and where each open, status query
// and listing call passes the file-system filters. Runs one job and prints
// one line of figures per modded file (see bench/README.md).
//
//   callcount ORIGINAL MODDED DESTINATION [--dry-run]
//
// A copy is one `Sys` call; what it asks of the system itself (the source's
// open unless it came through its comparison's handle, the temporary's
// open, one status query of the source after its last read, the name) is
// counted apart as copies and copies through a handle.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "job.h"
#include "platform.h"

namespace {

enum Kind { OPENS, QUERIES, READS, CLOSES, LISTINGS, ENTRIES, HINTS, FOLDERS, RESOLVES, COPIES, THROUGH, KINDS };
const char* const KIND_NAMES[KINDS] = {"opens",  "queries", "reads",    "closes", "listings", "entries",
                                       "hints",  "folders", "resolves", "copies", "through-handle"};
std::atomic<unsigned long> Counts[KINDS];

void Count(Kind kind) {
    Counts[kind].fetch_add(1, std::memory_order_relaxed);
}

struct ForwardedSink {
    EntrySink sink;
    void* context;
};
bool CountEntry(void* context, const FolderEntry* entry) {
    Count(ENTRIES);
    ForwardedSink* to = (ForwardedSink*)context;
    return to->sink(to->context, entry);
}

SysError CountedList(const char* folder, EntrySink sink, void* context) {
    Count(LISTINGS);
    ForwardedSink to = {sink, context};
    return PlatformCalls.listFolder(folder, CountEntry, &to);
}
SysError CountedExamine(const char* path, EntryKind* kind, FolderId* id) {
    Count(QUERIES);
    return PlatformCalls.examine(path, kind, id);
}
SysError CountedOpen(const char* path, FileHandle* file) {
    Count(OPENS);
    return PlatformCalls.openForReading(path, file);
}
SysError CountedOpenListed(const char* path, FileHandle* file) {
    Count(OPENS);
    return PlatformCalls.openListed(path, file);
}
SysError CountedRead(FileHandle file, void* buffer, size_t size, size_t* got) {
    Count(READS);
    return PlatformCalls.readFile(file, buffer, size, got);
}
void CountedClose(FileHandle file) {
    Count(CLOSES);
    PlatformCalls.closeFile(file);
}
SysError CountedCreateFolders(const char* folder) {
    Count(FOLDERS);
    return PlatformCalls.createFolders(folder);
}
SysError CountedMakeFolder(const char* folder, bool* made) {
    Count(FOLDERS);
    return PlatformCalls.makeFolder(folder, made);
}
SysError CountedCopy(const CopyRequest* request, uint64_t* copied) {
    Count(COPIES);
    if (request->sourceOpen) Count(THROUGH);
    return PlatformCalls.copyFile(request, copied);
}
SysError CountedResolve(const char* path, char* out, size_t outSize) {
    Count(RESOLVES);
    return PlatformCalls.resolvePath(path, out, outSize);
}
SysError CountedHint(const char* path, uint64_t bytes, uint64_t* asked) {
    Count(HINTS);
    return PlatformCalls.adviseWillNeed(path, bytes, asked);
}
SysError CountedExamineOpen(FileHandle file, uint64_t* size, uint64_t* stamp) {
    Count(QUERIES);
    return PlatformCalls.examineOpenFile(file, size, stamp);
}

}  // namespace

int main(int argc, char** argv) {
    bool dryRun = argc == 5 && strcmp(argv[4], "--dry-run") == 0;
    if (argc != 4 && !dryRun) {
        fprintf(stderr, "usage: callcount ORIGINAL MODDED DESTINATION [--dry-run]\n");
        return 2;
    }
    Sys.listFolder = CountedList;
    Sys.examine = CountedExamine;
    Sys.openForReading = CountedOpen;
    Sys.openListed = CountedOpenListed;
    Sys.readFile = CountedRead;
    Sys.closeFile = CountedClose;
    Sys.createFolders = CountedCreateFolders;
    Sys.makeFolder = CountedMakeFolder;
    Sys.copyFile = CountedCopy;
    Sys.resolvePath = CountedResolve;
    Sys.adviseWillNeed = CountedHint;
    Sys.examineOpenFile = CountedExamineOpen;

    JobResult result = {};
    JobParameters* parameters = (JobParameters*)calloc(1, sizeof(JobParameters));
    if (!parameters) return 1;
    parameters->originalPath = argv[1];
    parameters->moddedPath = argv[2];
    parameters->destinationPath = argv[3];
    parameters->result = &result;
    parameters->dryRun = dryRun;
    ExtractionJob(parameters);  // takes over the parameters

    double files = result.moddedFiles ? (double)result.moddedFiles : 1.0;
    printf("modded files %u (equal %u, changed %u, new %u), failures %u\n", result.moddedFiles,
           result.moddedFiles - result.changedFiles - result.newFiles, result.changedFiles, result.newFiles,
           result.failures);
    unsigned long total = 0;
    for (int kind = 0; kind < KINDS; ++kind) {
        printf("%s%s", kind ? " " : "", KIND_NAMES[kind]);
        if (kind != ENTRIES && kind != THROUGH) total += Counts[kind].load();
    }
    printf(" total\n");
    for (int kind = 0; kind < KINDS; ++kind) printf("%s%.2f", kind ? " " : "", Counts[kind].load() / files);
    printf(" %.2f\n", total / files);
    int status = result.failures ? 1 : 0;
    ReleaseJobResult(&result);
    return status;
}
