// Holds of other programs, waited out within an operation's wait and the run's budget.
#include <string.h>

#include <atomic>
#include <string>

#include <gtest/gtest.h>

#include "holdwait.h"
#include "jobstop.h"
#include "support.h"

// The hold policy on a clock of its own: holds are invented (Sys.isHeldByOther
// says yes to HELD), and sleeping only moves the clock, so the seconds of
// waiting it allows cost nothing.
static const SysError HELD = 0x20004242u;
static std::atomic<uint64_t> FakeClock;
static std::atomic<int> RefusalsLeft;
static std::atomic<int> OpenTries;

static SysError RefusedOpen(const char* path, FileHandle* file) {
    ++OpenTries;
    if (RefusalsLeft.load() != 0) {
        if (RefusalsLeft.load() > 0) --RefusalsLeft;
        return HELD;
    }
    return PlatformCalls.openForReading(path, file);
}

struct InventedHolds {
    SysSwap restore;
    InventedHolds(int refusals) {
        FakeClock = 1000;
        RefusalsLeft = refusals;  // -1: for good
        OpenTries = 0;
        Sys.openForReading = RefusedOpen;
        Sys.openListed = RefusedOpen;
        Sys.isHeldByOther = [](SysError error, bool) { return error == HELD; };
        Sys.clockMilliseconds = [] { return FakeClock.load(); };
        Sys.sleepMilliseconds = [](uint32_t milliseconds) { FakeClock += milliseconds; };
        StartHoldBudget();
    }
};

TEST(HoldPolicy, AHoldIsWaitedOutWithinTheOperationsWaitAndTheRunsBudget) {
    TempDir dir;
    WriteFile(dir / "a.dat", "same");
    std::string path = dir / "a.dat";
    FileHandle file;
    {
        // Refused eight times (1 + 2 + ... + 128 ms), then allowed.
        InventedHolds holds(8);
        ASSERT_EQ(0u, OpenWaitingOutHolds(path.c_str(), &file, nullptr));
        Sys.closeFile(file);
        EXPECT_EQ(9, OpenTries.load());
        EXPECT_EQ(1000u + 255u, FakeClock.load());
    }
    {
        // Refused for good: named after the operation's wait; three more
        // spend the rest of the budget, after which a held file fails at once.
        InventedHolds holds(-1);
        EXPECT_EQ(HELD, OpenWaitingOutHolds(path.c_str(), &file, nullptr));
        EXPECT_EQ(1000u + HOLD_WAIT_PER_OPERATION_MS, FakeClock.load());
        for (int i = 0; i < 3; ++i) EXPECT_EQ(HELD, OpenWaitingOutHolds(path.c_str(), &file, nullptr));
        EXPECT_EQ(1000u + HOLD_WAIT_BUDGET_MS, FakeClock.load());
        uint64_t before = FakeClock.load();
        int tries = OpenTries.load();
        EXPECT_EQ(HELD, OpenWaitingOutHolds(path.c_str(), &file, nullptr));
        EXPECT_EQ(0u, FakeClock.load() - before);  // spent: a held file fails at once
        EXPECT_EQ(tries + 1, OpenTries.load());
        // A new run has the whole budget again.
        StartHoldBudget();
        before = FakeClock.load();
        EXPECT_EQ(HELD, OpenWaitingOutHolds(path.c_str(), &file, nullptr));
        EXPECT_EQ(HOLD_WAIT_PER_OPERATION_MS, FakeClock.load() - before);
    }
    {
        // A raised stop ends the waiting at once, as a stop, not as the
        // file's failure; what no other program causes is not waited for.
        InventedHolds holds(-1);
        std::atomic<bool> stop{true};
        EXPECT_EQ((SysError)ENGINE_ABANDONED, OpenWaitingOutHolds(path.c_str(), &file, &stop));
        EXPECT_EQ(1, OpenTries.load());
        Sys.isHeldByOther = [](SysError, bool) { return false; };
        EXPECT_EQ(HELD, OpenWaitingOutHolds(path.c_str(), &file, nullptr));
        EXPECT_EQ(2, OpenTries.load());
        EXPECT_EQ(1000u, FakeClock.load());
    }
}

// A stop asked for while a pair waits for a held file ends the run there:
// the pair is neither changed nor a warning, and nothing is copied.
TEST(HoldPolicy, AStopDuringAHoldWaitEndsThePairAsInterrupted) {
    JobTrees t;
    t.Both("a.dat", "same", "SAME");
    InventedHolds holds(-1);
    Sys.sleepMilliseconds = [](uint32_t milliseconds) {
        FakeClock += milliseconds;
        StopJob();
    };
    t.Run();
    ClearJobStop();
    EXPECT_TRUE(t.result.abandoned);
    EXPECT_EQ(0u, t.result.failures + t.result.warnings) << ProblemText(t.result);
    EXPECT_EQ(0u, t.result.changedFiles + t.result.copiedFiles);
    EXPECT_FALSE(Exists(t.destination + Native("/Data/a.dat")));
}
