#include <string.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "deepscan.h"
#include "support.h"

using Paths = std::vector<std::string>;

// Runs a whole dry job and gives the changed list as "A path" / "M path".
struct Scan {
    TempDir dir;
    Recorder recorder;
    JobResult result = {};
    Paths changed;

    std::string Original(const std::string& relative) const { return dir / ("orig/" + relative); }
    std::string Modded(const std::string& relative) const { return dir / ("mod/" + relative); }
    void Both(const std::string& relative, const std::string& original, const std::string& modded) {
        WriteFile(Original(relative), original);
        WriteFile(Modded(relative), modded);
    }
    Paths Run() {
        std::filesystem::create_directories(dir / "orig");
        std::filesystem::create_directories(dir / "mod");
        result.keepChangedList = true;
        RunJob(dir / "orig", dir / "mod", dir / "dest", &recorder, &result, true);
        changed = ChangedPaths(result, dir / "mod");
        return changed;
    }
    ~Scan() { ReleaseJobResult(&result); }
};

static std::string Bytes(size_t count, char fill = 'x') {
    std::string s(count, fill);
    for (size_t i = 0; i < count; i += 4093) s[i] = (char)(i * 7);  // not one repeated byte
    return s;
}

TEST(ChangeDetection, IdenticalFilesAreLeftOutAndDifferingOnesFound) {
    Scan scan;
    scan.Both("same.dat", "contents", "contents");
    scan.Both("sub/differs.dat", "contents", "Contents");
    scan.Both("empty", "", "");
    EXPECT_EQ((Paths{"M /sub/differs.dat"}), scan.Run());
    EXPECT_EQ(1u, scan.result.changedFiles);
    EXPECT_EQ(0u, scan.result.newFiles);
}

TEST(ChangeDetection, OneDifferingByteIsFoundWhereverItIs) {
    const size_t size = 2 * CHUNK_SIZE + 17;
    const size_t places[] = {0, CHUNK_SIZE - 1, CHUNK_SIZE, 2 * CHUNK_SIZE - 1, 2 * CHUNK_SIZE, size - 1};
    for (size_t place : places) {
        Scan scan;
        std::string original = Bytes(size);
        std::string modded = original;
        modded[place] ^= 0x20;
        scan.Both("big", original, modded);
        EXPECT_EQ((Paths{"M /big"}), scan.Run()) << "byte " << place;
    }
}

TEST(ChangeDetection, FilesOfWholeChunksCompareEqualToTheirEnd) {
    for (size_t size : {CHUNK_SIZE, 2 * CHUNK_SIZE, CHUNK_SIZE + 1, CHUNK_SIZE - 1}) {
        Scan scan;
        scan.Both("f", Bytes(size), Bytes(size));
        EXPECT_EQ(Paths{}, scan.Run()) << size;
        EXPECT_EQ(2 * size, scan.result.bytesRead);
    }
}

TEST(ChangeDetection, TrailingZeroBytesAreARealChange) {
    Scan scan;
    scan.Both("longer", "data", std::string("data") + std::string(10, '\0'));
    scan.Both("shorter", std::string("data") + std::string(10, '\0'), "data");
    // Past the first chunk as well: lengths differ, contents agree as far as they go.
    std::string big = Bytes(CHUNK_SIZE);
    scan.Both("beyond", big + std::string(5, '\0') + "tail", big + std::string(5, '\0'));
    scan.Both("empty-vs-zero", "", std::string(1, '\0'));
    Paths changed = scan.Run();
    std::sort(changed.begin(), changed.end());
    EXPECT_EQ((Paths{"M /beyond", "M /empty-vs-zero", "M /longer", "M /shorter"}), changed);
}

TEST(ChangeDetection, LetterCaseOfAnyFolderOrFileMakesAFileNew) {
    // Each tree holds one spelling only: some file systems fold letter case.
    Scan scan;
    WriteFile(scan.Original("Textures/Wall.dds"), "same");
    WriteFile(scan.Modded("textures/Wall.dds"), "same");
    WriteFile(scan.Original("Meshes/Rock.nif"), "rock");
    WriteFile(scan.Modded("Meshes/rock.nif"), "rock");
    Paths changed = scan.Run();
    std::sort(changed.begin(), changed.end());
    EXPECT_EQ((Paths{"A /Meshes/rock.nif", "A /textures/Wall.dds"}), changed);
    EXPECT_EQ(2u, scan.result.newFiles);
}

