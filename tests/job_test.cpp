#include <string.h>

#include <filesystem>
#include <functional>
#include <string>
#include <chrono>
#include <cstdio>
#include <unistd.h>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "job.h"
#include "joblists.h"
#include "support.h"
#include "jobstop.h"

using Events = std::vector<std::string>;

TEST(ExtractionJob, ReportsEveryPhaseInOrderWithItsRangeAndPositions) {
    JobTrees t;
    WriteFile(t.original + Native("/same"), "s");
    WriteFile(t.original + Native("/changed"), "1");
    WriteFile(t.original + Native("/gone"), "g");
    WriteFile(t.modded + Native("/same"), "s");
    WriteFile(t.modded + Native("/changed"), "2");
    WriteFile(t.modded + Native("/sub/new"), "n");
    WriteFile(t.modded + Native("/sub/new2"), "n");
    t.Run();
    Events expected = {
        "start 0 running 1",  // the flag is up before the start command goes grey
        "status 2", "position 0",
        "status 3",
        "range 4", "status 4", "position 1", "position 2", "position 3", "position 4",
        "status 5", "range 3", "position 1", "position 2", "position 3",
        "status 0", "start 1 running 1", "position 0",
    };
    EXPECT_EQ(expected, t.recorder.events);
    EXPECT_EQ(0, t.recorder.running.load());
    EXPECT_EQ(3u, t.result.originalFiles);
    EXPECT_EQ(4u, t.result.moddedFiles);
    EXPECT_EQ(2u, t.result.newFiles);
    EXPECT_EQ(1u, t.result.changedFiles);
    EXPECT_EQ(3u, t.result.copiedFiles);
    EXPECT_EQ(0u, t.result.failures + t.result.warnings) << ProblemText(t.result);
}

TEST(ExtractionJob, SecondJobStartsFromZeroCounters) {
    JobTrees t;
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
    JobTrees t;
    t.Run();
    Events expected = {"start 0 running 1", "status 2", "position 0", "status 3", "range 0", "status 4",
                       "status 5", "range 0", "status 0", "start 1 running 1", "position 0"};
    EXPECT_EQ(expected, t.recorder.events);
    EXPECT_FALSE(Exists(t.destination));
}

TEST(ExtractionJob, ScanRangeIsTheModdedCountEvenWhenTheOriginalHasFewer) {
    JobTrees t;
    WriteFile(t.original + Native("/only"), "o");
    for (int i = 0; i < 5; ++i) WriteFile(t.modded + Native("/m") + std::to_string(i), "m");
    t.Run(true);
    Events ranges = t.recorder.Only("range");
    EXPECT_EQ((Events{"range 5", "range 5"}), ranges);
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
    JobTrees t;
    SysSwap restore;  // the real calls come back at the end of the scope
    Sys.listFolder = ManyFiles;
    t.Run(true);
    EXPECT_EQ((Events{"range 70000", "range 70000"}), t.recorder.Only("range"));
    EXPECT_EQ("position 70000", t.recorder.events[t.recorder.events.size() - 4]);
}

TEST(ExtractionJob, RefusesAnEmptyRootButStillEndsCleanly) {
    JobTrees t;
    RunJob("", t.modded, t.destination, &t.recorder, &t.result);
    EXPECT_EQ(1u, t.result.failures);
    EXPECT_EQ((Events{"start 1 running 1", "position 0"}),
              Events(t.recorder.events.end() - 2, t.recorder.events.end()));
    EXPECT_EQ(0, t.recorder.running.load());
}

TEST(ExtractionJob, MissingOriginalTreeIsAFailureAndEveryModdedFileIsNewWithoutAComparison) {
    JobTrees t;
    WriteFile(t.modded + Native("/a"), "a");
    RunJob(t.dir / "no-such-folder", t.modded, t.destination, &t.recorder, &t.result);
    EXPECT_EQ(0u, t.result.warnings);
    EXPECT_EQ(1u, t.result.failures);
    EXPECT_EQ(1u, t.result.newFiles);
    EXPECT_EQ(1u, t.result.uncompared);
    EXPECT_EQ(1u, t.result.copiedFiles);  // a larger mod loses nothing
}

TEST(ExtractionJob, HandsOverTheChangedListInCopyOrderWhenAsked) {
    JobTrees t;
    WriteFile(t.modded + Native("/x"), "x");
    t.result.keepChangedList = true;
    t.Run(true);
    EXPECT_EQ((std::vector<std::string>{"A /x"}), ChangedPaths(t.result, t.modded));
    ReleaseJobResult(&t.result);
    EXPECT_EQ(0u, t.result.changedList.count);
    EXPECT_EQ(0u, FileCount(&t.result.moddedTree));
}

