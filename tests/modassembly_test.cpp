#include <string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "copyqueue.h"
#include "jobstop.h"
#include "modassembly.h"
#include "support.h"
#include "paths.h"

using Paths = std::vector<std::string>;

TEST(ModAssembly, CopiesNewAndChangedFilesAtTheirRelativePaths) {
    JobTrees a;
    a.Both("same.txt", "same", "same");
    a.Both("top.txt", "old", "new top");
    WriteFile(a.modded + Native("/Sub/Deep/added.dat"), "added");
    a.Run();
    EXPECT_EQ((Paths{"Data/Sub/Deep/added.dat", "Data/top.txt"}), ListTree(a.destination));
    EXPECT_EQ("new top", ReadFile(a.destination + Native("/Data/top.txt")));
    EXPECT_EQ("added", ReadFile(a.destination + Native("/Data/Sub/Deep/added.dat")));
    EXPECT_EQ(2u, a.result.copiedFiles);
    EXPECT_EQ(12u, a.result.bytesCopied);
    EXPECT_EQ(0u, a.result.failures) << ProblemText(a.result);
}

TEST(ModAssembly, ReplacesExistingTargetsAndLeavesTheRestOfTheDestinationAlone) {
    JobTrees a;
    WriteFile(a.modded + Native("/a.txt"), "fresh");
    WriteFile(a.destination + Native("/Data/a.txt"), "stale and longer than fresh");
    WriteFile(a.destination + Native("/Data/other.txt"), "keep me");
    WriteFile(a.destination + Native("/readme"), "mine");
    a.Run();
    EXPECT_EQ("fresh", ReadFile(a.destination + Native("/Data/a.txt")));
    EXPECT_EQ("keep me", ReadFile(a.destination + Native("/Data/other.txt")));
    EXPECT_EQ("mine", ReadFile(a.destination + Native("/readme")));
    EXPECT_EQ((Paths{"Data/a.txt", "Data/other.txt", "readme"}), ListTree(a.destination));  // no temporary left
}

TEST(ModAssembly, NothingChangedCreatesNothingNotEvenData) {
    JobTrees a;
    a.Both("x", "x", "x");
    a.Run();
    EXPECT_FALSE(Exists(a.destination));
    EXPECT_EQ((Paths{"range 1", "range 0"}), a.recorder.Only("range"));
}

TEST(ModAssembly, DryRunWritesNothing) {
    JobTrees a;
    WriteFile(a.modded + Native("/new/file"), "n");
    a.Run(true);
    EXPECT_FALSE(Exists(a.destination));
    EXPECT_EQ(1u, a.result.newFiles);
    EXPECT_EQ(0u, a.result.copiedFiles);
}

TEST(ModAssembly, FailedCopyIsNamedAndTheNextFileStillFollows) {
    JobTrees a;
    WriteFile(a.modded + Native("/first"), "1");
    WriteFile(a.modded + Native("/second"), "2");
    FaultInjector faults;
    faults.Fail(FAULT_COPY, 1, 28);
    a.Run();
    ASSERT_EQ(1u, a.result.failures) << ProblemText(a.result);
    EXPECT_EQ(1u, a.result.copiedFiles);
    EXPECT_EQ(2u, ListTree(a.modded).size());
    // The one that failed is named, by its target (the source was readable); the other one is there.
    std::string failed = FailedPaths(a.result).front();
    std::string other = failed == a.destination + Native("/Data/first") ? "second" : "first";
    EXPECT_TRUE(Exists(a.destination + Native("/Data/") + other));
    // Both files still moved the bar.
    Paths positions = a.recorder.Only("position");
    EXPECT_EQ((Paths{"position 1", "position 2", "position 0"}), Paths(positions.end() - 3, positions.end()));
}

TEST(ModAssembly, FolderThatCannotBeMadeFailsItsFilesOnly) {
    JobTrees a;
    WriteFile(a.modded + Native("/blocked/one"), "1");
    WriteFile(a.modded + Native("/open/two"), "2");
    FaultInjector faults;
    faults.OnlyPaths(FAULT_CREATE_FOLDERS, "blocked");
    faults.Fail(FAULT_CREATE_FOLDERS, 1, 13, true);
    a.Run();
    // Named by the target: the source was never the trouble.
    EXPECT_EQ((Paths{a.destination + Native("/Data/blocked/one")}), FailedPaths(a.result));
    EXPECT_EQ((Paths{"Data/open/two"}), ListTree(a.destination));
}

