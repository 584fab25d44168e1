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
            FolderEntry entry = InventedEntry(name.c_str(), ENTRY_FILE);
            if (!sink(context, &entry)) return ENGINE_ABANDONED;
        }
        return 0;
    }
    if (walker) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int i = 0; i < WIDE; ++i) {
        std::string name = WideName(i);
        FolderEntry entry = InventedEntry(name.c_str(), ENTRY_FOLDER);
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
        FolderEntry entry = InventedEntry(child.c_str(), ENTRY_FOLDER);
        entry.id = FolderId{7, std::hash<std::string>()(path + PathSeparator() + child)};
        if (!sink(context, &entry)) return ENGINE_ABANDONED;
    }
    if (folders.empty()) {
        FolderEntry entry = InventedEntry("file", ENTRY_FILE);
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
