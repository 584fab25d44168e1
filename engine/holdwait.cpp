#include "holdwait.h"

// Milliseconds waited in vain this job, summed over all threads.
static std::atomic<uint32_t> Spent;

void StartHoldBudget() {
    Spent.store(0);
}

bool WaitOutHold(HoldWait* wait, SysError error, bool ownName, const std::atomic<bool>* stop) {
    uint32_t limit = Spent.load(std::memory_order_relaxed) < HOLD_WAIT_BUDGET_MS ? HOLD_WAIT_PER_OPERATION_MS : 0;
    bool held = Sys.isHeldByOther(error, ownName);
    bool stopped = stop && stop->load(std::memory_order_relaxed);
    if (!held || wait->waited >= limit || stopped) {
        // A wait that a stop cut short was not spent on a file that failed.
        if (held && wait->waited && !stopped) Spent.fetch_add(wait->waited, std::memory_order_relaxed);
        return false;
    }
    // Doubling from 1 ms: a scanner's moment costs a millisecond or two,
    // a hold of a second some ten tries.
    uint32_t delay = wait->waits < 9 ? 1u << wait->waits : 512u;
    if (delay > limit - wait->waited) delay = limit - wait->waited;
    ++wait->waits;
    uint64_t start = Sys.clockMilliseconds();
    uint64_t end = start + delay;
    // In slices, so that a stop is seen soon.
    for (uint64_t now = start; now < end; now = Sys.clockMilliseconds()) {
        if (stop && stop->load(std::memory_order_relaxed)) break;
        Sys.sleepMilliseconds(end - now > 50 ? 50 : (uint32_t)(end - now));
    }
    // The time really slept: a sleep is never shorter, often longer.
    uint64_t slept = Sys.clockMilliseconds() - start;
    wait->waited += slept > delay ? (uint32_t)slept : delay;
    return true;
}

SysError OpenWaitingOutHolds(const char* path, FileHandle* file, const std::atomic<bool>* stop, bool listed) {
    HoldWait wait = {};
    SysError error;
    while ((error = (listed ? Sys.openListed : Sys.openForReading)(path, file)) != 0 && WaitOutHold(&wait, error, false, stop)) {
    }
    if (error && stop && stop->load(std::memory_order_relaxed) && Sys.isHeldByOther(error, false))
        return ENGINE_ABANDONED;
    return error;
}