TEST(ModAssembly, FileWhoseTargetPathIsTooLongIsNamedNotCut) {
    JobTrees a;
    WriteFile(a.modded + Native("/f"), "ok");
    // destination + separator + "Data" + separator + "f" is one past the limit.
    size_t length = PathLimit() - 6;
    a.destination += PathSeparator() + std::string(length - a.destination.size() - 1, 'd');
    a.Run();
    EXPECT_EQ((Paths{a.modded + Native("/f")}), FailedPaths(a.result));
    EXPECT_NE(std::string::npos, ProblemText(a.result).find("path too long"));
    EXPECT_FALSE(Exists(a.dir / "dest"));
}

// A second extraction into the same destination. Every target a copy is
// asked to write is recorded through Sys, so a write where none is due
// fails the test, whatever the platform's copy would have done.
namespace {

std::mutex WrittenLock;
std::vector<std::string> Written;

SysError RecordedCopy(const CopyRequest* request, uint64_t* copied) {
    {
        std::lock_guard<std::mutex> hold(WrittenLock);
        Written.push_back(request->target);
    }
    return PlatformCalls.copyFile(request, copied);
}

struct RecordedWrites {
    SysSwap restore;
    RecordedWrites() {
        Written.clear();
        Sys.copyFile = RecordedCopy;
    }
    Paths Sorted() const {
        std::lock_guard<std::mutex> hold(WrittenLock);
        Paths sorted = Written;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }
};

// The job once more on the same folders, into a fresh result.
void RunAgain(JobTrees* a) {
    ReleaseJobResult(&a->result);
    a->result = JobResult{};
    a->Run();
}

uint64_t StampOfFile(const std::string& path) {
    uint64_t size = 0, stamp = 0;
    EXPECT_TRUE(SizeAndStampOf(path, &size, &stamp)) << path;
    return stamp;
}

std::filesystem::file_time_type WrittenAt(const std::string& path) {
    return std::filesystem::last_write_time(std::filesystem::u8path(path));
}

// Rewrites `path` with `contents` and puts its last write time back.
void RewriteKeepingTimes(const std::string& path, const std::string& contents) {
    auto before = WrittenAt(path);
    WriteFile(path, contents);
    std::filesystem::last_write_time(std::filesystem::u8path(path), before);
}

std::atomic<uint64_t> FakeClock;
std::atomic<int> ReadsAtTarget;

}  // namespace

TEST(SecondExtraction, WritesOnlyTheTargetsThatDoNotHoldTheirFilesBytes) {
    JobTrees a;
    a.Both("same.txt", "same", "same");
    a.Both("sub/kept.txt", "old", "new kept");
    a.Both("sub/inplace.txt", "old", "new, then changed in place");
    a.Both("sub/resized.txt", "old", "new, then resized");
    WriteFile(a.modded + Native("/sub/new.txt"), "added");
    WriteFile(a.modded + Native("/deep/er/gone.txt"), "added, then removed");
    WriteFile(a.modded + Native("/retimed.txt"), "added, then given other times");
    std::string big(1536 * 1024, 'b');  // three rounds of the check: its last byte is in the last one
    a.Both("big.dat", "old", big);
    a.Run();
    ASSERT_EQ(0u, a.result.failures) << ProblemText(a.result);
    ASSERT_EQ(7u, a.result.copiedFiles);
    EXPECT_EQ(0u, a.result.inPlace);
    auto target = [&](const std::string& relative) { return a.destination + Native("/Data/" + relative); };
    uint64_t keptStamp = StampOfFile(target("sub/kept.txt"));
    uint64_t newStamp = StampOfFile(target("sub/new.txt"));

    RewriteKeepingTimes(target("sub/inplace.txt"), "NEW, then changed in place");
    RewriteKeepingTimes(target("big.dat"), big.substr(0, big.size() - 1) + "c");
    WriteFile(target("sub/resized.txt"), "new");
    std::filesystem::remove(std::filesystem::u8path(target("deep/er/gone.txt")));
    std::filesystem::last_write_time(std::filesystem::u8path(target("retimed.txt")),
                                     WrittenAt(target("retimed.txt")) - std::chrono::hours(24 * 400));
    RecordedWrites writes;
    RunAgain(&a);
    EXPECT_EQ(0u, a.result.failures) << ProblemText(a.result);
    EXPECT_EQ((Paths{target("big.dat"), target("deep/er/gone.txt"), target("sub/inplace.txt"), target("sub/resized.txt")}),
              writes.Sorted());
    EXPECT_EQ(4u, a.result.copiedFiles);
    EXPECT_EQ(3u, a.result.inPlace);
    // The counts describe the mod, not the writes.
    EXPECT_EQ(3u, a.result.newFiles);
    EXPECT_EQ(4u, a.result.changedFiles);
    for (const std::string& relative : ListTree(a.modded)) {
        if (relative == "same.txt") continue;
        EXPECT_EQ(ReadFile(a.modded + Native("/" + relative)), ReadFile(target(relative))) << relative;
    }
    // Untouched: not replaced, not even given times (on POSIX the stamp holds the change time too).
    EXPECT_EQ(keptStamp, StampOfFile(target("sub/kept.txt")));
    EXPECT_EQ(newStamp, StampOfFile(target("sub/new.txt")));
    EXPECT_TRUE(WrittenAt(target("retimed.txt")) == WrittenAt(a.modded + Native("/retimed.txt")));
    EXPECT_FALSE(Exists(target("same.txt")));

    // A dry run compares no target, and a third run writes nothing at all.
    ReleaseJobResult(&a.result);
    a.result = JobResult{};
    a.Run(true);
    EXPECT_EQ(0u, a.result.inPlace);
    RunAgain(&a);
    EXPECT_EQ(7u, a.result.inPlace);
    EXPECT_EQ(4u, writes.Sorted().size());
}

