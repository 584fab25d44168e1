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
static std::string Bytes(size_t count, char fill = 'x') {
    std::string s(count, fill);
    for (size_t i = 0; i < count; i += 4093) s[i] = (char)(i * 7);  // not one repeated byte
    return s;
}

static std::mutex HookLock;
static std::map<FileHandle, std::string> OpenPaths;
static std::vector<std::string> Closed;
static std::function<SysError(const std::string& path)> BeforeRead;  // set while no job runs
static std::function<void(const std::string& path)> BeforeOpen;

static SysError HookedOpen(const char* path, FileHandle* file) {
    if (BeforeOpen) BeforeOpen(path);
    SysError error = PlatformCalls.openForReading(path, file);
    std::lock_guard<std::mutex> hold(HookLock);
    if (!error) OpenPaths[*file] = path;
    return error;
}

static SysError HookedRead(FileHandle file, void* buffer, size_t size, size_t* got) {
    std::string path;
    {
        std::lock_guard<std::mutex> hold(HookLock);
        path = OpenPaths[file];
    }
    if (SysError error = BeforeRead ? BeforeRead(path) : 0) {
        *got = 0;
        return error;
    }
    return PlatformCalls.readFile(file, buffer, size, got);
}

static void HookedClose(FileHandle file) {
    {
        // Forgotten before the handle goes: another thread may get its number next.
        std::lock_guard<std::mutex> hold(HookLock);
        Closed.push_back(OpenPaths[file]);
        OpenPaths.erase(file);
    }
    PlatformCalls.closeFile(file);
}

struct ReadHooks {
    ReadHooks() {
        OpenPaths.clear();
        Closed.clear();
        Sys.openForReading = HookedOpen;
        Sys.openListed = HookedOpen;
        Sys.readFile = HookedRead;
        Sys.closeFile = HookedClose;
    }
    ~ReadHooks() {
        Sys = PlatformCalls;
        BeforeRead = nullptr;
        BeforeOpen = nullptr;
    }
    static size_t FirstClosed(const std::string& fragment) {
        for (size_t i = 0; i < Closed.size(); ++i)
            if (Closed[i].find(fragment) != std::string::npos) return i;
        return Closed.size();
    }
};

static bool Contains(const std::string& path, const char* fragment) {
    return path.find(fragment) != std::string::npos;
}

// What a run leaves to compare with another: its reports, list, problems and mod.
struct RunRecord {
    std::vector<std::string> events, changed, mod;
    std::string problems;
};

static RunRecord RunInto(JobTrees& t, const std::string& destination, unsigned comparers, bool dryRun = false) {
    Recorder recorder;
    JobResult result = {};
    result.keepChangedList = true;
    RunJob(t.original, t.modded, destination, &recorder, &result, dryRun, comparers);
    RunRecord record{recorder.events, {}, ListTree(destination), ProblemText(result)};
    record.changed = ChangedPaths(result, t.modded);
    for (const std::string& file : record.mod)
        EXPECT_EQ(ReadFile(t.modded + Native(file.substr(4))), ReadFile(destination + Native("/" + file))) << file;
    ReleaseJobResult(&result);
    return record;
}

