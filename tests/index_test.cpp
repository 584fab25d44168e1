#include <string.h>

#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "fileindex.h"
#include "treewalk.h"
#include "job.h"
#include "support.h"
#include "jobstate.h"

using Paths = std::vector<std::string>;

// Indexes `root` as the job would, as the original tree when `original`.
struct IndexRun {
    JobResult result = {};
    Paths paths;
    uint32_t counted = 0;

    IndexRun(const std::string& root, bool original, const std::string& relativeTo = "",
             PrefetchWalk* walk = nullptr) {
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
    ~IndexRun() { ReleaseJobResult(&result); }
};

TEST(IndexTree, EmptyFolderAndTreeOfEmptyFoldersGiveEmptyLists) {
    TempDir dir;
    IndexRun empty(dir.path, true);
    EXPECT_TRUE(empty.paths.empty());
    EXPECT_EQ(0u, empty.counted);

    WriteFile(dir / "a/b/c/x", "");
    std::remove((dir / "a/b/c/x").c_str());
    IndexRun nested(dir.path, true);
    EXPECT_TRUE(nested.paths.empty());
    EXPECT_EQ(0u, nested.result.failures + nested.result.warnings) << ProblemText(nested.result);
}

TEST(IndexTree, DepthFirstInListingOrderAndNewestAtTheHead) {
    TempDir dir;
    WriteFile(dir / "f1", "1");
    WriteFile(dir / "s/f2", "2");
    WriteFile(dir / "f3", "3");
    OrderedListing order({"f1", "s", "f3"});
    IndexRun run(dir.path, false);
    EXPECT_EQ((Paths{"/f3", "/s/f2", "/f1"}), run.paths);
}

TEST(IndexTree, OnlyDotAndDotDotAreSkipped) {
    TempDir dir;
    WriteFile(dir / ".hidden", "h");
    WriteFile(dir / "..x", "x");
    WriteFile(dir / ".folder/inner", "i");
    IndexRun run(dir.path, false);
    std::sort(run.paths.begin(), run.paths.end());
    EXPECT_EQ((Paths{"/..x", "/.folder/inner", "/.hidden"}), run.paths);
}

TEST(IndexTree, RootEndingInASeparatorGivesADoubledSeparator) {
    TempDir dir;
    WriteFile(dir / "a.dat", "a");
    std::string root = dir.path + PathSeparator();
    IndexRun run(root, false, dir.path);
    EXPECT_EQ((Paths{"//a.dat"}), run.paths);
}

TEST(IndexTree, CountsOnlyWhileIndexingTheOriginalTree) {
    TempDir dir;
    WriteFile(dir / "a", "1");
    WriteFile(dir / "d/b", "2");
    WriteFile(dir / "d/e/c", "3");
    IndexRun original(dir.path, true);
    EXPECT_EQ(3u, original.counted);
    EXPECT_EQ(3u, original.paths.size());
    IndexRun modded(dir.path, false);
    EXPECT_EQ(0u, modded.counted);
    EXPECT_EQ(3u, modded.paths.size());
}

TEST(IndexTree, RecordsSizesAndStampsFromTheListing) {
    TempDir dir;
    WriteFile(dir / "five", "12345");
    WriteFile(dir / "none", "");
    JobResult result = {};
    FileTree tree;
    InitFileTree(&tree, true);
    Job.Result = &result;
    IndexTree(dir.path.c_str(), &tree, TREE_MODDED, nullptr, nullptr);
    ASSERT_EQ(2u, FileCount(&tree));
    for (uint32_t file = 0; file < FileCount(&tree); ++file) {
        const char* name = NameAt(&tree, FileAt(&tree, file)->name);
        if (!ListingTellsSizes()) {  // the open handle tells
            EXPECT_EQ(SIZE_UNKNOWN, FileSize(&tree, file)) << name;
            EXPECT_EQ(0u, StampOf(&tree, file)) << name;
            continue;
        }
        EXPECT_EQ(strcmp(name, "five") == 0 ? 5u : 0u, FileSize(&tree, file)) << name;
        EXPECT_NE(0u, StampOf(&tree, file)) << name;
    }
    ReleaseFileTree(&tree);
    ReleaseJobResult(&result);
}

TEST(IndexTree, UnlistableFolderIsAFailureInEitherTree) {
    TempDir dir;
    WriteFile(dir / "ok/a", "a");
    WriteFile(dir / "locked/b", "b");
    FaultInjector faults;
    faults.OnlyPaths(FAULT_LIST, "locked");
    faults.Fail(FAULT_LIST, 1, 13, true);

    IndexRun modded(dir.path, false);
    EXPECT_EQ((Paths{"/ok/a"}), modded.paths);
    EXPECT_EQ(1u, modded.result.failures);
    EXPECT_EQ((Paths{dir / "locked"}), FailedPaths(modded.result));

    // In the original, every modded file below it would pass for new.
    IndexRun original(dir.path, true);
    EXPECT_EQ(1u, original.result.failures);
    EXPECT_EQ(0u, original.result.warnings);
    EXPECT_EQ(1u, original.counted);
}

TEST(IndexTree, MissingRootAddsNothingAndSaysSo) {
    TempDir dir;
    IndexRun run(dir / "absent", false);
    EXPECT_TRUE(run.paths.empty());
    EXPECT_EQ(1u, run.result.failures);
}

// A listing that invents entries, to reach what real trees rarely hold.
static std::vector<FolderEntry> Invented;
static SysError InventedListing(const char*, EntrySink sink, void* context) {
    for (const FolderEntry& entry : Invented) sink(context, &entry);
    return 0;
}

static FolderEntry Entry(const char* name, EntryKind kind, SysError error = 0) {
    FolderEntry entry = {};
    entry.name = name;
    entry.nameLength = strlen(name);
    entry.kind = kind;
    entry.error = error;
    return entry;
}

TEST(IndexTree, EntriesTooLongForAPathArePassedOverWithoutOverflow) {
    TempDir dir;
    std::string longName(PATH_BUFFER_SIZE + 100, 'n');
    Invented = {Entry(longName.c_str(), ENTRY_FILE), Entry("short", ENTRY_FILE)};
    SysSwap restore;  // the real calls come back at the end of the scope
    Sys.listFolder = InventedListing;
    IndexRun run(dir.path, false);
    EXPECT_EQ((Paths{"/short"}), run.paths);
    ASSERT_EQ(1u, run.result.failures);
    EXPECT_NE(std::string::npos, ProblemText(run.result).find("path too long"));
}

TEST(IndexTree, EntriesThatCannotBeExaminedOrAreNotFilesAreNamed) {
    TempDir dir;
    // Error 5 is an I/O error on POSIX, access denied on Win32; 2 is "not found" on both.
    Invented = {Entry("unexamined", ENTRY_BROKEN, 5), Entry("dangling", ENTRY_BROKEN, 2), Entry("pipe", ENTRY_OTHER)};
    SysSwap restore;  // the real calls come back at the end of the scope
    Sys.listFolder = InventedListing;
    for (bool original : {false, true}) {
        IndexRun run(dir.path, original);
        EXPECT_TRUE(run.paths.empty());
        EXPECT_EQ(1u, run.result.failures);  // what could not be examined may have been a file
        EXPECT_EQ(2u, run.result.warnings);  // a link that leads nowhere or a pipe never is
        EXPECT_NE(std::string::npos, ProblemText(run.result).find("leads nowhere"));
    }
}

TEST(IndexTree, FolderLeadingBackToAnAncestorIsNotDescended) {
    TempDir dir;
    WriteFile(dir / "sub/file", "f");
    // Invent a listing in which "sub" holds a folder with the root's identity.
    EntryKind kind;
    FolderId rootId;
    ASSERT_EQ(0u, Sys.examine(dir.path.c_str(), &kind, &rootId));
    static FolderId loopId;
    loopId = rootId;
    SysSwap restore;  // the real calls come back at the end of the scope
    Sys.listFolder = [](const char* folder, EntrySink sink, void* context) -> SysError {
        SysError error = PlatformCalls.listFolder(folder, sink, context);
        if (std::string(folder).find("sub") != std::string::npos) {
            FolderEntry loop = Entry("back", ENTRY_FOLDER);
            loop.id = loopId;
            sink(context, &loop);
        }
        return error;
    };
    IndexRun run(dir.path, false);
    EXPECT_EQ((Paths{"/sub/file"}), run.paths);
    ASSERT_EQ(1u, run.result.failures);
    EXPECT_NE(std::string::npos, ProblemText(run.result).find("leads back"));
}

// The read-ahead walk's listings stand in for the index's own: whether the
// walk is done before the index starts, or lags behind it so that the index
// lists most folders first and passes them on, the index is the same, with
// the same problems, as without a walk.
static std::thread::id IndexThread;
static bool WalkLags;
static SysError LockedOrSlowListing(const char* folder, EntrySink sink, void* context) {
    if (WalkLags && std::this_thread::get_id() != IndexThread) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (strstr(folder, "locked")) return 13;
    return PlatformCalls.listFolder(folder, sink, context);
}

TEST(IndexTree, TheWalksListingsGiveTheSameIndexAsListingAlone) {
    TempDir dir;
    for (int a = 0; a < 6; ++a)
        for (int b = 0; b < 5; ++b) {
            std::string folder = "/a" + std::to_string(a) + "/b" + std::to_string(b);
            WriteFile(dir / Native(folder + "/f" + std::to_string(a * 5 + b)), "x");
            WriteFile(dir / Native(folder + "/c/g"), std::string(a + b, 'y'));
        }
    WriteFile(dir / Native("/a2/locked/h"), "h");
    WriteFile(dir / Native("/top"), "t");
    IndexThread = std::this_thread::get_id();
    SysSwap restore;  // the real calls come back at the end of the scope
    Sys.listFolder = LockedOrSlowListing;

    WalkLags = false;
    IndexRun alone(dir.path, false);
    ASSERT_EQ(61u, alone.paths.size());
    ASSERT_EQ((Paths{dir.path + Native("/a2/locked")}), FailedPaths(alone.result));

    for (bool lags : {false, true}) {
        WalkLags = lags;
        PrefetchWalk* walk = StartTreePrefetch(dir.path.c_str(), nullptr, 4);
        if (!lags) std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the walk is ahead, or done
        IndexRun walked(dir.path, false, "", walk);
        StopTreePrefetch(walk);
        EXPECT_EQ(alone.paths, walked.paths) << "walk lags: " << lags;
        EXPECT_EQ(ProblemText(alone.result), ProblemText(walked.result)) << "walk lags: " << lags;
    }
}

// A folder of 30,000 subfolders of a few files each, invented: its listing
// is over the walk's 2 MiB of held listings, its subfolders over its 1 MiB
// of waiting folders, and the listings of those the walk stacks are over
// the 2 MiB together. Each listing is noted with whether a walker made it;
// the wide folder's listing by a walker is slow, so that the index waits
// for it.
static std::string WideRoot;
static std::mutex ListedLock;
static std::vector<std::pair<std::string, bool>> WideListed;
static int WideByIndex;  // subfolder listings the index made itself
static const int WIDE = 30000;

// Waits, for at most 10 s, till the walkers' fake listings have noted
// `count` listings in `listed`.
template <typename Listed>
static void WaitTillListed(const Listed& listed, size_t count) {
    for (int waited = 0; waited < 10000; ++waited) {
        {
            std::lock_guard<std::mutex> hold(ListedLock);
            if (listed.size() >= count) return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

static std::string WideName(int i) {
    char name[64];
    snprintf(name, sizeof name, "a-subfolder-with-a-longer-name-%05d", i);
    return name;
}

static SysError WideListing(const char* folder, EntrySink sink, void* context) {
    bool walker = std::this_thread::get_id() != IndexThread;
    {
        std::lock_guard<std::mutex> hold(ListedLock);
        WideListed.push_back({folder, walker});
    }
    if (folder != WideRoot) {
        // The index's first listings of its own are slow too, so that the
        // walkers, woken as it takes the wide listing, have their turn on a
        // busy machine before it is past the first subfolders.
        if (!walker && ++WideByIndex <= 20) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (int i = 0; i < 4; ++i) {
            std::string name = WideName(i) + ".file";
            FolderEntry entry = Entry(name.c_str(), ENTRY_FILE);
            if (!sink(context, &entry)) return ENGINE_ABANDONED;
        }
        return 0;
    }
    if (walker) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int i = 0; i < WIDE; ++i) {
        std::string name = WideName(i);
        FolderEntry entry = Entry(name.c_str(), ENTRY_FOLDER);
        entry.id = FolderId{7, 100u + (uint64_t)i};
        if (!sink(context, &entry)) return ENGINE_ABANDONED;
    }
    return 0;
}

TEST(IndexTree, TheWalkListsTheFirstSubfoldersOfAWideFolderAndKeepsTheListingTheIndexWaitsFor) {
    TempDir dir;
    WideRoot = dir.path;
    WideListed.clear();
    WideByIndex = 0;
    IndexThread = std::this_thread::get_id();
    SysSwap restore;  // the real calls come back at the end of the scope
    Sys.listFolder = WideListing;
    PrefetchWalk* walk = StartTreePrefetch(dir.path.c_str(), nullptr, 4);
    WaitTillListed(WideListed, 1);  // a walker is listing the root
    IndexRun run(dir.path, false, "", walk);
    StopTreePrefetch(walk);
    EXPECT_EQ(0u, run.result.failures + run.result.warnings) << ProblemText(run.result);
    std::set<std::string> first, last;
    for (int i = 0; i < 1000; ++i) {
        first.insert(WideRoot + PathSeparator() + WideName(i));
        last.insert(WideRoot + PathSeparator() + WideName(WIDE - 1 - i));
    }
    int rootListings = 0, firstByWalkers = 0, lastByWalkers = 0;
    std::map<std::string, int> times;
    for (const auto& listed : WideListed) {
        if (++times[listed.first] == 2) ADD_FAILURE() << listed.first << " listed twice";
        rootListings += listed.first == WideRoot;
        firstByWalkers += listed.second && first.count(listed.first);
        lastByWalkers += listed.second && last.count(listed.first);
    }
    EXPECT_EQ(1, rootListings);  // not listed again by the index after it waited for the walk's
    EXPECT_GT(firstByWalkers, 0);
    EXPECT_EQ(0, lastByWalkers);  // the walk's room goes to the subfolders the index needs next
}

// An invented tree: the root holds folders A and B, each of them 20
// folders of one file. A walker lists B slowly, so that its subfolders are
// stacked once the walk is well into A's: the walkers must still list
// every folder of A first, as the index comes to them, and not go down B
// while the index lists the rest of A itself.
static std::vector<std::string> OrderListed;

static SysError BranchListing(const char* folder, EntrySink sink, void* context) {
    std::string path = folder;
    std::string name = path.substr(path.find_last_of(PathSeparator()) + 1);
    bool walker = std::this_thread::get_id() != IndexThread;
    if (walker) {
        std::lock_guard<std::mutex> hold(ListedLock);
        OrderListed.push_back(name);
    }
    std::vector<std::string> folders;
    if (path == WideRoot) folders = {"A", "B"};
    else if (name == "A" || name == "B")
        for (int i = 0; i < 20; ++i) folders.push_back(name + std::to_string(10 + i));
    int delay = name == "B" ? 30 : name == "A" ? 5 : folders.empty() ? 2 : 0;  // B is taken while A is listed
    if (walker) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    for (const std::string& child : folders) {
        FolderEntry entry = Entry(child.c_str(), ENTRY_FOLDER);
        entry.id = FolderId{7, std::hash<std::string>()(path + PathSeparator() + child)};
        if (!sink(context, &entry)) return ENGINE_ABANDONED;
    }
    if (folders.empty()) {
        FolderEntry entry = Entry("file", ENTRY_FILE);
        if (!sink(context, &entry)) return ENGINE_ABANDONED;
    }
    return 0;
}

TEST(IndexTree, TheWalkListsFoldersInTheOrderTheIndexComesToThem) {
    TempDir dir;
    WideRoot = dir.path;
    OrderListed.clear();
    IndexThread = std::this_thread::get_id();
    SysSwap restore;  // the real calls come back at the end of the scope
    Sys.listFolder = BranchListing;
    PrefetchWalk* walk = StartTreePrefetch(dir.path.c_str(), nullptr, 2);
    WaitTillListed(OrderListed, 43);  // every folder
    IndexRun run(dir.path, false, "", walk);
    StopTreePrefetch(walk);
    EXPECT_EQ(40u, run.paths.size());
    ASSERT_EQ(43u, OrderListed.size());  // the walkers listed every folder
    size_t lastOfA = 0, firstOfB = OrderListed.size();
    for (size_t i = 0; i < OrderListed.size(); ++i) {
        if (OrderListed[i].size() == 3 && OrderListed[i][0] == 'A') lastOfA = i;
        if (OrderListed[i].size() == 3 && OrderListed[i][0] == 'B' && firstOfB == OrderListed.size()) firstOfB = i;
    }
    EXPECT_LT(lastOfA, firstOfB);
}
