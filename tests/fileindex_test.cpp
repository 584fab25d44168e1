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

TEST(IndexTree, EntriesTooLongForAPathArePassedOverWithoutOverflow) {
    TempDir dir;
    std::string longName(PATH_BUFFER_SIZE + 100, 'n');
    Invented = {InventedEntry(longName.c_str(), ENTRY_FILE), InventedEntry("short", ENTRY_FILE)};
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
    Invented = {InventedEntry("unexamined", ENTRY_BROKEN, 5), InventedEntry("dangling", ENTRY_BROKEN, 2), InventedEntry("pipe", ENTRY_OTHER)};
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
            FolderEntry loop = InventedEntry("back", ENTRY_FOLDER);
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