TEST(ComparisonPool, PairsThatFinishOutOfOrderGiveTheSameListPositionsProblemsAndCopies) {
    JobTrees t;
    auto both = [&](const std::string& name, const std::string& original, const std::string& modded) {
        WriteFile(t.original + Native("/" + name), original);
        WriteFile(t.modded + Native("/" + name), modded);
    };
    // Scanned in the reverse of this listing order: "slow" first, then "fast".
    std::vector<std::string> order = {"new2", "d3", "e3", "big", "broken", "resized", "new1", "d2",
                                      "e2",   "d1", "e1", "fast", "slow"};
    for (const char* name : {"e1", "e2", "e3"}) both(name, Bytes(3000), Bytes(3000));
    for (const char* name : {"d1", "d2", "d3"}) both(name, Bytes(5000), Bytes(4999) + "!");
    both("slow", Bytes(CHUNK_SIZE + 10), Bytes(CHUNK_SIZE + 10));
    both("fast", "abc", "abd");
    both("resized", "short", "longer");
    both("broken", "same", "same");
    std::string big = Bytes((size_t)BIG_PAIR_SIZE);
    both("big", big, big.substr(0, big.size() - 1) + "?");
    WriteFile(t.modded + Native("/new1"), "n1");
    WriteFile(t.modded + Native("/new2"), "n2");
    OrderedListing listing(order);

    ReadHooks hooks;
    BeforeRead = [](const std::string& path) -> SysError { return Contains(path, "mod") && Contains(path, "broken") ? 5 : 0; };
    RunRecord one = RunInto(t, t.dir / "dest-one", 1);
    EXPECT_LT(ReadHooks::FirstClosed("slow"), ReadHooks::FirstClosed("fast"));

    Closed.clear();
    BeforeRead = [](const std::string& path) -> SysError {
        if (Contains(path, "mod") && Contains(path, "broken")) return 5;
        // "slow" is held until a later pair has ended: outcomes land out of order.
        for (int i = 0; Contains(path, "slow") && i < 5000; ++i) {
            {
                std::lock_guard<std::mutex> hold(HookLock);
                if (std::find_if(Closed.begin(), Closed.end(), [](const std::string& p) { return Contains(p, "fast"); }) !=
                    Closed.end())
                    break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return 0;
    };
    RunRecord pooled = RunInto(t, t.dir / "dest-pool", DEFAULT_COMPARERS);
    EXPECT_LT(ReadHooks::FirstClosed("fast"), ReadHooks::FirstClosed("slow"));

    EXPECT_EQ(one.events, pooled.events);
    EXPECT_EQ(one.changed, pooled.changed);
    EXPECT_EQ(one.problems, pooled.problems);
    EXPECT_EQ(one.mod, pooled.mod);
    // One read failure is that pair's alone: a warning, and the file copied as changed.
    EXPECT_EQ("warning " + t.modded + Native("/broken") + ": ", pooled.problems.substr(0, pooled.problems.find(": ") + 2));
    EXPECT_EQ(1, std::count(pooled.problems.begin(), pooled.problems.end(), '\n'));
    EXPECT_EQ((std::vector<std::string>{"A /new2", "M /d3", "M /big", "M /broken", "M /resized", "A /new1", "M /d2",
                                        "M /d1", "M /fast"}),
              pooled.changed);
}

TEST(ComparisonPool, InterruptionMidScanStartsNoCopyAndLeavesNoTemporaryFile) {
    for (unsigned comparers : {1u, 4u, 0u}) {
        JobTrees t;
        std::vector<std::string> order;
        for (int i = 0; i < 40; ++i) {
            std::string name = "f" + std::to_string(i);
            WriteFile(t.original + Native("/" + name), Bytes(20000));
            WriteFile(t.modded + Native("/" + name), Bytes(20000));
            order.push_back(name);
            if (i % 4 == 0) {  // new files on both sides of the interruption
                WriteFile(t.modded + Native("/n" + std::to_string(i)), Bytes(300000));
                order.push_back("n" + std::to_string(i));
            }
        }
        OrderedListing listing(order);  // scanned from f39 down
        ReadHooks hooks;
        static std::atomic<bool> abandoning, abandoned;
        static std::atomic<int> startedAfter;
        abandoning = abandoned = false;
        startedAfter = 0;
        BeforeRead = [](const std::string& path) -> SysError {
            if (Contains(path, "f20") && !abandoning.exchange(true)) {
                AbandonJob();
                abandoned = true;  // from here on no copy may start
            }
            return 0;
        };
        Sys.copyFile = [](const CopyRequest* request, uint64_t* copied) -> SysError {
            if (abandoned) ++startedAfter;
            return PlatformCalls.copyFile(request, copied);
        };
        t.Run(false, comparers);
        EXPECT_TRUE(t.result.abandoned) << comparers;
        EXPECT_EQ(0, startedAfter.load()) << comparers;
        // f20 is the 25th file scanned and its pair was under way: the scan
        // ends there at the latest (the pool may have read it long before).
        auto scanStart = std::find(t.recorder.events.begin(), t.recorder.events.end(), "status 4");
        auto scanEnd = std::find(scanStart, t.recorder.events.end(), "status 5");
        EXPECT_LE(scanEnd - scanStart - 1, 25) << comparers;
        if (comparers == 1) {
            EXPECT_EQ("position 25", *(scanEnd - 1));
        }
        for (const std::string& file : ListTree(t.destination)) {
            EXPECT_FALSE(IsTemporaryName(std::filesystem::path(file).filename().string().c_str())) << file;
            EXPECT_EQ(ReadFile(t.modded + Native(file.substr(4))), ReadFile(t.destination + Native("/" + file))) << file;
        }
        ClearJobStop();
    }
}

// Writes `bytes` over `path` from `at` on, in place; false when the file
// cannot be opened for it (on Windows, while the comparison holds it).
static bool Overwrite(const std::string& path, size_t at, const std::string& bytes) {
    FILE* file = fopen(path.c_str(), "r+b");
    if (!file) return false;
    bool written = fseek(file, (long)at, SEEK_SET) == 0 && fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}

TEST(ChangeDetection, ModdedFileWrittenSinceItsListingOrWhileItIsReadIsChangedAndCopiedAsItIsThen) {
    static std::string path, flipped, restored;
    static int moddedReads;
    for (unsigned comparers : {1u, 4u, 0u})
        for (bool whileRead : {false, true}) {
            JobTrees t;
            std::string original = Bytes(3 * CHUNK_SIZE);
            std::string modded = original;
            modded[CHUNK_SIZE + 7] ^= 1;  // differs in its second chunk alone
            WriteFile(t.original + Native("/big"), original);
            WriteFile(t.modded + Native("/big"), whileRead ? modded : original);
            path = t.modded + Native("/big");
            flipped = std::string(1, (char)(original[5] ^ 1));
            restored = std::string(1, original[CHUNK_SIZE + 7]);
            moddedReads = 0;
            ReadHooks hooks;
            // Each write waits long enough to move the file's stamp, whatever its clock's grain.
            if (whileRead) {
                // Its first chunk was compared: now the first differs and the
                // second is the original's. Windows refuses the write while
                // the comparison holds the file; it then differs as before.
                BeforeRead = [](const std::string& at) -> SysError {
                    if (at == path && ++moddedReads == 2) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(30));
                        if (Overwrite(path, 5, flipped)) {
                            EXPECT_TRUE(Overwrite(path, CHUNK_SIZE + 7, restored));
                        }
                    }
                    return 0;
                };
            } else {
                // Listed equal to the original, written (the same size) before the comparison opens it.
                BeforeOpen = [](const std::string& at) {
                    if (at.find(Native("orig/big")) == std::string::npos || moddedReads++ > 0) return;
                    std::this_thread::sleep_for(std::chrono::milliseconds(30));
                    EXPECT_TRUE(Overwrite(path, 5, flipped));
                };
            }
            RunRecord run = RunInto(t, t.destination, comparers);  // checks the mod against the files as they are now
            EXPECT_EQ(std::vector<std::string>{"M /big"}, run.changed) << comparers << whileRead;
            EXPECT_EQ(std::vector<std::string>{"Data/big"}, run.mod) << comparers << whileRead;
            EXPECT_EQ("", run.problems);
        }
}