TEST(SecondExtraction, LinksAndFoldersInATargetsPlaceFareAsWithACopy) {
    JobTrees a;
    WriteFile(a.modded + Native("/linked.txt"), "the same bytes");
    WriteFile(a.modded + Native("/folder.txt"), "a file");
    WriteFile(a.destination + Native("/Data/folder.txt/inside"), "a folder's file");
    std::string elsewhere = a.dir / "elsewhere.txt";
    WriteFile(elsewhere, "the same bytes");
    std::error_code refused;
    std::filesystem::create_symlink(std::filesystem::u8path(elsewhere),
                                    std::filesystem::u8path(a.destination + Native("/Data/linked.txt")), refused);
    RecordedWrites writes;
    a.Run();
    EXPECT_EQ(0u, a.result.inPlace);
    // The folder is no file of the mod's: its copy fails, named by the target, and it stays.
    EXPECT_EQ((Paths{a.destination + Native("/Data/folder.txt")}), FailedPaths(a.result));
    EXPECT_EQ("a folder's file", ReadFile(a.destination + Native("/Data/folder.txt/inside")));
    // A link is never read through as if it were the target: the copy replaces it.
    EXPECT_EQ((Paths{a.destination + Native("/Data/folder.txt"), a.destination + Native("/Data/linked.txt")}),
              writes.Sorted());
    if (!refused) {
        EXPECT_FALSE(std::filesystem::is_symlink(std::filesystem::u8path(a.destination + Native("/Data/linked.txt"))));
        EXPECT_EQ("the same bytes", ReadFile(elsewhere));
    }
}

TEST(SecondExtraction, AHeldTargetFaresAsItsCopyWould) {
    JobTrees a;
    WriteFile(a.modded + Native("/equal.txt"), "equal");
    WriteFile(a.modded + Native("/other.txt"), "other");
    a.Run();
    ASSERT_EQ(2u, a.result.copiedFiles);
    std::string equal = a.destination + Native("/Data/equal.txt"), other = a.destination + Native("/Data/other.txt");
    WriteFile(other, "of another size");
    // Held as a game holds its files: exclusively where the platform can (Win32).
    FileHandle heldEqual = INVALID_FILE, heldOther = INVALID_FILE;
    ASSERT_EQ(0u, PlatformCalls.openForReading(equal.c_str(), &heldEqual));
    ASSERT_EQ(0u, PlatformCalls.openForReading(other.c_str(), &heldOther));
    SysSwap restore;
    FakeClock = 1000;  // the waits for the holds pass at once
    Sys.clockMilliseconds = [] { return FakeClock.load(); };
    Sys.sleepMilliseconds = [](uint32_t milliseconds) { FakeClock += milliseconds; };
    RunAgain(&a);
    PlatformCalls.closeFile(heldEqual);
    PlatformCalls.closeFile(heldOther);
    Paths failed = FailedPaths(a.result);
    bool otherFailed = std::find(failed.begin(), failed.end(), other) != failed.end();
    bool equalFailed = std::find(failed.begin(), failed.end(), equal) != failed.end();
    // Where holds exist both are waited for and named; where they do not,
    // the equal one is in place and the other one copied.
    EXPECT_EQ(otherFailed, equalFailed) << ProblemText(a.result);
    EXPECT_EQ(otherFailed ? 0u : 1u, a.result.inPlace);
    EXPECT_EQ("equal", ReadFile(equal));
    EXPECT_EQ(otherFailed ? "of another size" : "other", ReadFile(other));
}