// A copy that lets a test act first; a non-zero answer fails it instead.
static std::function<SysError(const CopyRequest*)> BeforeCopy;
static SysError CopyAfterHook(const CopyRequest* request, uint64_t* copied) {
    SysError error = BeforeCopy ? BeforeCopy(request) : 0;
    if (error) return error;
    return PlatformCalls.copyFile(request, copied);
}

static std::vector<std::string> TemporaryNamesBelow(const std::string& root) {
    std::vector<std::string> found;
    for (const std::string& path : ListTree(root))
        if (IsTemporaryName(std::filesystem::path(path).filename().string().c_str())) found.push_back(path);
    return found;
}

TEST(ExtractionJob, AbandonJobStartsNoCopyAndRemovesTheTemporaryFilesOfThoseInFlight) {
    JobTrees t;
    WriteFile(t.modded + Native("/big"), std::string(3 << 20, 'b'));
    for (int i = 0; i < 20; ++i) WriteFile(t.modded + Native("/small/s") + std::to_string(i), "s");
    OrderedListing order({"small", "big"});  // met last, so scanned and copied first
    std::thread abandoning;
    std::atomic<bool> abandoned{false};
    std::atomic<int> startedAfter{0};
    BeforeCopy = [&](const CopyRequest* request) -> SysError {
        if (abandoned) ++startedAfter;
        if (!strstr(request->source, "big") || abandoning.joinable()) return 0;
        abandoning = std::thread([&] {
            AbandonJob();
            abandoned = true;
        });
        // The copy goes on only once the stop is raised: it must notice it and clean up.
        while (!request->stop->load()) std::this_thread::yield();
        return 0;
    };
    SysSwap restore;  // the real calls come back at the end of the scope
    Sys.copyFile = CopyAfterHook;
    t.Run();
    abandoning.join();
    BeforeCopy = nullptr;
    EXPECT_TRUE(t.result.abandoned);
    EXPECT_EQ(0u, t.result.failures) << ProblemText(t.result);
    EXPECT_FALSE(Exists(t.destination + Native("/Data/big")));
    EXPECT_EQ(std::vector<std::string>{}, TemporaryNamesBelow(t.destination));
    EXPECT_GE(t.result.notCopied, 1u);
    EXPECT_EQ(0, startedAfter.load());  // no copy starts once AbandonJob has returned
    AbandonJob();                         // no job: nothing waits, and the stop is kept
    ClearJobStop();                       // until the front end is done with it

    JobTrees next;  // the next job starts unabandoned
    WriteFile(next.modded + Native("/a"), "a");
    next.Run();
    EXPECT_FALSE(next.result.abandoned);
    EXPECT_EQ(1u, next.result.copiedFiles);
}

// A stop asked for at one moment of the job, by a hook on the platform
// calls; counts what the job still did after it.
enum StopMoment { BEFORE_THE_JOB, DURING_THE_INDEX, MID_PAIR, DURING_THE_COPIES };
static StopMoment Moment;
static std::atomic<bool> Asking, StopAsked;  // StopAsked: the job's stop is surely up
static std::atomic<int> Entries, Reads, Copies, EntriesAfter, ReadsAfter, CopiesAfter;

static void AskStop() {
    if (Asking.exchange(true)) return;
    StopJob();
    StopAsked = true;
}

struct Forwarded {
    EntrySink sink;
    void* context;
};
static bool CountEntry(void* context, const FolderEntry* entry) {
    if (Moment == DURING_THE_INDEX && ++Entries == 50) AskStop();
    bool after = StopAsked;  // walkers list beside the index
    Forwarded* to = (Forwarded*)context;
    bool taken = to->sink(to->context, entry);
    if (taken && after) ++EntriesAfter;
    return taken;
}
static SysError CountingListing(const char* folder, EntrySink sink, void* context) {
    Forwarded to = {sink, context};
    return PlatformCalls.listFolder(folder, CountEntry, &to);
}
static SysError CountingRead(FileHandle file, void* buffer, size_t size, size_t* got) {
    if (StopAsked) ++ReadsAfter;
    if (Moment == MID_PAIR && ++Reads == 3) AskStop();  // the original's second chunk
    return PlatformCalls.readFile(file, buffer, size, got);
}
// A copier may be on its way here when the stop comes; what counts is
// that no copy asked for after it is made.
static SysError CountingCopy(const CopyRequest* request, uint64_t* copied) {
    bool after = StopAsked;
    if (Moment == DURING_THE_COPIES && ++Copies == 3) {
        AskStop();
        after = true;  // this copy notices it before its first chunk
    }
    SysError error = PlatformCalls.copyFile(request, copied);
    if (after && error != ENGINE_ABANDONED) ++CopiesAfter;
    return error;
}