// The calls a job asks of Sys per modded file, by kind: on a player's
// machine each open, query and read passes the file-system filters, so a
// change that adds one per file shows here.
struct CallCounts {
    std::atomic<int> opens, queries, reads, hints, copies, copiesThroughHandle, closes;
};
static CallCounts Calls;
static std::string MovedPath;  // written once between its comparison and its copy
static bool MovedWritten;      // Windows refuses: the comparison's handle keeps writers out
struct CountedCalls {
    SysSwap restore;
    CountedCalls() {
        for (std::atomic<int>* n : {&Calls.opens, &Calls.queries, &Calls.reads, &Calls.hints, &Calls.copies,
                                    &Calls.copiesThroughHandle, &Calls.closes})
            *n = 0;
        Sys.openForReading = [](const char* path, FileHandle* file) {
            ++Calls.opens;
            return PlatformCalls.openForReading(path, file);
        };
        Sys.openListed = [](const char* path, FileHandle* file) {
            ++Calls.opens;
            return PlatformCalls.openListed(path, file);
        };
        Sys.examineOpenFile = [](FileHandle file, uint64_t* size, uint64_t* stamp) {
            ++Calls.queries;
            return PlatformCalls.examineOpenFile(file, size, stamp);
        };
        Sys.readFile = [](FileHandle file, void* buffer, size_t size, size_t* got) {
            ++Calls.reads;
            return PlatformCalls.readFile(file, buffer, size, got);
        };
        Sys.closeFile = [](FileHandle file) {
            ++Calls.closes;
            PlatformCalls.closeFile(file);
        };
        Sys.adviseWillNeed = [](const char* path, uint64_t bytes, uint64_t* asked) {
            ++Calls.hints;
            return PlatformCalls.adviseWillNeed(path, bytes, asked);
        };
        Sys.copyFile = [](const CopyRequest* request, uint64_t* copied) {
            ++Calls.copies;
            Calls.copiesThroughHandle += request->sourceOpen;
            if (request->sourceOpen && !MovedPath.empty()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(30));  // past the stamp's grain
                MovedWritten = Overwrite(MovedPath, 0, "W");
                MovedPath.clear();
            }
            return PlatformCalls.copyFile(request, copied);
        };
    }
};