TEST(SecondExtraction, AStopAmidTheChecksWritesNothing) {
    JobTrees a;
    for (int i = 0; i < 20; ++i) WriteFile(a.modded + Native("/f" + std::to_string(i)), "file " + std::to_string(i));
    a.Run();
    ASSERT_EQ(20u, a.result.copiedFiles);
    std::vector<uint64_t> stamps;
    for (int i = 0; i < 20; ++i) stamps.push_back(StampOfFile(a.destination + Native("/Data/f" + std::to_string(i))));
    RecordedWrites writes;
    ReadsAtTarget = 0;
    Sys.readAt = [](FileHandle file, uint64_t offset, void* buffer, size_t size, size_t* got) {
        if (++ReadsAtTarget == 5) StopJob();
        return PlatformCalls.readAt(file, offset, buffer, size, got);
    };
    RunAgain(&a);
    ClearJobStop();
    EXPECT_TRUE(a.result.abandoned);
    EXPECT_TRUE(writes.Sorted().empty());
    EXPECT_EQ(0u, a.result.failures) << ProblemText(a.result);
    EXPECT_LT(0u, a.result.notCopied);
    EXPECT_EQ(a.result.newFiles, a.result.inPlace + a.result.notCopied);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(stamps[i], StampOfFile(a.destination + Native("/Data/f" + std::to_string(i)))) << i;
    EXPECT_EQ(20u, ListTree(a.destination).size());  // nothing of a copy left either
}

// The calls a copy makes on the file it writes fail as a test says: a
// close that fails is a failed copy (the bytes may never have reached the
// disk), and nothing of it is left; times that cannot be set are a
// courtesy lost, and the copy stands.
namespace {
std::atomic<int> ClosesToFail, TimesToFail;
SysError FailingCloseWritten(FileHandle file) {
    SysError error = PlatformCalls.closeWritten(file);
    return ClosesToFail.fetch_sub(1) > 0 ? (SysError)28 : error;
}
SysError FailingSetTimes(FileHandle file, const FileTimes* times) {
    return TimesToFail.fetch_sub(1) > 0 ? (SysError)28 : PlatformCalls.setTimes(file, times);
}
}  // namespace

TEST(ModAssembly, AFailingCloseOfTheCopyFailsItAndFailingTimesDoNot) {
    for (bool closeFails : {true, false}) {
        JobTrees a;
        WriteFile(a.modded + Native("/only.txt"), "the mod's bytes");
        WriteFile(a.destination + Native("/Data/only.txt"), "an earlier version");
        SysSwap restore;
        ClosesToFail = closeFails ? 1 : 0;
        TimesToFail = closeFails ? 0 : 1;
        Sys.closeWritten = FailingCloseWritten;
        Sys.setTimes = FailingSetTimes;
        a.Run();
        const char* at = closeFails ? "close" : "times";
        if (closeFails) {
            EXPECT_EQ((Paths{a.destination + Native("/Data/only.txt")}), FailedPaths(a.result)) << at;
            EXPECT_EQ(0u, a.result.copiedFiles) << at;
            EXPECT_NE("the mod's bytes", Exists(a.destination + Native("/Data/only.txt"))
                                             ? ReadFile(a.destination + Native("/Data/only.txt")) : "");
        } else {
            EXPECT_EQ(0u, a.result.failures) << ProblemText(a.result);
            EXPECT_EQ(1u, a.result.copiedFiles) << at;
            EXPECT_EQ("the mod's bytes", ReadFile(a.destination + Native("/Data/only.txt")));
        }
        for (const std::string& file : ListTree(a.destination))
            EXPECT_FALSE(IsTemporaryName(std::filesystem::u8path(file).filename().u8string().c_str())) << at << file;
    }
}

// Rewrites the modded file at `RewrittenSource` (same size, other bytes)
// at the first read of its target, once the source's bytes were read.
namespace {
std::string RewrittenSource;
std::atomic<int> ReadsOfTheCheck;
SysError RewriteAtTheTargetsRead(FileHandle file, uint64_t offset, void* buffer, size_t size, size_t* got) {
    if (++ReadsOfTheCheck == 2) {
        auto before = WrittenAt(RewrittenSource);
        WriteFile(RewrittenSource, "THE SAME SIZE");
        std::filesystem::last_write_time(std::filesystem::u8path(RewrittenSource), before + std::chrono::hours(1));
    }
    return PlatformCalls.readAt(file, offset, buffer, size, got);
}
}  // namespace

