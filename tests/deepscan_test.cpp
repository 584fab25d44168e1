#include <string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "comparepool.h"
#include "deepscan.h"
#include "originalindex.h"
#include "filecompare.h"
#include "support.h"
#include "jobstop.h"

using Paths = std::vector<std::string>;

// Runs a whole dry job and gives the changed list as "A path" / "M path".
struct Scan : JobTrees {
    Paths changed;

    std::string Original(const std::string& relative) const { return original + Native("/" + relative); }
    std::string Modded(const std::string& relative) const { return modded + Native("/" + relative); }
    Paths Run() {
        result.keepChangedList = true;
        JobTrees::Run(true);
        changed = ChangedPaths(result, modded);
        return changed;
    }
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
    // A big pair's chunks, whose modded halves are read in pieces.
    const size_t bigSize = (size_t)BIG_PAIR_SIZE + 17;
    for (size_t place : {BIG_CHUNK_SIZE - 1, BIG_CHUNK_SIZE + CHUNK_SIZE, bigSize - 1}) {
        Scan scan;
        std::string original = Bytes(bigSize);
        std::string modded = original;
        modded[place] ^= 0x20;
        scan.Both("big", original, modded);
        EXPECT_EQ((Paths{"M /big"}), scan.Run()) << "byte " << place;
    }
}

TEST(ChangeDetection, FilesOfWholeChunksCompareEqualToTheirEnd) {
    for (size_t size : {CHUNK_SIZE, 2 * CHUNK_SIZE, CHUNK_SIZE + 1, CHUNK_SIZE - 1, (size_t)BIG_PAIR_SIZE,
                        (size_t)BIG_PAIR_SIZE + CHUNK_SIZE + 1}) {
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

TEST(ChangeDetection, LetterCaseOfFoldersAndFilesMatchesAsTheFileSystemMatchesIt) {
    // Each tree holds one spelling only: a Windows folder cannot hold two.
    Scan scan;
    WriteFile(scan.Original("Textures/Wall.dds"), "same");
    WriteFile(scan.Modded("textures/Wall.dds"), "same");
    WriteFile(scan.Original("Meshes/Rock.nif"), "rock");
    WriteFile(scan.Modded("Meshes/rock.nif"), "ROCK");
    WriteFile(scan.Original("Caf\xc3\xa9/\xc3\x89t\xc3\xa9.txt"), "e");  // letters outside ASCII too
    WriteFile(scan.Modded("CAF\xc3\x89/\xc3\xa9T\xc3\x89.txt"), "e");
    Paths changed = scan.Run();
    std::sort(changed.begin(), changed.end());
#ifdef _WIN32
    // The same files, compared: only the one whose bytes differ is changed.
    EXPECT_EQ((Paths{"M /Meshes/rock.nif"}), changed);
    EXPECT_EQ(0u, scan.result.newFiles);
    EXPECT_EQ(0u, scan.result.removedFiles);
    const Paths copied = {"Data/Meshes/rock.nif"};
#else
    // POSIX names differ in every byte: three new files, three removed.
    EXPECT_EQ((Paths{"A /CAF\xc3\x89/\xc3\xa9T\xc3\x89.txt", "A /Meshes/rock.nif", "A /textures/Wall.dds"}), changed);
    EXPECT_EQ(3u, scan.result.removedFiles);
    const Paths copied = {"Data/CAF\xc3\x89/\xc3\xa9T\xc3\x89.txt", "Data/Meshes/rock.nif", "Data/textures/Wall.dds"};
#endif
    // A changed file lands under the modded tree's spelling.
    JobResult result = {};
    RunJob(scan.dir / "orig", scan.dir / "mod", scan.dir / "dest", &scan.recorder, &result);
    EXPECT_EQ(copied, ListTree(scan.dir / "dest"));
    EXPECT_EQ(0u, result.failures);
    ReleaseJobResult(&result);
}

TEST(ChangeDetection, NewFilesAndFilesOfAnotherSizeAreNotOpened) {
    Scan scan;
    scan.Both("resized", "short", "much longer");
    WriteFile(scan.Modded("added"), "new");
    FaultInjector faults;  // counts without failing
    scan.Run();
    // Where the listing did not tell the sizes, the open pair tells them, unread.
    EXPECT_EQ(ListingTellsSizes() ? 0 : 2, faults.Calls(FAULT_OPEN));
    EXPECT_EQ(2u, scan.changed.size());
    EXPECT_EQ(0u, scan.result.bytesRead);
}

TEST(ChangeDetection, PairWhoseOriginalCannotBeReadCountsAsChangedAndFails) {
    Scan scan;
    scan.Both("locked", "same", "same");
    FaultInjector faults;
    faults.OnlyPaths(FAULT_OPEN, "orig");
    faults.Fail(FAULT_OPEN, 1, 5);  // EIO, or access denied on Windows: not another program's brief hold
    EXPECT_EQ((Paths{"M /locked"}), scan.Run());
    ASSERT_EQ(1u, scan.result.failures);  // the mod may now hold an unchanged file
    EXPECT_EQ(0u, scan.result.warnings);
    EXPECT_EQ(1u, scan.result.uncompared);
    EXPECT_EQ(scan.Original("locked"), scan.result.problems->path);  // the file that could not be read
}

TEST(ChangeDetection, ReadErrorPartWayThroughCountsAsChanged) {
    Scan scan;
    scan.Both("big", Bytes(3 * CHUNK_SIZE), Bytes(3 * CHUNK_SIZE));
    FaultInjector faults;
    faults.Fail(FAULT_READ, 4, 5);  // the modded file's second chunk
    EXPECT_EQ((Paths{"M /big"}), scan.Run());
    EXPECT_EQ(1u, scan.result.warnings);  // the modded side: its copy tells whether it can be read
    EXPECT_EQ(0u, scan.result.uncompared);
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
