#include <string.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "destinationhold.h"
#include "job.h"
#include "support.h"

// The three folders of one job, prepared as a front end prepares them.
struct Prepared {
    FolderRefusal refusal = {};
    std::string reason;
    JobParameters* parameters = nullptr;

    Prepared(const JobTrees& t, bool willWrite, const std::string& destination = "") {
        std::string target = destination.empty() ? t.destination : destination;
        const char* folders[3] = {t.original.c_str(), t.modded.c_str(), target.c_str()};
        char text[1024] = "";
        parameters = PrepareJob(folders, willWrite, &refusal, text, sizeof text);
        reason = text;
    }
    ~Prepared() { DiscardJobParameters(parameters); }
    bool Busy() const { return !parameters && refusal.kind == REFUSAL_DESTINATION_BUSY && refusal.role == 2; }
};

// A name of this platform's temporary pattern, as a killed run leaves it.
static std::string LeftoverName(int count) {
    for (std::string name : {".modextract-1-" + std::to_string(count) + ".tmp", "~mx1_" + std::to_string(count) + ".tmp"})
        if (IsTemporaryName(name.c_str())) return name;
    return "";
}

TEST(HoldDestination, ASecondWritingJobIsRefusedAtOnceUntilTheFirstLetsGoAndADryRunTakesNoHold) {
    JobTrees t;
    std::filesystem::create_directories(t.destination + Native("/Data"));
    Prepared first(t, true);
    ASSERT_NE(nullptr, first.parameters) << first.reason;
    ASSERT_NE(nullptr, first.parameters->destinationHold);
    {
        Prepared second(t, true);
        EXPECT_TRUE(second.Busy()) << second.reason;
        EXPECT_EQ(t.destination + ": another job of this program is writing into this destination; try again once "
                                  "it has ended",
                  second.reason);
        // The same destination written otherwise: the same folder, held.
        Prepared spelt(t, true, t.destination + Native("/Data/.."));
        EXPECT_TRUE(spelt.Busy()) << spelt.reason;
        Prepared dry(t, false);
        EXPECT_NE(nullptr, dry.parameters) << dry.reason;
        EXPECT_EQ(nullptr, dry.parameters ? dry.parameters->destinationHold : nullptr);
    }
    DiscardJobParameters(first.parameters);
    first.parameters = nullptr;
    Prepared after(t, true);
    EXPECT_NE(nullptr, after.parameters) << after.reason;
    EXPECT_EQ((std::vector<std::string>{}), ListTree(t.destination));  // a lock, not a file
}

// Sys.copyFile that first prepares a second writing job into the same
// destination, as another run started meanwhile would.
static const JobTrees* Trees;
static std::atomic<int> SecondJobsRefused;
static SysError CopyAfterSecondJob(const CopyRequest* request, uint64_t* copied) {
    Prepared second(*Trees, true);
    SecondJobsRefused += second.Busy();
    return PlatformCalls.copyFile(request, copied);
}

TEST(HoldDestination, IsKeptWhileTheJobWritesAndReleasedAtItsEnd) {
    JobTrees t;
    for (int i = 0; i < 3; ++i) WriteFile(t.modded + Native("/f") + std::to_string(i), "new");
    Prepared first(t, true);
    ASSERT_NE(nullptr, first.parameters) << first.reason;
    first.parameters->result = &t.result;
    Trees = &t;
    SecondJobsRefused = 0;
    {
        SysSwap restore;
        Sys.copyFile = CopyAfterSecondJob;
        ExtractionJob(first.parameters);
        first.parameters = nullptr;  // the job's now
    }
    EXPECT_EQ(3, SecondJobsRefused.load());
    EXPECT_EQ(3u, t.result.copiedFiles) << ProblemText(t.result);
    Prepared after(t, true);
    EXPECT_NE(nullptr, after.parameters) << after.reason;
}

TEST(HoldDestination, FoldersMadeForTheHoldGoAgainWhenTheJobPutNothingInThem) {
    JobTrees t;
    std::string destination = t.dir / "new/deeper";
    {
        Prepared held(t, true, destination);
        ASSERT_NE(nullptr, held.parameters) << held.reason;
        EXPECT_TRUE(std::filesystem::is_directory(destination));  // held while the job writes
        held.parameters->result = &t.result;
        ExtractionJob(held.parameters);  // nothing to copy
        held.parameters = nullptr;
    }
    EXPECT_FALSE(Exists(t.dir / "new"));
    WriteFile(t.modded + Native("/a"), "a");
    Prepared held(t, true, destination);
    ASSERT_NE(nullptr, held.parameters) << held.reason;
    ExtractionJob(held.parameters);
    held.parameters = nullptr;
    EXPECT_EQ(std::vector<std::string>{"Data/a"}, ListTree(destination));
}