TEST(SecondExtraction, ASourceRewrittenWhileItsTargetIsComparedIsCopiedAnew) {
    // Windows: the source is held for exclusive reading from its comparison
    // on, so no other program can rewrite it while its target is compared.
    if (PathSeparator() == '\\') GTEST_SKIP() << "a source held exclusively cannot be rewritten meanwhile";
    JobTrees a;
    WriteFile(a.modded + Native("/moving.txt"), "the same size");
    a.Run();
    ASSERT_EQ(1u, a.result.copiedFiles) << ProblemText(a.result);
    RewrittenSource = a.modded + Native("/moving.txt");
    ReadsOfTheCheck = 0;
    SysSwap restore;
    Sys.readAt = RewriteAtTheTargetsRead;
    RunAgain(&a);
    ASSERT_GE(ReadsOfTheCheck.load(), 2);  // the target was compared, and the source moved meanwhile
    EXPECT_EQ(0u, a.result.inPlace);
    EXPECT_EQ(1u, a.result.copiedFiles) << ProblemText(a.result);
    EXPECT_EQ("THE SAME SIZE", ReadFile(a.destination + Native("/Data/moving.txt")));
}

// A target of many chunks: the check looks at the stop before each one,
// so a stop never waits for the rest of a big target to be read.
TEST(SecondExtraction, AStopDuringALongComparisonOfATargetEndsItWithinAChunk) {
    JobTrees a;
    WriteFile(a.modded + Native("/big.dat"), std::string(16u << 20, 'b'));  // 32 halves of a chunk
    a.Run();
    ASSERT_EQ(1u, a.result.copiedFiles) << ProblemText(a.result);
    RecordedWrites writes;
    ReadsAtTarget = 0;
    Sys.readAt = [](FileHandle file, uint64_t offset, void* buffer, size_t size, size_t* got) {
        if (++ReadsAtTarget == 3) StopJob();
        return PlatformCalls.readAt(file, offset, buffer, size, got);
    };
    RunAgain(&a);
    ClearJobStop();
    EXPECT_TRUE(a.result.abandoned);
    EXPECT_LE(ReadsAtTarget.load(), 4);  // the target's half of the round the stop came in, and no more
    EXPECT_TRUE(writes.Sorted().empty());
    EXPECT_EQ(0u, a.result.failures) << ProblemText(a.result);
}

// Targets that are other names of input files (hard links), holding the
// modded file's bytes under other times: never taken as in place, so that
// no input's times move; each is copied anew, which replaces the link.
TEST(SecondExtraction, AHardLinkedTargetIsCopiedAnewAndTheInputsTimesStay) {
    JobTrees a;
    a.Both("y.txt", "the modded bytes", "the modded bytes");  // unchanged: never copied
    WriteFile(a.original + Native("/x.txt"), "old");
    WriteFile(a.modded + Native("/x.txt"), "the modded bytes");
    WriteFile(a.modded + Native("/z.txt"), "a new file");
    auto path = [](const std::string& p) { return std::filesystem::u8path(p); };
    std::string backup = a.original + Native("/y.txt"), modded = a.modded + Native("/z.txt");
    std::filesystem::last_write_time(path(backup), WrittenAt(backup) - std::chrono::hours(24 * 400));
    std::filesystem::create_directories(path(a.destination + Native("/Data")));
    std::error_code failed;
    std::filesystem::create_hard_link(path(backup), path(a.destination + Native("/Data/x.txt")), failed);
    if (!failed) std::filesystem::create_hard_link(path(modded), path(a.destination + Native("/Data/z.txt")), failed);
    if (failed) GTEST_SKIP() << "no hard links can be made here: " << failed.message();
    auto backupTime = WrittenAt(backup), moddedTime = WrittenAt(modded);
    a.Run();
    EXPECT_EQ(0u, a.result.failures) << ProblemText(a.result);
    EXPECT_EQ(0u, a.result.inPlace);
    EXPECT_EQ(2u, a.result.copiedFiles);
    EXPECT_TRUE(backupTime == WrittenAt(backup));
    EXPECT_TRUE(moddedTime == WrittenAt(modded));
    // (Their change time on POSIX moves all the same: a name of theirs went.)
    EXPECT_EQ("the modded bytes", ReadFile(backup));
    EXPECT_EQ("a new file", ReadFile(modded));
    EXPECT_FALSE(std::filesystem::equivalent(path(backup), path(a.destination + Native("/Data/x.txt"))));
    EXPECT_FALSE(std::filesystem::equivalent(path(modded), path(a.destination + Native("/Data/z.txt"))));
    EXPECT_EQ("the modded bytes", ReadFile(a.destination + Native("/Data/x.txt")));
}
