#include "support.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string.h>

#include <gtest/gtest.h>

#include "copyqueue.h"
#include "fileindex.h"
#include "jobstate.h"
#include "jobstop.h"

namespace fs = std::filesystem;

// Paths in the tests are UTF-8, as in the engine, on every platform.
static fs::path U8(const std::string& path) {
    return fs::u8path(path);
}

std::string Native(const std::string& relative) {
    std::string out = relative;
    std::replace(out.begin(), out.end(), '/', PathSeparator());
    return out;
}

TempDir::TempDir() {
    fs::path base = fs::temp_directory_path();
    std::random_device seed;
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = base / ("mxtest-" + std::to_string(seed()));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path = candidate.u8string();
            return;
        }
    }
    ADD_FAILURE() << "cannot make a temporary folder under " << base;
}

static void MakeWritable(const fs::path& root) {
    std::error_code error;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, error);
    if (!fs::is_directory(fs::symlink_status(root, error))) return;
    for (fs::recursive_directory_iterator it(root, error), end; it != end; it.increment(error)) {
        if (error) break;
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add | fs::perm_options::nofollow, error);
    }
}

TempDir::~TempDir() {
    if (path.empty()) return;
    MakeWritable(U8(path));
    std::error_code error;
    fs::remove_all(U8(path), error);
}

std::string TempDir::operator/(const std::string& relative) const {
    return path + PathSeparator() + Native(relative);
}