TEST(ChangeDetection, EachKindOfFileCostsItsFewCallsAndAChangedOneIsCopiedThroughItsComparisonsHandle) {
    std::string big = Bytes(2 * CHUNK_SIZE + 1);
    struct Counts {
        int opens, queries, reads, copies, throughHandle;
    };
    struct Case {
        const char* name;
        Counts listed, unlisted;  // the sizes told by the listing, or by the open files
    } cases[] = {
        // Open both, one read each (the size says where the file ends), one
        // query each after the last read (and, where the listing did not
        // tell the size, one when opened), no hint from memory.
        {"equal", {2, 2, 2, 0, 0}, {2, 4, 2, 0, 0}},
        {"equal big", {2, 2, 6, 0, 0}, {2, 4, 6, 0, 0}},  // 1 MiB, 1 MiB, 1 byte: no read to see the end
        // A pair that differs is not queried after its reads; its copy reads from the same handle.
        {"changed", {2, 0, 2, 1, 1}, {2, 2, 2, 1, 1}},
        {"new", {0, 0, 0, 1, 0}, {0, 0, 0, 1, 0}},  // the copy opens it, below Sys
        {"resized", {0, 0, 0, 1, 0}, {2, 2, 0, 1, 1}},
    };
    for (unsigned comparers : {1u, 4u, 0u})
        for (const Case& each : cases) {
            const Counts& c = ListingTellsSizes() ? each.listed : each.unlisted;
            JobTrees t;
            std::string kind = each.name;
            if (kind == "equal") t.Both("f", "same", "same");
            if (kind == "equal big") t.Both("f", big, big);
            if (kind == "changed") t.Both("f", "abcd", "abce");
            if (kind == "new") WriteFile(t.modded + Native("/f"), "new");
            if (kind == "resized") t.Both("f", "abcd", "abcde");
            CountedCalls counted;
            RunRecord run = RunInto(t, t.destination, comparers);
            std::string at = kind + "/" + std::to_string(comparers);
            EXPECT_EQ("", run.problems) << at;
            EXPECT_EQ(c.opens, Calls.opens.load()) << at;
            EXPECT_EQ(c.queries, Calls.queries.load()) << at;
            EXPECT_EQ(c.reads, Calls.reads.load()) << at;
            EXPECT_EQ(0, Calls.hints.load()) << at;
            EXPECT_EQ(c.copies, Calls.copies.load()) << at;
            EXPECT_EQ(c.throughHandle, Calls.copiesThroughHandle.load()) << at;
            EXPECT_EQ(Calls.opens.load(), Calls.closes.load()) << at;  // the kept handle too, once copied
        }

    // Written after its comparison found it changed and before its copy:
    // the copy through the comparison's handle still sees it move, and
    // copies it once more as it is now.
    for (unsigned comparers : {1u, 4u, 0u}) {
        JobTrees t;
        t.Both("f", "abcd", "abce");
        CountedCalls counted;
        MovedPath = t.modded + Native("/f");
        MovedWritten = false;
        RunRecord run = RunInto(t, t.destination, comparers);  // checks the mod against the files as they are now
        EXPECT_EQ("", run.problems) << comparers;
        EXPECT_EQ(std::vector<std::string>{"Data/f"}, run.mod) << comparers;
        EXPECT_EQ(MovedWritten ? "Wbce" : "abce", ReadFile(t.destination + Native("/Data/f"))) << comparers;
        EXPECT_EQ(MovedWritten ? 2 : 1, Calls.copies.load()) << comparers;
        EXPECT_EQ(1, Calls.copiesThroughHandle.load()) << comparers;
        EXPECT_EQ(Calls.opens.load(), Calls.closes.load()) << comparers;
    }
}