TEST(ChangeDetection, NewFilesAndFilesOfAnotherSizeAreNotOpened) {
    Scan scan;
    scan.Both("resized", "short", "much longer");
    WriteFile(scan.Modded("added"), "new");
    FaultInjector faults;  // counts without failing
    scan.Run();
    EXPECT_EQ(0, faults.Calls(FAULT_OPEN));
    EXPECT_EQ(2u, scan.changed.size());
    EXPECT_EQ(0u, scan.result.bytesRead);
}

TEST(ChangeDetection, PairThatCannotBeComparedCountsAsChangedWithAWarning) {
    Scan scan;
    scan.Both("locked", "same", "same");
    FaultInjector faults;
    faults.OnlyPaths(FAULT_OPEN, "orig");
    faults.Fail(FAULT_OPEN, 1, 32);
    EXPECT_EQ((Paths{"M /locked"}), scan.Run());
    EXPECT_EQ(0u, scan.result.failures);
    ASSERT_EQ(1u, scan.result.warnings);
    EXPECT_EQ(scan.Original("locked"), scan.result.problems->path);  // the file that could not be read
}

TEST(ChangeDetection, ReadErrorPartWayThroughCountsAsChanged) {
    Scan scan;
    scan.Both("big", Bytes(3 * CHUNK_SIZE), Bytes(3 * CHUNK_SIZE));
    FaultInjector faults;
    faults.Fail(FAULT_READ, 4, 5);  // the modded file's second chunk
    EXPECT_EQ((Paths{"M /big"}), scan.Run());
    EXPECT_EQ(1u, scan.result.warnings);
    EXPECT_EQ(scan.Modded("big"), scan.result.problems->path);
}

TEST(ChangeDetection, ChangedListKeepsTheOrderTheIndexMetTheFiles) {
    Scan scan;
    WriteFile(scan.Modded("b"), "new");
    WriteFile(scan.Modded("a/inner"), "new");
    scan.Both("c", "1", "2");
    OrderedListing order({"c", "b", "a", "inner"});
    EXPECT_EQ((Paths{"M /c", "A /b", "A /a/inner"}), scan.Run());
}

TEST(ChangeDetection, ProgressAdvancesOncePerModdedFile) {
    Scan scan;
    scan.Both("same", "s", "s");
    scan.Both("differs", "1", "2");
    WriteFile(scan.Modded("new"), "n");
    scan.Run();
    std::vector<std::string> events = scan.recorder.events;
    auto scanStart = std::find(events.begin(), events.end(), "status 4");
    auto scanEnd = std::find(events.begin(), events.end(), "status 5");
    EXPECT_EQ((Paths{"position 1", "position 2", "position 3"}), Paths(scanStart + 1, scanEnd));
    EXPECT_EQ(2u, scan.result.newFiles + scan.result.changedFiles);
}

// FindOriginal on hand-made trees: "a/b/name" puts "name" in folder a/b,
// making the folders on the way that the tree does not hold yet.
static uint32_t AddPath(FileTree* tree, const std::string& path, uint64_t size = 0) {
    uint32_t folder = ROOT_FOLDER;
    size_t start = 0;
    for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
        std::string part = path.substr(start, slash - start);
        uint32_t found = NO_INDEX;
        for (uint32_t f = 1; f < FolderCount(tree) && found == NO_INDEX; ++f)
            if (FolderAt(tree, f)->parent == folder && part == NameAt(tree, FolderAt(tree, f)->name)) found = f;
        folder = found != NO_INDEX ? found : AddFolder(tree, folder, part.c_str(), part.size());
    }
    std::string name = path.substr(start);
    return AddFile(tree, folder, name.c_str(), name.size(), size, 0);
}

static void MakeTree(FileTree* tree, const std::vector<std::string>& paths) {
    InitFileTree(tree, false);
    SetTreeRoot(tree, "root", 4);
    for (const std::string& path : paths) AddPath(tree, path);
}

