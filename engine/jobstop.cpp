#include "jobstop.h"

#include <condition_variable>
#include <mutex>

#include "contract.h"

// A stop stays raised until the front end clears it, so that one asked for
// before the job started, or while it set out, is not lost. The flag is read
// without the lock between chunks and entries; the lock makes a stop and
// the start of a copy agree.
struct StopState {
    std::mutex lock;
    std::atomic<bool> requested{false};
    unsigned inFlight = 0;                // copies begun and not yet ended
    std::condition_variable copiesEnded;  // inFlight fell to 0
};

static StopState Stop;

bool StopRequested() {
    return Stop.requested.load(std::memory_order_relaxed);
}

const std::atomic<bool>* JobStopFlag() {
    return &Stop.requested;
}

void StopJob() {
    std::lock_guard<std::mutex> hold(Stop.lock);  // a copy that begins after this sees it
    Stop.requested.store(true);
}

void ClearJobStop() {
    std::lock_guard<std::mutex> hold(Stop.lock);
    Stop.requested.store(false);
}

void AbandonJob() {
    std::unique_lock<std::mutex> hold(Stop.lock);
    Stop.requested.store(true);
    Stop.copiesEnded.wait(hold, [] { return Stop.inFlight == 0; });
}

bool BeginCopy() {
    std::lock_guard<std::mutex> hold(Stop.lock);
    if (Stop.requested.load(std::memory_order_relaxed)) return false;
    ++Stop.inFlight;
    return true;
}

void EndCopy() {
    std::lock_guard<std::mutex> hold(Stop.lock);
    ENGINE_ASSERT(Stop.inFlight > 0);  // each EndCopy follows a BeginCopy that said yes
    if (--Stop.inFlight == 0) Stop.copiesEnded.notify_all();
}