// Starts the first `Allowed` threads asked for and refuses the rest.
static std::atomic<int> Allowed, Refused;
static bool SomeThreads(std::thread* thread, void (*body)(void*), void* context) {
    if (Allowed-- <= 0) {
        ++Refused;
        return false;
    }
    return PlatformCalls.startThread(thread, body, context);
}

TEST(ComparisonPool, ThreadsThatCannotBeStartedLeaveFewerAndTheSameMod) {
    JobTrees t;
    for (int i = 0; i < 30; ++i) {
        std::string name = "/d" + std::to_string(i % 4) + "/f" + std::to_string(i);
        WriteFile(t.original + Native(name), Bytes(3000 + i));
        WriteFile(t.modded + Native(name), i % 3 ? Bytes(3000 + i) : Bytes(2999 + i) + "!");
        if (i % 5 == 0) WriteFile(t.modded + Native(name + ".new"), "n");
    }
    RunRecord all = RunInto(t, t.dir / "dest-all", DEFAULT_COMPARERS);
    ASSERT_EQ(16u, all.changed.size());
    for (int allowed : {0, 1, 5}) {
        Allowed = allowed;
        Refused = 0;
        SysSwap restore;  // the real calls come back at the end of the scope
        Sys.startThread = SomeThreads;
        RunRecord few = RunInto(t, t.dir / ("dest-" + std::to_string(allowed)), DEFAULT_COMPARERS);
        EXPECT_GT(Refused.load(), 0) << allowed;
        EXPECT_EQ(all.events, few.events) << allowed;
        EXPECT_EQ(all.changed, few.changed) << allowed;
        EXPECT_EQ(all.problems, few.problems) << allowed;
        EXPECT_EQ(all.mod, few.mod) << allowed;
    }
}

// Without --jobs, a tree of many equal pairs starts comparers even when
// its files are small (comparing is then nearly all the scan does), and a
// handful of pairs starts none: each run starts the same walkers and
// copiers, so the difference is the comparers. A dry run copies nothing,
// so it starts them even where half the pairs changed.
static std::atomic<int> Started;
static bool CountedStart(std::thread* thread, void (*body)(void*), void* context) {
    ++Started;
    return PlatformCalls.startThread(thread, body, context);
}

