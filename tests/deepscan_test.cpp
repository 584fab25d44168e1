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
        changed.clear();
        std::string root = dir / "mod";
        for (FileNode* node = result.changedList; !IsSentinel(node); node = node->next)
            changed.push_back(std::string((node->flags & NODE_NEW) ? "A " : "M ") +
                              RelativePaths(node, root).front());
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

// FindOriginal on hand-made lists: relative paths against a root of 4.
static FileList MakeList(const std::vector<std::string>& paths) {
    FileList list = NewFileList();
    for (const std::string& path : paths) PushPath(&list, path.c_str(), path.size(), 0);
    return list;
}

TEST(FindOriginal, FindsByExactRelativePathAndTheFirstInListOrder) {
    // Two roots of the same length can give the same relative path.
    FileList list = MakeList({"AAAA/x/one", "BBBB/x/one", "CCCC/two", "DDDD/Two"});
    OriginalIndex index;
    BuildOriginalIndex(list, 4, &index);
    OriginalIndex walk = index;
    walk.slots = nullptr;  // the list walk that stands in when the table cannot be had
    for (const OriginalIndex* which : {&index, &walk}) {
        FileNode* found = FindOriginal(which, "/x/one", 6);
        ASSERT_NE(nullptr, found);
        EXPECT_STREQ("BBBB/x/one", found->path);  // pushed last, so first from the head
        EXPECT_STREQ("CCCC/two", FindOriginal(which, "/two", 4)->path);
        EXPECT_STREQ("DDDD/Two", FindOriginal(which, "/Two", 4)->path);
        EXPECT_EQ(nullptr, FindOriginal(which, "/TWO", 4));
        EXPECT_EQ(nullptr, FindOriginal(which, "/x/on", 5));
        EXPECT_EQ(nullptr, FindOriginal(which, "\\x\\one", 6));
    }
    ReleaseOriginalIndex(&index);
    ReleaseFileList(&list);
}

TEST(FindOriginal, EmptyOriginalListFindsNothing) {
    FileList list = NewFileList();
    OriginalIndex index;
    BuildOriginalIndex(list, 4, &index);
    EXPECT_EQ(nullptr, FindOriginal(&index, "/a", 2));
    ReleaseOriginalIndex(&index);
    ReleaseFileList(&list);
}

TEST(FindOriginal, ManyFilesAreAllFound) {
    std::vector<std::string> paths;
    for (int i = 0; i < 5000; ++i) paths.push_back("root/d" + std::to_string(i % 37) + "/f" + std::to_string(i));
    FileList list = MakeList(paths);
    OriginalIndex index;
    BuildOriginalIndex(list, 4, &index);
    for (const std::string& path : paths) {
        FileNode* found = FindOriginal(&index, path.c_str() + 4, path.size() - 4);
        ASSERT_NE(nullptr, found);
        EXPECT_EQ(path, found->path);
    }
    ReleaseOriginalIndex(&index);
    ReleaseFileList(&list);
}
