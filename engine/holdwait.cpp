#include "holdwait.h"

#include <chrono>
#include <thread>

// Milliseconds waited in vain this job, summed over all threads.
static std::atomic<uint32_t> Spent;

void StartHoldBudget() {
    Spent.store(0);
}

bool WaitOutHold(HoldWait* wait, SysError error, bool ownName, const std::atomic<bool>* stop) {
    uint32_t limit = Spent.load(std::memory_order_relaxed) < HOLD_WAIT_BUDGET_MS ? HOLD_WAIT_PER_OPERATION_MS
                                                                                  : HOLD_WAIT_SPENT_MS;
    bool held = IsHeldByOther(error, ownName);
    if (!held || wait->waited >= limit || (stop && stop->load(std::memory_order_relaxed))) {
        if (held && wait->waited) Spent.fetch_add(wait->waited, std::memory_order_relaxed);
        return false;
    }
    // Doubling from 1 ms: a scanner's moment costs a millisecond or two,
    // a hold of a second some ten tries.
    uint32_t delay = wait->waits < 9 ? 1u << wait->waits : 512u;
    if (delay > limit - wait->waited) delay = limit - wait->waited;
    ++wait->waits;
    auto start = std::chrono::steady_clock::now();
    auto end = start + std::chrono::milliseconds(delay);
    // In slices, so that a stop is seen soon.
    for (auto now = start; now < end; now = std::chrono::steady_clock::now()) {
        if (stop && stop->load(std::memory_order_relaxed)) break;
        auto slice = end - now;
        if (slice > std::chrono::milliseconds(50)) slice = std::chrono::milliseconds(50);
        std::this_thread::sleep_for(slice);
    }
    // The time really slept: a sleep is never shorter, often longer.
    auto slept = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    wait->waited += slept.count() > delay ? (uint32_t)slept.count() : delay;
    return true;
}

SysError OpenWaitingOutHolds(const char* path, FileHandle* file, const std::atomic<bool>* stop) {
    HoldWait wait = {};
    SysError error;
    while ((error = Sys.openForReading(path, file)) != 0 && WaitOutHold(&wait, error, false, stop)) {
    }
    return error;
}