TEST(ComparisonPool, ManySmallEqualPairsStartComparersAndAFewDoNot) {
    JobTrees many, few;
    for (int i = 0; i < 200; ++i) many.Both("d" + std::to_string(i % 5) + "/f" + std::to_string(i), Bytes(300), Bytes(300));
    for (int i = 0; i < 4; ++i) few.Both("d" + std::to_string(i % 5) + "/f" + std::to_string(i), Bytes(300), Bytes(300));
    SysSwap restore;  // the real calls come back at the end of the scope
    Sys.startThread = CountedStart;
    Started = 0;
    RunRecord manyRun = RunInto(many, many.destination, 0);
    int manyStarted = Started.exchange(0);
    RunRecord fewRun = RunInto(few, few.destination, 0);
    EXPECT_EQ("", manyRun.problems + fewRun.problems);
    EXPECT_TRUE(manyRun.mod.empty() && fewRun.mod.empty());
    EXPECT_GT(manyStarted, Started.load());

    JobTrees mixed;
    for (int i = 0; i < 200; ++i)
        mixed.Both("d" + std::to_string(i % 5) + "/f" + std::to_string(i), Bytes(300), i % 2 ? Bytes(299) + "!" : Bytes(300));
    RunRecord copied = RunInto(mixed, mixed.destination, 0);
    Started = 0;
    RunRecord mixedDry = RunInto(mixed, mixed.destination + "-dry", 0, true);
    int mixedDryStarted = Started.exchange(0);
    RunRecord fewDry = RunInto(few, few.destination + "-dry", 0, true);
    EXPECT_GT(mixedDryStarted, Started.load());
    EXPECT_EQ(100u, copied.changed.size());
    EXPECT_EQ(copied.changed, mixedDry.changed);
    EXPECT_TRUE(fewDry.changed.empty());
}

// The pool, the walk ahead and the copiers all busy at once on a tree of a
// few thousand files, with chosen listings, reads and copies slowed so that
// the threads interleave differently from run to run (and the sanitizer
// builds see them do it): the most threads give what one read at a time
// gives.
static bool Slowed(const char* path, size_t every) {
    return std::hash<std::string>()(path) % every == 0;
}

