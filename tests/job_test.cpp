#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "job.h"
#include "support.h"

using Events = std::vector<std::string>;

struct Trees {
    TempDir dir;
    std::string original = dir / "orig";
    std::string modded = dir / "mod";
    std::string destination = dir / "dest";
    Trees() {
        std::filesystem::create_directories(original);
        std::filesystem::create_directories(modded);
    }
};

TEST(ExtractionJob, ReportsEveryPhaseInOrderWithItsRangeAndPositions) {
    Trees t;
    WriteFile(t.original + Native("/same"), "s");
    WriteFile(t.original + Native("/changed"), "1");
    WriteFile(t.original + Native("/gone"), "g");
    WriteFile(t.modded + Native("/same"), "s");
    WriteFile(t.modded + Native("/changed"), "2");
    WriteFile(t.modded + Native("/sub/new"), "n");
    WriteFile(t.modded + Native("/sub/new2"), "n");
    Recorder recorder;
    JobResult result = {};
    RunJob(t.original, t.modded, t.destination, &recorder, &result);
    Events expected = {
        "start 0 running 1",  // the flag is up before the start command goes grey
        "status 2", "position 0",
        "status 3",
        "range 4", "status 4", "position 1", "position 2", "position 3", "position 4",
        "status 5", "range 3", "position 1", "position 2", "position 3",
        "status 0", "start 1 running 1", "position 0",
    };
    EXPECT_EQ(expected, recorder.events);
    EXPECT_EQ(0, recorder.running.load());
    EXPECT_EQ(3u, result.originalFiles);
    EXPECT_EQ(4u, result.moddedFiles);
    EXPECT_EQ(2u, result.newFiles);
    EXPECT_EQ(1u, result.changedFiles);
    EXPECT_EQ(3u, result.copiedFiles);
    EXPECT_EQ(0u, result.failures + result.warnings) << ProblemText(result);
    ReleaseJobResult(&result);
}

TEST(ExtractionJob, SecondJobStartsFromZeroCounters) {
    Trees t;
    WriteFile(t.modded + Native("/a"), "a");
    WriteFile(t.modded + Native("/b"), "b");
    Recorder first;
    JobResult firstResult = {};
    RunJob(t.original, t.modded, t.destination, &first, &firstResult);
    ReleaseJobResult(&firstResult);

    std::filesystem::remove_all(t.modded + Native("/b"));
    Recorder second;
    JobResult secondResult = {};
    RunJob(t.original, t.modded, t.dir / "dest2", &second, &secondResult);
    Events expectedTail = {"status 5", "range 1", "position 1", "status 0", "start 1 running 1", "position 0"};
    EXPECT_EQ(expectedTail, Events(second.events.end() - 6, second.events.end()));
    EXPECT_EQ(1u, secondResult.newFiles);
    ReleaseJobResult(&secondResult);
}

TEST(ExtractionJob, EmptyTreesRunToTheEndWithEmptyRanges) {
    Trees t;
    Recorder recorder;
    JobResult result = {};
    RunJob(t.original, t.modded, t.destination, &recorder, &result);
    Events expected = {"start 0 running 1", "status 2", "position 0", "status 3", "range 0", "status 4",
                       "status 5", "range 0", "status 0", "start 1 running 1", "position 0"};
    EXPECT_EQ(expected, recorder.events);
    EXPECT_FALSE(Exists(t.destination));
    ReleaseJobResult(&result);
}

TEST(ExtractionJob, ScanRangeIsTheModdedCountEvenWhenTheOriginalHasFewer) {
    Trees t;
    WriteFile(t.original + Native("/only"), "o");
    for (int i = 0; i < 5; ++i) WriteFile(t.modded + Native("/m") + std::to_string(i), "m");
    Recorder recorder;
    JobResult result = {};
    RunJob(t.original, t.modded, t.destination, &recorder, &result, true);
    Events ranges = recorder.Only("range");
    EXPECT_EQ((Events{"range 5", "range 5"}), ranges);
    ReleaseJobResult(&result);
}

// A listing that invents many files without touching the disk.
static SysError ManyFiles(const char* folder, EntrySink sink, void* context) {
    if (!strstr(folder, "mod")) return 0;  // the original tree is empty
    char name[16];
    for (int i = 0; i < 70000; ++i) {
        FolderEntry entry = {};
        entry.nameLength = (size_t)snprintf(name, sizeof name, "f%d", i);
        entry.name = name;
        entry.kind = ENTRY_FILE;
        sink(context, &entry);
    }
    return 0;
}

TEST(ExtractionJob, RangesAboveSixteenBitsTravelWhole) {
    Trees t;
    Sys.listFolder = ManyFiles;
    Recorder recorder;
    JobResult result = {};
    RunJob(t.original, t.modded, t.destination, &recorder, &result, true);
    Sys = PlatformCalls;
    EXPECT_EQ((Events{"range 70000", "range 70000"}), recorder.Only("range"));
    EXPECT_EQ("position 70000", recorder.events[recorder.events.size() - 4]);
    ReleaseJobResult(&result);
}

TEST(ExtractionJob, RefusesAnEmptyRootButStillEndsCleanly) {
    Trees t;
    Recorder recorder;
    JobResult result = {};
    RunJob("", t.modded, t.destination, &recorder, &result);
    EXPECT_EQ(1u, result.failures);
    EXPECT_EQ((Events{"start 1 running 1", "position 0"}),
              Events(recorder.events.end() - 2, recorder.events.end()));
    EXPECT_EQ(0, recorder.running.load());
    ReleaseJobResult(&result);
}

TEST(ExtractionJob, MissingOriginalTreeIsAWarningAndEveryModdedFileIsNew) {
    Trees t;
    WriteFile(t.modded + Native("/a"), "a");
    Recorder recorder;
    JobResult result = {};
    RunJob(t.dir / "no-such-folder", t.modded, t.destination, &recorder, &result);
    EXPECT_EQ(1u, result.warnings);
    EXPECT_EQ(0u, result.failures);
    EXPECT_EQ(1u, result.newFiles);
    ReleaseJobResult(&result);
}

TEST(ExtractionJob, HandsOverTheChangedListInCopyOrderWhenAsked) {
    Trees t;
    WriteFile(t.modded + Native("/x"), "x");
    Recorder recorder;
    JobResult result = {};
    result.keepChangedList = true;
    RunJob(t.original, t.modded, t.destination, &recorder, &result, true);
    ASSERT_NE(nullptr, result.changedList);
    EXPECT_EQ((std::vector<std::string>{"/x"}), RelativePaths(result.changedList, t.modded));
    EXPECT_TRUE(result.changedList->flags & NODE_NEW);
    ReleaseJobResult(&result);
    EXPECT_EQ(nullptr, result.changedList);
}