TEST(FindOriginal, FindsByExactFolderAndNameAndTheFirstInListOrder) {
    FileTree tree;
    MakeTree(&tree, {"x/one", "two", "Two", "x/y/three"});
    uint32_t later = AddPath(&tree, "x/one", 7);  // the same path again: newer, so first in list order
    FileTree modded;
    MakeTree(&modded, {"x/y/z/four", "x/q/five", "X/one"});
    OriginalIndex index;
    BuildOriginalIndex(&tree, &index);
    OriginalIndex search = index;
    search.files = search.folders = nullptr;  // what stands in when the tables cannot be had
    for (const OriginalIndex* which : {&index, &search}) {
        uint32_t x = FindOriginalFolder(which, ROOT_FOLDER, "x", 1);
        ASSERT_NE(NO_INDEX, x);
        EXPECT_EQ(later, FindOriginal(which, x, "one", 3));
        EXPECT_EQ(1u, FindOriginal(which, ROOT_FOLDER, "two", 3));
        EXPECT_EQ(2u, FindOriginal(which, ROOT_FOLDER, "Two", 3));
        EXPECT_EQ(NO_INDEX, FindOriginal(which, ROOT_FOLDER, "TWO", 3));
        EXPECT_EQ(NO_INDEX, FindOriginal(which, x, "on", 2));
        EXPECT_EQ(NO_INDEX, FindOriginal(which, ROOT_FOLDER, "one", 3));  // right name, wrong folder
        EXPECT_EQ(NO_INDEX, FindOriginalFolder(which, ROOT_FOLDER, "X", 1));
        // Modded folders match folder by folder from the root: x/y/z's parent x/y is there, it is not.
        uint32_t z = FileAt(&modded, 0)->folder;
        EXPECT_EQ(NO_INDEX, MatchFolder(which, &modded, z));
        EXPECT_EQ(FindOriginalFolder(which, x, "y", 1), MatchFolder(which, &modded, FolderAt(&modded, z)->parent));
        EXPECT_EQ(NO_INDEX, MatchFolder(which, &modded, FileAt(&modded, 1)->folder));
        EXPECT_EQ(ROOT_FOLDER, MatchFolder(which, &modded, ROOT_FOLDER));
    }
    ReleaseOriginalIndex(&index);
    ReleaseFileTree(&tree);
    ReleaseFileTree(&modded);
}

TEST(FindOriginal, EmptyOriginalTreeFindsNothing) {
    FileTree rootless, empty, modded;
    InitFileTree(&rootless, false);  // its root could not be listed
    MakeTree(&empty, {});
    MakeTree(&modded, {"a"});
    for (FileTree* tree : {&rootless, &empty}) {
        OriginalIndex index;
        BuildOriginalIndex(tree, &index);
        uint32_t folder = MatchFolder(&index, &modded, ROOT_FOLDER);
        EXPECT_EQ(tree == &empty ? ROOT_FOLDER : NO_INDEX, folder);
        if (folder != NO_INDEX) {
            EXPECT_EQ(NO_INDEX, FindOriginal(&index, folder, "a", 1));
        }
        ReleaseOriginalIndex(&index);
        ReleaseFileTree(tree);
    }
    ReleaseFileTree(&modded);
}

TEST(FindOriginal, ManyFilesAreAllFound) {
    std::vector<std::string> paths;
    for (int i = 0; i < 5000; ++i) paths.push_back("d" + std::to_string(i % 37) + "/f" + std::to_string(i));
    FileTree tree;
    MakeTree(&tree, paths);
    OriginalIndex index;
    BuildOriginalIndex(&tree, &index);
    for (uint32_t i = 0; i < paths.size(); ++i) {
        std::string folder = "d" + std::to_string(i % 37);
        std::string name = "f" + std::to_string(i);
        uint32_t found = FindOriginalFolder(&index, ROOT_FOLDER, folder.c_str(), folder.size());
        ASSERT_NE(NO_INDEX, found);
        EXPECT_EQ(i, FindOriginal(&index, found, name.c_str(), name.size()));
    }
    ReleaseOriginalIndex(&index);
    ReleaseFileTree(&tree);
}