TEST(ComparisonPool, ThousandsOfFilesWithSlowListingsReadsAndCopiesGiveWhatOneReadAtATimeGives) {
    JobTrees t;
    size_t kinds[4] = {};
    for (int top = 0; top < 12; ++top)
        for (int sub = 0; sub < 8; ++sub)
            for (int file = 0; file < 24; ++file) {
                int i = (top * 8 + sub) * 24 + file;
                std::string name = "/t" + std::to_string(top) + "/s" + std::to_string(sub) + "/f" + std::to_string(file);
                std::string bytes = Bytes(100 + (size_t)i * 37 % 3000);
                if (i % 500 == 7) bytes = Bytes(CHUNK_SIZE + (size_t)i);  // read in more than one chunk
                std::string modded = bytes;
                if (i % 11 == 0) modded[modded.size() * (size_t)(i % 7) / 7] ^= 1;  // changed, same size
                if (i % 17 == 0) modded += "+";                                     // resized
                if (i % 23 != 0) WriteFile(t.original + Native(name), bytes);      // else new
                if (i % 29 != 0) WriteFile(t.modded + Native(name), modded);       // else gone
                kinds[i % 23 == 0 ? 0 : i % 17 == 0 ? 1 : i % 11 == 0 ? 2 : 3] += i % 29 != 0;
            }
    ASSERT_GT(kinds[0] * kinds[1] * kinds[2], 0u);

    ReadHooks hooks;
    // Reads in half the folders wait often enough that the pool takes the
    // disk for busy, and in the other half never: it goes back and forth.
    BeforeRead = [](const std::string& path) -> SysError {
        size_t sub = path.rfind(Native("/s"));
        bool waits = sub != std::string::npos && path[sub + 2] < '4';
        if (waits && Slowed(path.c_str(), 3)) std::this_thread::sleep_for(std::chrono::microseconds(500));
        return 0;
    };
    Sys.listFolder = [](const char* folder, EntrySink sink, void* context) -> SysError {
        if (Slowed(folder, 3)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return PlatformCalls.listFolder(folder, sink, context);
    };
    Sys.copyFile = [](const CopyRequest* request, uint64_t* copied) -> SysError {
        if (Slowed(request->source, 7)) std::this_thread::sleep_for(std::chrono::microseconds(500));
        return PlatformCalls.copyFile(request, copied);
    };
    RunRecord one = RunInto(t, t.dir / "dest-one", 1);
    RunRecord pooled = RunInto(t, t.dir / "dest-pool", MAX_COMPARERS);
    // The default: pairs read on the scan's thread until reads are seen to
    // wait, then by comparers that take over the pairs handed over.
    RunRecord lazy = RunInto(t, t.dir / "dest-lazy", 0);
    EXPECT_EQ("", one.problems);
    EXPECT_EQ(kinds[0] + kinds[1] + kinds[2], one.changed.size());
    for (const RunRecord* other : {&pooled, &lazy}) {
        EXPECT_EQ(one.events, other->events);
        EXPECT_EQ(one.changed, other->changed);
        EXPECT_EQ(one.problems, other->problems);
        EXPECT_EQ(one.mod, other->mod);
    }
}

// On a cold disk, asking a file ahead opens it and waits for its metadata:
// the scan's thread (the job's, here the test's) asks nothing ahead itself,
// neither waiting pairs nor the sources of copies, while reads are seen to
// wait and the hints are asked.
static std::thread::id ScanThread;
static std::atomic<int> HintsAsked, HintsOnTheScansThread;

TEST(ComparisonPool, ReadsThatWaitAreAskedAheadOffTheScansThread) {
    JobTrees t;
    for (int i = 0; i < 400; ++i) {
        std::string name = "d" + std::to_string(i % 8) + "/f" + std::to_string(i);
        if (i % 4 == 0) WriteFile(t.modded + Native("/" + name + ".new"), Bytes(200));  // copied unread: asked ahead
        t.Both(name, Bytes(2000), i % 5 ? Bytes(2000) : Bytes(1999) + "!");
    }
    ReadHooks hooks;
    BeforeRead = [](const std::string&) -> SysError {
        std::this_thread::sleep_for(std::chrono::microseconds(600));  // as from a disk
        return 0;
    };
    Sys.adviseWillNeed = [](const char* path, uint64_t bytes, uint64_t* asked) {
        ++HintsAsked;
        if (std::this_thread::get_id() == ScanThread) ++HintsOnTheScansThread;
        return PlatformCalls.adviseWillNeed(path, bytes, asked);
    };
    ScanThread = std::this_thread::get_id();
    HintsAsked = HintsOnTheScansThread = 0;
    RunRecord hinted = RunInto(t, t.dir / "dest-hinted", DEFAULT_COMPARERS);
    Sys = PlatformCalls;
    RunRecord one = RunInto(t, t.dir / "dest-one", 1);
    // Windows counts no disk reads per thread: a read's wait is timed, and
    // a loaded machine's timing may not take these reads to wait at all.
    if (HintsAsked.load() == 0 && PathSeparator() == '\\')
        GTEST_SKIP() << "the reads' waits are timed here and did not count as waiting";
    ASSERT_GT(HintsAsked.load(), 0) << "reads were not taken to wait: nothing was asked ahead";
    EXPECT_EQ(0, HintsOnTheScansThread.load());
    EXPECT_EQ("", hinted.problems);
    EXPECT_EQ(one.changed, hinted.changed);
    EXPECT_EQ(one.mod, hinted.mod);
}