TEST(ExtractionJob, StopAskedForAtAnyMomentEndsTheJobSoonAndLeavesNothingBehind) {
    for (StopMoment moment : {BEFORE_THE_JOB, DURING_THE_INDEX, MID_PAIR, DURING_THE_COPIES}) {
        for (unsigned comparers : {1u, 4u, 0u}) {
            JobTrees t;
            for (int i = 0; i < 100; ++i) WriteFile(t.original + Native("/gone/f") + std::to_string(i), "o");
            std::string big(3 * (1 << 20) + 5, 'b');  // three chunks and a bit: the only pair read
            t.Both("big", big, big);
            for (int i = 0; i < 20; ++i) WriteFile(t.modded + Native("/new/n") + std::to_string(i), "n");
            Moment = moment;
            Asking = StopAsked = false;
            Entries = Reads = Copies = EntriesAfter = ReadsAfter = CopiesAfter = 0;
            SysSwap restore;  // the real calls come back at the end of the scope
            Sys.listFolder = CountingListing;
            Sys.readFile = CountingRead;
            Sys.copyFile = CountingCopy;
            if (moment == BEFORE_THE_JOB) AskStop();
            t.Run(false, comparers);
            ClearJobStop();
            std::string at = std::to_string(moment) + "/" + std::to_string(comparers);
            EXPECT_TRUE(StopAsked) << at;
            EXPECT_TRUE(t.result.abandoned) << at;
            EXPECT_EQ(0u, t.result.failures + t.result.warnings) << at << ProblemText(t.result);
            EXPECT_EQ(0, EntriesAfter.load()) << at;  // the listing under way ends at the next entry
            EXPECT_LE(ReadsAfter.load(), 1) << at;    // the modded file's chunk of the same step
            EXPECT_EQ(0, CopiesAfter.load()) << at;
            if (moment == BEFORE_THE_JOB) {
                EXPECT_EQ(0u, t.result.originalFiles + t.result.moddedFiles) << at;  // nothing even listed
            }
            if (moment == BEFORE_THE_JOB || moment == DURING_THE_INDEX) {
                EXPECT_EQ(0u, t.result.copiedFiles) << at;  // the scan never began
            }
            EXPECT_EQ(std::vector<std::string>{}, TemporaryNamesBelow(t.destination)) << at;
            for (const std::string& file : ListTree(t.destination))
                EXPECT_EQ("n", ReadFile(t.destination + Native("/" + file))) << at << file;
        }
    }
}

// The scan looks at the stop before each file, also where a file needs
// no reading (a new file): the rest of a long list is not gone through.
TEST(ExtractionJob, AStopDuringTheScanEndsItBeforeTheNextFile) {
    JobTrees t;
    for (int i = 0; i < 300; ++i) WriteFile(t.modded + Native("/n") + std::to_string(i), "n");
    t.recorder.stopAtPosition = 10;
    t.Run(true);  // a dry run: the scan alone decides the files
    ClearJobStop();
    EXPECT_TRUE(t.result.abandoned);
    EXPECT_EQ(10u, t.result.newFiles);
}

TEST(ExtractionJob, LeftoverTemporaryFilesGoOnlyFromFoldersTheJobWritesInto) {
    JobTrees t;
    std::string leftover;
    for (const char* name : {".modextract-1-0.tmp", "~mx1_0.tmp"})
        if (IsTemporaryName(name)) leftover = name;
    ASSERT_FALSE(leftover.empty());
    WriteFile(t.modded + Native("/a"), "a");
    WriteFile(t.modded + Native("/sub/b"), "b");
    WriteFile(t.destination + Native("/Data/") + leftover, "old");
    WriteFile(t.destination + Native("/Data/sub/") + leftover, "old");
    WriteFile(t.destination + Native("/Data/other/") + leftover, "not ours to touch: not written into");
    WriteFile(t.destination + Native("/Data/mine.tmp"), "a user's file");
    t.Run();
    EXPECT_EQ(0u, t.result.failures) << ProblemText(t.result);
    EXPECT_EQ((std::vector<std::string>{"Data/a", "Data/mine.tmp", "Data/other/" + leftover, "Data/sub/b"}),
              ListTree(t.destination));
}