void WriteFile(const std::string& path, const std::string& contents) {
    fs::path p = U8(path);
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), (std::streamsize)contents.size());
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(U8(path), std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

bool Exists(const std::string& path) {
    std::error_code error;
    return fs::exists(U8(path), error);
}

std::vector<std::string> ListTree(const std::string& root) {
    std::vector<std::string> files;
    std::error_code error;
    fs::path base = U8(root);
    for (fs::recursive_directory_iterator it(base, error), end; it != end; it.increment(error)) {
        if (error) break;
        if (it->is_regular_file()) files.push_back(fs::relative(it->path(), base).generic_u8string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

static void RecordStatus(void* handle, int status) {
    ((Recorder*)handle)->events.push_back("status " + std::to_string(status));
}
static void RecordRange(void* handle, uint32_t maximum) {
    ((Recorder*)handle)->events.push_back("range " + std::to_string(maximum));
}
static void RecordPosition(void* handle, uint32_t position) {
    Recorder* recorder = (Recorder*)handle;
    recorder->events.push_back("position " + std::to_string(position));
    if (recorder->stopAtPosition != 0 && position == recorder->stopAtPosition) {
        recorder->stopAtPosition = 0;
        StopJob();
    }
}
static void RecordStart(void* handle, int enabled) {
    Recorder* recorder = (Recorder*)handle;
    recorder->events.push_back("start " + std::to_string(enabled) + " running " +
                               std::to_string(recorder->running.load()));
}

const ReportOps RecordingReport = {RecordStatus, RecordRange, RecordPosition, RecordStart, nullptr, nullptr};

std::vector<std::string> Recorder::Only(const char* kind) const {
    std::vector<std::string> out;
    for (const std::string& event : events)
        if (event.compare(0, strlen(kind), kind) == 0) out.push_back(event);
    return out;
}

void RunJob(const std::string& original, const std::string& modded, const std::string& destination,
            Recorder* recorder, JobResult* result, bool dryRun, unsigned comparers) {
    JobParameters* parameters = (JobParameters*)calloc(1, sizeof(JobParameters));
    parameters->mainWindow = recorder;
    parameters->createModButton = recorder;
    parameters->progressBar = recorder;
    parameters->jobRunning = &recorder->running;
    parameters->originalPath = original.c_str();
    parameters->moddedPath = modded.c_str();
    parameters->destinationPath = destination.c_str();
    parameters->report = &RecordingReport;
    parameters->result = result;
    parameters->dryRun = dryRun;
    parameters->comparers = comparers;
    EXPECT_EQ(1u, ExtractionJob(parameters));
}

JobTrees::JobTrees() {
    fs::create_directories(U8(original));
    fs::create_directories(U8(modded));
}

JobTrees::~JobTrees() {
    ReleaseJobResult(&result);
}

void JobTrees::Run(bool dryRun, unsigned comparers) {
    RunJob(original, modded, destination, &recorder, &result, dryRun, comparers);
}

void JobTrees::Both(const std::string& relative, const std::string& inOriginal, const std::string& inModded) const {
    WriteFile(original + Native("/" + relative), inOriginal);
    WriteFile(modded + Native("/" + relative), inModded);
}

// The fault table: one row per operation.
struct FaultRow {
    int nth;
    bool sticky;
    SysError error;
    int calls;
    std::string fragment;
};
static FaultRow Faults[FAULT_OP_COUNT];

static std::mutex FaultLock;  // copies run on several threads

static bool Trip(FaultOp op, const char* path, SysError* error) {
    std::lock_guard<std::mutex> hold(FaultLock);
    FaultRow& row = Faults[op];
    if (path && !row.fragment.empty() && std::string(path).find(row.fragment) == std::string::npos) return false;
    int call = ++row.calls;
    if (row.nth == 0 || call < row.nth || (call > row.nth && !row.sticky)) return false;
    *error = row.error;
    return true;
}

static SysError FaultyList(const char* folder, EntrySink sink, void* context) {
    SysError error;
    if (Trip(FAULT_LIST, folder, &error)) return error;
    return PlatformCalls.listFolder(folder, sink, context);
}
static SysError FaultyOpen(const char* path, FileHandle* file) {
    SysError error;
    if (Trip(FAULT_OPEN, path, &error)) {
        *file = INVALID_FILE;
        return error;
    }
    return PlatformCalls.openForReading(path, file);
}
static SysError FaultyRead(FileHandle file, void* buffer, size_t size, size_t* got) {
    SysError error;
    if (Trip(FAULT_READ, nullptr, &error)) {
        *got = 0;
        return error;
    }
    return PlatformCalls.readFile(file, buffer, size, got);
}
static SysError FaultyCreateFolders(const char* folder) {
    SysError error;
    if (Trip(FAULT_CREATE_FOLDERS, folder, &error)) return error;
    return PlatformCalls.createFolders(folder);
}
static SysError FaultyMakeFolder(const char* folder, bool* made) {
    SysError error;
    *made = false;
    if (Trip(FAULT_CREATE_FOLDERS, folder, &error)) return error;
    return PlatformCalls.makeFolder(folder, made);
}
static SysError FaultyCopy(const CopyRequest* request, uint64_t* copied) {
    SysError error;
    if (Trip(FAULT_COPY, request->source, &error)) {
        *copied = 0;
        return error;
    }
    return PlatformCalls.copyFile(request, copied);
}

SysError CopyPlain(const char* source, const char* target, uint64_t* copied) {
    static unsigned char* chunk = AllocateChunk(1 << 20);
    CopyRequest request = {source, target, 0, 0, chunk, 1 << 20, nullptr, nullptr, false, INVALID_FILE, nullptr};
    return Sys.copyFile(&request, copied);
}

FaultInjector::FaultInjector() {
    for (FaultRow& row : Faults) row = FaultRow{0, false, 0, 0, ""};
    Sys.listFolder = FaultyList;
    Sys.openForReading = FaultyOpen;
    Sys.openListed = FaultyOpen;
    Sys.readFile = FaultyRead;
    Sys.createFolders = FaultyCreateFolders;
    Sys.makeFolder = FaultyMakeFolder;
    Sys.copyFile = FaultyCopy;
}

static std::string JunctionParent;
static FolderId JunctionId;

static SysError ListWithJunction(const char* folder, EntrySink sink, void* context) {
    SysError error = PlatformCalls.listFolder(folder, sink, context);
    if (error || JunctionParent != folder) return error;
    FolderEntry entry = {};
    entry.name = "junction";
    entry.nameLength = 8;
    entry.kind = ENTRY_FOLDER;
    entry.id = JunctionId;
    return sink(context, &entry) ? (SysError)0 : ENGINE_ABANDONED;
}

FakeJunction::FakeJunction(const std::string& parent, const std::string& target) {
    EntryKind kind;
    EXPECT_EQ(0u, Sys.examine(target.c_str(), &kind, &JunctionId));
    JunctionParent = parent;
    Sys.listFolder = ListWithJunction;
}

FaultInjector::~FaultInjector() {
    Sys = PlatformCalls;
}

void FaultInjector::Fail(FaultOp op, int nth, SysError error, bool sticky) {
    Faults[op].nth = nth;
    Faults[op].error = error;
    Faults[op].sticky = sticky;
}

void FaultInjector::OnlyPaths(FaultOp op, const std::string& fragment) {
    Faults[op].fragment = Native(fragment);
}

int FaultInjector::Calls(FaultOp op) const {
    return Faults[op].calls;
}

std::vector<std::string> FailedPaths(const JobResult& result) {
    std::vector<std::string> paths;
    for (Problem* problem = result.problems; problem; problem = problem->next)
        if (problem->failure) paths.push_back(problem->path);
    return paths;
}

std::string ProblemText(const JobResult& result) {
    std::string text;
    for (Problem* problem = result.problems; problem; problem = problem->next) {
        char line[512];
        DescribeProblem(problem, line, sizeof line);
        text += std::string(problem->failure ? "failure " : "warning ") + problem->path + ": " + line + "\n";
    }
    return text;
}

bool SizeAndStampOf(const std::string& path, uint64_t* size, uint64_t* stamp) {
    FileHandle file;
    if (PlatformCalls.openForReading(path.c_str(), &file) != 0) return false;
    SysError error = PlatformCalls.examineOpenFile(file, size, stamp);
    PlatformCalls.closeFile(file);
    return error == 0;
}

bool ListingTellsSizes() {
    static const bool tells = [] {
        TempDir dir;
        WriteFile(dir / "f", "f");
        uint64_t size = SIZE_UNKNOWN;
        PlatformCalls.listFolder(dir.path.c_str(), [](void* context, const FolderEntry* entry) {
            if (entry->kind == ENTRY_FILE) *(uint64_t*)context = entry->size;
            return true;
        }, &size);
        return size != SIZE_UNKNOWN;
    }();
    return tells;
}

static std::vector<std::string> ListingOrder;

struct Collected {
    std::string name;
    FolderEntry entry;
};

static bool Collect(void* context, const FolderEntry* entry) {
    ((std::vector<Collected>*)context)->push_back({entry->name, *entry});
    return true;
}

static size_t Rank(const std::string& name) {
    auto at = std::find(ListingOrder.begin(), ListingOrder.end(), name);
    return (size_t)(at - ListingOrder.begin());
}

static SysError OrderedList(const char* folder, EntrySink sink, void* context) {
    std::vector<Collected> entries;
    SysError error = PlatformCalls.listFolder(folder, Collect, &entries);
    std::sort(entries.begin(), entries.end(), [](const Collected& a, const Collected& b) {
        size_t ra = Rank(a.name), rb = Rank(b.name);
        return ra != rb ? ra < rb : a.name < b.name;
    });
    for (Collected& c : entries) {
        c.entry.name = c.name.c_str();
        if (c.entry.size == SIZE_UNKNOWN)
            SizeAndStampOf(std::string(folder) + PathSeparator() + c.name, &c.entry.size, &c.entry.stamp);
        if (!sink(context, &c.entry)) return ENGINE_ABANDONED;
    }
    return error;
}

OrderedListing::OrderedListing(std::vector<std::string> names) {
    ListingOrder = std::move(names);
    Sys.listFolder = OrderedList;
}

OrderedListing::~OrderedListing() {
    Sys.listFolder = PlatformCalls.listFolder;
}

static std::string RelativeTo(const FileTree* tree, uint32_t file, const std::string& root) {
    char path[PATH_BUFFER_SIZE];
    std::string relative = std::string(path, FilePath(tree, file, path)).substr(root.size());
    std::replace(relative.begin(), relative.end(), PathSeparator(), '/');
    return relative;
}

std::vector<std::string> RelativePaths(const FileTree* tree, const std::string& root) {
    std::vector<std::string> paths;
    for (uint32_t file = FileCount(tree); file-- > 0;) paths.push_back(RelativeTo(tree, file, root));
    return paths;
}

std::vector<std::string> ChangedPaths(const JobResult& result, const std::string& root) {
    std::vector<std::string> paths;
    for (uint32_t at = result.changedList.count; at-- > 0;) {
        const ChangedFile* changed = ChangedAt(&result.changedList, at);
        paths.push_back(std::string((changed->flags & CHANGED_NEW) ? "A " : "M ") +
                        RelativeTo(&result.moddedTree, changed->file, root));
    }
    return paths;
}

FolderEntry InventedEntry(const char* name, EntryKind kind, SysError error) {
    FolderEntry entry = {};
    entry.name = name;
    entry.nameLength = strlen(name);
    entry.kind = kind;
    entry.error = error;
    return entry;
}

IndexRun::IndexRun(const std::string& root, bool original, const std::string& relativeTo, PrefetchWalk* walk) {
    FileTree tree;
    InitFileTree(&tree, !original);
    Job.Result = &result;
    Job.OriginalCount = 0;
    IndexTree(root.c_str(), &tree, original ? TREE_ORIGINAL : TREE_MODDED, walk, nullptr);
    counted = Job.OriginalCount;
    paths = RelativePaths(&tree, relativeTo.empty() ? root : relativeTo);
    ReleaseFileTree(&tree);
    Job.Result = nullptr;
}

IndexRun::~IndexRun() {
    ReleaseJobResult(&result);
}