// Sys.makeFolder for a folder too deep to make, as a long path is on Windows.
static SysError MakeAllButDeeper(const char* folder, bool* made) {
    if (strstr(folder, "deeper")) return ENGINE_PATH_TOO_LONG;
    return PlatformCalls.makeFolder(folder, made);
}

TEST(HoldDestination, FoldersMadeBeforeOneThatCannotBeMadeGoAgain) {
    JobTrees t;
    SysSwap restore;
    Sys.makeFolder = MakeAllButDeeper;
    Prepared held(t, true, t.dir / "new/more/deeper");
    EXPECT_EQ(nullptr, held.parameters);
    EXPECT_FALSE(Exists(t.dir / "new"));
}

static SysError LockUnsupported(const char*, FileHandle* lock) {
    *lock = INVALID_FILE;
    return ENGINE_NOT_A_FOLDER + 200;  // no platform error: shown as given
}

TEST(HoldDestination, ALockTheFileSystemRefusesLetsTheJobWriteAndIsAWarning) {
    JobTrees t;
    WriteFile(t.modded + Native("/a"), "a");
    SysSwap restore;
    Sys.lockFolder = LockUnsupported;
    Prepared held(t, true);
    ASSERT_NE(nullptr, held.parameters) << held.reason;
    held.parameters->result = &t.result;
    ExtractionJob(held.parameters);
    held.parameters = nullptr;
    EXPECT_EQ(0u, t.result.failures);
    EXPECT_EQ(1u, t.result.copiedFiles);
    ASSERT_EQ(1u, t.result.warnings);
    EXPECT_EQ(PROBLEM_NOT_LOCKED, t.result.problems->kind);
    EXPECT_EQ(ENGINE_NOT_A_FOLDER + 200, t.result.problems->error);
    char resolved[PATH_BUFFER_SIZE];
    ASSERT_EQ(0u, Sys.resolvePath(t.destination.c_str(), resolved, sizeof resolved));
    EXPECT_STREQ(resolved, t.result.problems->path);
}

// Sys.probeFolder on a file system without unnamed files, in a run killed
// between making its named probe and removing it.
static SysError ProbeKilledAfterMaking(const char* folder) {
    WriteFile(std::string(folder) + Native("/") + LeftoverName(7), "");
    return 0;
}

TEST(HoldDestination, NamedProbesKilledRunsLeftGoFromTheDestinationAndDataAndNothingElseDoes) {
    JobTrees t;
    ASSERT_NE("", LeftoverName(7));
    {
        SysSwap restore;
        Sys.probeFolder = ProbeKilledAfterMaking;
        { Prepared killed(t, true); }  // Data missing: probed in the destination
        EXPECT_EQ(std::vector<std::string>{LeftoverName(7)}, ListTree(t.destination));
        std::filesystem::create_directories(t.destination + Native("/Data"));
        Prepared killedAgain(t, true);  // Data there: probed in it, once the destination's is cleared
    }
    std::string leftover = LeftoverName(7);
    EXPECT_EQ(std::vector<std::string>{"Data/" + leftover}, ListTree(t.destination));
    WriteFile(t.destination + Native("/") + leftover, "");  // as the first killed run left it
    // Kept: what only looks like ours (a folder, another name, one in a
    // folder no probe is made in) and, where links can be made, a link.
    std::filesystem::create_directories(t.destination + Native("/") + LeftoverName(8));
    WriteFile(t.destination + Native("/mine.tmp"), "a user's");
    WriteFile(t.destination + Native("/other/") + leftover, "not where a probe goes");
    std::string link = t.destination + Native("/") + LeftoverName(9);
    std::error_code linkError;
    std::filesystem::create_symlink(t.destination + Native("/mine.tmp"), link, linkError);
    std::vector<std::string> kept = ListTree(t.destination);  // the link as the file it leads to
    kept.erase(std::remove(kept.begin(), kept.end(), leftover), kept.end());
    kept.erase(std::remove(kept.begin(), kept.end(), "Data/" + leftover), kept.end());

    Prepared dry(t, false);  // a dry run writes nothing, and removes nothing either
    EXPECT_EQ(kept.size() + 2, ListTree(t.destination).size());
    Prepared held(t, true);
    ASSERT_NE(nullptr, held.parameters) << held.reason;
    EXPECT_EQ(kept, ListTree(t.destination));
    EXPECT_TRUE(std::filesystem::is_directory(t.destination + Native("/") + LeftoverName(8)));
    EXPECT_EQ(!linkError, std::filesystem::is_symlink(link));
}