// Copiers that meet a new folder together: the one that clears the folder's
// leftovers must never take a temporary file of a copy of this run. The
// first copier's check of the Data folder lingers so that the second one
// meets the folder too; the first copy then stands a temporary file of
// ours there, and the second copier's clearing, if it comes, comes then.
static std::atomic<int> DataListings;
static std::atomic<bool> TemporaryPlaced, SecondClearingDone;

static bool AwaitFlag(const std::atomic<bool>& flag, int milliseconds) {
    for (int i = 0; i < milliseconds && !flag; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return flag;
}

static SysError SlowDataListing(const char* folder, EntrySink sink, void* context) {
    std::string path = folder;
    bool data = path.size() >= 5 && path.compare(path.size() - 5, 5, Native("/Data")) == 0;
    int listing = data ? DataListings++ : -1;
    if (listing == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (listing == 1) AwaitFlag(TemporaryPlaced, 2000);
    SysError error = PlatformCalls.listFolder(folder, sink, context);
    if (listing == 1) SecondClearingDone = true;
    return error;
}

TEST(ExtractionJob, ClearingLeftoversNeverTakesATemporaryFileOfThisRun) {
    JobTrees t;
    for (int i = 0; i < 4; ++i) WriteFile(t.modded + Native("/f") + std::to_string(i), "f");
    std::string ours;
    for (std::string name : {".modextract-" + std::to_string(getpid()) + "-99.tmp",
                             "~mx" + std::to_string(getpid()) + "_99.tmp"})
        if (IsTemporaryName(name.c_str())) ours = t.destination + Native("/Data/") + name;
    ASSERT_FALSE(ours.empty());
    DataListings = 0;
    TemporaryPlaced = SecondClearingDone = false;
    bool survived = true;
    BeforeCopy = [&](const CopyRequest*) -> SysError {
        if (TemporaryPlaced.exchange(true)) return 0;
        WriteFile(ours, "in flight");
        AwaitFlag(SecondClearingDone, 300);
        survived = Exists(ours);
        std::remove(ours.c_str());
        return 0;
    };
    SysSwap restore;  // the real calls come back at the end of the scope
    Sys.listFolder = SlowDataListing;
    Sys.copyFile = CopyAfterHook;
    t.Run();
    BeforeCopy = nullptr;
    EXPECT_TRUE(survived);
    EXPECT_EQ(0u, t.result.failures) << ProblemText(t.result);
}

TEST(ExtractionJob, SourceRewrittenBeforeOrDuringItsCopyIsCopiedOnceMoreThenFails) {
    JobTrees t;
    WriteFile(t.modded + Native("/steady"), "steady");
    WriteFile(t.modded + Native("/once"), "first");
    WriteFile(t.modded + Native("/always"), "first");
    int onceCalls = 0, alwaysCalls = 0;
    BeforeCopy = [&](const CopyRequest* request) -> SysError {
        std::string source = request->source;
        // Rewritten since the comparison: another size, whatever the clock says.
        if (source.find("once") != std::string::npos && onceCalls++ == 0) WriteFile(source, std::string(11, 'x'));
        // Moving under every copy, which the platform sees by the stamps it takes around it.
        if (source.find("always") != std::string::npos) {
            ++alwaysCalls;
            return ENGINE_SOURCE_CHANGED;
        }
        return 0;
    };
    SysSwap restore;  // the real calls come back at the end of the scope
    Sys.copyFile = CopyAfterHook;
    t.Run();
    BeforeCopy = nullptr;
    EXPECT_EQ((std::vector<std::string>{t.modded + Native("/always")}), FailedPaths(t.result));
    EXPECT_NE(std::string::npos, ProblemText(t.result).find("changed while it was being copied"));
    EXPECT_EQ(std::string(11, 'x'), ReadFile(t.destination + Native("/Data/once")));
    EXPECT_EQ("steady", ReadFile(t.destination + Native("/Data/steady")));
    EXPECT_FALSE(Exists(t.destination + Native("/Data/always")));
    EXPECT_EQ(std::vector<std::string>{}, TemporaryNamesBelow(t.destination));
    // Without a listed stamp the copy's own first look sees the new version.
    EXPECT_EQ(ListingTellsSizes() ? 2 : 1, onceCalls);
    EXPECT_EQ(2, alwaysCalls);
}

// The stale files of a Data folder that was there before the job, by
// relative path with '/' between names.
static std::vector<std::string> StaleNames(const JobResult& result) {
    std::vector<std::string> names;
    ListCursor cursor = {};
    ListedEntry entry;
    char path[PATH_BUFFER_SIZE];
    while (NextListed(&result, LIST_STALE, &cursor, &entry)) {
        std::string name = ListedPath(&entry, path);
        for (char& c : name)
            if (c == PathSeparator()) c = '/';
        names.push_back(name);
    }
    return names;
}

// Lists as the platform does, and stops the job at the first listing of a
// folder named "old" below a Data folder: a stop while the destination is walked.
static std::atomic<int> ListingsAfterStop;
static SysError ListThenStopInData(const char* folder, EntrySink sink, void* context) {
    std::string path = folder;
    if (StopRequested()) ++ListingsAfterStop;
    std::string old = Native("/Data/old");
    if (path.size() >= old.size() && path.compare(path.size() - old.size(), old.size(), old) == 0) StopJob();
    return PlatformCalls.listFolder(folder, sink, context);
}

// Links that the platform's listing shows as links, made in `data`:
// "loop" and "up" lead back to the folder and above it, "out" to a folder
// outside the destination. Where none can be made or shown, none stay.
static bool MakeLinks(const std::string& data, const std::string& outside) {
    std::error_code failed;
    std::filesystem::create_directory_symlink(".", data + Native("/loop"), failed);
    if (!failed) std::filesystem::create_directory_symlink("..", data + Native("/up"), failed);
    if (!failed) std::filesystem::create_directory_symlink(outside, data + Native("/out"), failed);
    if (failed) {
        for (const char* name : {"/loop", "/up", "/out"}) std::filesystem::remove(data + Native(name), failed);
        return false;
    }
    // Links that were made must be shown as links: a listing that loses the
    // flag is a fault of its own, never a reason to check less.
    bool shown = false;
    Sys.listFolder(data.c_str(), [](void* context, const FolderEntry* entry) {
        if (strcmp(entry->name, "loop") == 0) *(bool*)context = entry->link;
        return true;
    }, &shown);
    EXPECT_TRUE(shown) << "the listing does not flag the link " << data << Native("/loop");
    return true;
}

// What the Data folder holds that the job did not make comes with the
// job's result, found by the job itself: files of an earlier run in nested
// folders, not the files it rewrites, and not its own temporary names;
// links as entries of their own, never followed; in dry and real runs
// alike, and not at all once a stop came while it walked the folder.
TEST(ExtractionJob, StaleFilesOfTheDataFolderComeWithTheResultAndTheWalkStaysInsideIt) {
    JobTrees t;
    t.Both("same.txt", "same", "same");
    t.Both("sub/changed.txt", "old", "new");
    WriteFile(t.modded + Native("/new.txt"), "new");
    std::string data = t.destination + Native("/Data");
    WriteFile(data + Native("/new.txt"), "an earlier run's copy");
    WriteFile(data + Native("/old/deep/a.txt"), "a");
    WriteFile(data + Native("/old/b.txt"), "b");
    WriteFile(data + Native("/top.txt"), "top");
    std::string leftover = IsTemporaryName(".modextract-1-0.tmp") ? ".modextract-1-0.tmp" : "~mx1_0.tmp";
    WriteFile(data + Native("/") + leftover, "a killed run's");
    WriteFile(t.dir / "outside/cert.pem", "outside the destination");
    std::vector<std::string> stale = {"old/b.txt", "old/deep/a.txt", "top.txt"};
    bool linked = MakeLinks(data, t.dir / "outside");
    if (linked) stale = {"loop", "old/b.txt", "old/deep/a.txt", "out", "top.txt", "up"};

    t.Run(true);
    EXPECT_TRUE(t.result.lists.staleKnown);
    EXPECT_EQ(stale, StaleNames(t.result));
    EXPECT_EQ(t.result.dataFolder, data);
    EXPECT_EQ(0u, t.result.failures) << ProblemText(t.result);
    EXPECT_EQ("an earlier run's copy", ReadFile(data + Native("/new.txt")));

    t.Run();
    EXPECT_EQ(stale, StaleNames(t.result));
    EXPECT_EQ("new", ReadFile(data + Native("/new.txt")));
    EXPECT_EQ("a", ReadFile(data + Native("/old/deep/a.txt")));  // nothing is deleted

    {
        SysSwap restore;
        Sys.listFolder = ListThenStopInData;
        ListingsAfterStop = 0;
        t.Run(true);
    }
    EXPECT_TRUE(t.result.abandoned);
    EXPECT_FALSE(t.result.lists.staleKnown);
    EXPECT_EQ(0u, t.result.lists.stale.count);
    EXPECT_EQ(0, ListingsAfterStop.load()) << "the walk went on after the stop";
    ClearJobStop();

    // A destination without a Data folder has nothing stale to walk.
    JobTrees fresh;
    WriteFile(fresh.modded + Native("/a"), "a");
    fresh.Run();
    EXPECT_FALSE(fresh.result.lists.staleKnown);
    if (!linked) GTEST_SKIP() << "no folder links can be made here: that the walk never follows one went unchecked";
}

// What the job had done when it asked, and what it asked.
static std::atomic<int> ReadsSoFar, CopiesSoFar;
static int ReadsWhenAsked, CopiesWhenAsked, Questions, Answer;
static JobQuestion LastQuestion;
static std::vector<std::string> TopNames[2];
static int AnswerQuestion(void*, const JobQuestion* question) {
    ++Questions;
    ReadsWhenAsked = ReadsSoFar;
    CopiesWhenAsked = CopiesSoFar;
    LastQuestion = *question;
    for (int tree = 0; tree < 2; ++tree) {
        TopNames[tree].clear();
        for (uint32_t at = 0; at < question->tops[tree].named; ++at) TopNames[tree].push_back(question->tops[tree].names[at]);
    }
    return Answer;
}
static SysError ReadCounted(FileHandle file, void* buffer, size_t size, size_t* got) {
    ++ReadsSoFar;
    return PlatformCalls.readFile(file, buffer, size, got);
}
static SysError CopyCounted(const CopyRequest* request, uint64_t* copied) {
    ++CopiesSoFar;
    return PlatformCalls.copyFile(request, copied);
}

// The backup's parent chosen: one path of 21 shared. The job asks once,
// after both indexes and before any pair is read or copy made; stopped
// there it writes nothing and ends as a stopped job, else it goes on.
TEST(ExtractionJob, TreesThatShareFewPathsAreAskedAboutOnceBeforeAnythingIsReadOrCopied) {
    for (int answer : {0, 1}) {
        SCOPED_TRACE(answer ? "going on" : "stopping");
        JobTrees t;
        t.Both("top.txt", "same", "same");
        for (int i = 0; i < 20; ++i) {
            WriteFile(t.original + Native("/DATA/f" + std::to_string(i + 10)), "old");
            WriteFile(t.modded + Native("/f" + std::to_string(i + 10)), "new");
        }
        ReportOps asking = RecordingReport;
        asking.askQuestion = AnswerQuestion;
        Questions = 0;
        Answer = answer;
        ReadsSoFar = CopiesSoFar = 0;
        SysSwap restore;
        Sys.readFile = ReadCounted;
        Sys.copyFile = CopyCounted;
        JobParameters* parameters = (JobParameters*)calloc(1, sizeof(JobParameters));
        parameters->mainWindow = parameters->createModButton = parameters->progressBar = &t.recorder;
        parameters->originalPath = t.original.c_str();
        parameters->moddedPath = t.modded.c_str();
        parameters->destinationPath = t.destination.c_str();
        parameters->report = &asking;
        parameters->result = &t.result;
        ExtractionJob(parameters);
        ClearJobStop();

        EXPECT_EQ(1, Questions);
        EXPECT_EQ(0, ReadsWhenAsked);
        EXPECT_EQ(0, CopiesWhenAsked);
        EXPECT_EQ(21u, LastQuestion.originalFiles);
        EXPECT_EQ(21u, LastQuestion.moddedFiles);
        EXPECT_EQ(1u, LastQuestion.sharedFiles);
        EXPECT_EQ(1u, LastQuestion.tops[0].folders);
        EXPECT_EQ(1u, LastQuestion.tops[0].files);
        EXPECT_EQ((std::vector<std::string>{"DATA", "top.txt"}), TopNames[0]);
        EXPECT_EQ(21u, LastQuestion.tops[1].files);
        EXPECT_EQ((std::vector<std::string>{"f10", "f11", "f12"}), TopNames[1]);
        EXPECT_EQ(answer == 0, t.result.declined);
        EXPECT_EQ(answer == 0, t.result.abandoned);
        EXPECT_EQ(answer ? 20u : 0u, t.result.copiedFiles);
        EXPECT_EQ(answer ? 0u : 21u, t.result.unscanned);
        EXPECT_EQ(answer == 1, Exists(t.destination));
    }
}
