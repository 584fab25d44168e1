#include "comparepool.h"

#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "contract.h"

// Comparers beyond the cores and hints pay only while reads wait for the
// disk: from memory, the comparers only take turns on the cores (and the
// scan's thread waits behind them), and a hint costs an open and a close of
// both files on the scan's thread. So while reads do not wait, at most
// `cores` comparers run and nothing is hinted. Whether they wait, pairs read
// without a hint tell: those handed to a free comparer, all of them while
// reads do not wait, and every PROBE_EVERY-th waiting pair while they do.
// Of PROBE_ROUND such pairs, half or more that waited say that reads
// wait: from a disk nearly all of them do, while from memory a few are
// slowed by a switch of threads (or by a tracer counting calls). A pair
// waited when its reads took longer than reads from memory could: WAIT_NS
// and a nanosecond a byte (a gigabyte a second). The counts are kept under
// the workers' lock.
enum { PROBE_EVERY = 16, PROBE_ROUND = 32 };
const uint64_t WAIT_NS = 250000;

// A pair of unknown size is not known to be big: it shares the disk.
static bool IsBig(const PairSlot* slot) {
    return slot->listed.size >= BIG_PAIR_SIZE && slot->listed.size != SIZE_UNKNOWN;
}

// The bytes a pair is thought to hold per file, for sharing out work.
static uint64_t ListedBytes(const PairSlot* slot) {
    return slot->listed.size == SIZE_UNKNOWN ? 0 : slot->listed.size;
}

static void ComparePair(ComparePool* pool, PairSlot* slot, unsigned char* originalChunk, unsigned char* moddedChunk) {
    PairOutcome* outcome = &slot->outcome;
    *outcome = PairOutcome{FILES_NOT_COMPARED, 0, false, 0, 0, INVALID_FILE, 0, 0};
    if (slot->tooLong) {
        outcome->error = ENGINE_PATH_TOO_LONG;
        outcome->originalFailed = slot->original[0] == '\0';
        return;
    }
    size_t chunkSize = CHUNK_SIZE;
    if (IsBig(slot) && !pool->bigTried) {
        pool->bigTried = true;
        pool->bigOriginal = AllocateChunk(BIG_CHUNK_SIZE);
    }
    if (IsBig(slot) && pool->bigOriginal) {
        originalChunk = pool->bigOriginal;
        chunkSize = BIG_CHUNK_SIZE;
    }
    bool keep = pool->keptSources && pool->keptSources->fetch_add(1, std::memory_order_relaxed) < pool->keepAtMost;
    CompareCost cost = {0, 0};
    CompareRequest request = {slot->original, slot->modded, &slot->listed, originalChunk, moddedChunk, chunkSize,
                              pool->stop, keep ? &outcome->kept : nullptr};
    CompareFailure failure;
    outcome->comparison = CompareFiles(&request, &failure, &cost);
    outcome->error = failure.error;
    const char* failedPath = failure.path;
    if (pool->keptSources && outcome->kept == INVALID_FILE) pool->keptSources->fetch_sub(1, std::memory_order_relaxed);
    outcome->keptSize = slot->listed.size;
    outcome->keptStamp = slot->listed.stamp;
    outcome->bytesRead = cost.bytesRead;
    outcome->readNanoseconds = cost.readNanoseconds;
    outcome->originalFailed = failedPath == slot->original;
}

void CloseKept(std::atomic<unsigned>* keptSources, FileHandle kept) {
    if (kept == INVALID_FILE) return;
    Sys.closeFile(kept);
    keptSources->fetch_sub(1, std::memory_order_relaxed);
}

// The oldest waiting pair may start: pairs start in the order they came,
// a big one only once nothing else runs, nothing beside a big one, and no
// more than `cores` at once while reads do not wait.
static bool NextMayStart(const ComparePool* pool) {
    if (pool->started == pool->submitted || pool->bigRunning || (!pool->readsWait && pool->running >= pool->cores)) return false;
    return !IsBig(&pool->slots[pool->started % pool->window]) || pool->running == 0;
}

// Whether the scan, waiting for the oldest pair's outcome, is woken now.
// Waking it costs a switch of threads, about as much as comparing a small
// pair from memory: once that outcome is ready, it sleeps on until a batch
// of outcomes is, or until so few pairs wait that the comparers would soon
// run out of work. Under the workers' lock.
enum { OUTCOME_BATCH = WINDOW_PAIRS / 4 };
static bool ScanMayGo(const ComparePool* pool) {
    if (pool->slots[pool->taken % pool->window].state != SLOT_DONE) return false;
    return pool->ended - pool->taken >= OUTCOME_BATCH || pool->submitted - pool->started < pool->workers.count;
}

static void CountProbe(ComparePool* pool, bool waited) {
    pool->probesWaited += waited;
    if (++pool->probes < PROBE_ROUND) return;
    bool before = pool->readsWait;
    pool->readsWait = 2 * pool->probesWaited >= pool->probes;
    pool->probes = pool->probesWaited = 0;
    if (pool->readsWait && !before) pool->workers.wake.notify_all();  // comparers beyond the cores may start
}

// Small pairs from memory are claimed a few at a time: each claim and each
// hand-back takes the workers' lock, which the scan and the other comparers
// want for every pair too, and on a tree of small files that contention
// cost more switches of threads than the comparing. A claim stops at a
// chunk's worth of listed bytes (a size the listing did not tell counts
// as small), so that one comparer does not end up with the long pairs
// while the others wait, and leaves the other comparers their share of the
// waiting pairs. While reads wait for a disk each comparer is
// one read in flight: one pair at a time.
enum { CLAIM_BATCH = 8 };
static unsigned PairsToClaim(const ComparePool* pool) {
    if (pool->readsWait) return 1;
    uint64_t share = (pool->submitted - pool->started) / pool->sharers;
    uint64_t bytes = ListedBytes(&pool->slots[pool->started % pool->window]);
    unsigned claim = 1;
    for (; claim < CLAIM_BATCH && claim < share; ++claim) {
        bytes += ListedBytes(&pool->slots[(pool->started + claim) % pool->window]);
        if (bytes > CHUNK_SIZE) break;
    }
    return claim;
}

static void ComparerLoop(void* context) {
    ComparePool* pool = (ComparePool*)context;
    unsigned char* originalChunk = AllocateChunk(CHUNK_SIZE);
    unsigned char* moddedChunk = AllocateChunk(CHUNK_SIZE);
    std::unique_lock<std::mutex> hold(pool->workers.lock);
    for (;;) {
        pool->workers.wake.wait(hold, [pool] { return pool->workers.stopping || NextMayStart(pool); });
        if (pool->workers.stopping) break;
        uint64_t first = pool->started;
        unsigned claimed = PairsToClaim(pool);
        bool big = IsBig(&pool->slots[first % pool->window]);
        for (unsigned k = 0; k < claimed; ++k) pool->slots[(first + k) % pool->window].state.store(SLOT_RUNNING, std::memory_order_relaxed);
        pool->started += claimed;
        ++pool->running;
        pool->bigRunning = big;
        if (pool->scanWaits && ScanMayGo(pool)) pool->scanWakes.notify_one();
        hold.unlock();
        // Null chunks fail these pairs alone (ENGINE_OUT_OF_MEMORY). A stop
        // ends a comparison at its next chunk; the scan then takes no more
        // outcomes and StopComparePool starts nothing more.
        for (unsigned k = 0; k < claimed; ++k) ComparePair(pool, &pool->slots[(first + k) % pool->window], originalChunk, moddedChunk);
        hold.lock();
        for (unsigned k = 0; k < claimed; ++k) {
            PairSlot* slot = &pool->slots[(first + k) % pool->window];
            // Only the reads' time: opens and closes cost what they cost
            // whether the bytes are in memory or not (and a tracer slows them).
            if (slot->probe) CountProbe(pool, slot->outcome.readNanoseconds > WAIT_NS + slot->outcome.bytesRead);
            slot->state.store(SLOT_DONE, std::memory_order_release);
        }
        pool->ended += claimed;
        --pool->running;
        if (pool->scanWaits && ScanMayGo(pool)) pool->scanWakes.notify_one();
        // The pairs behind a big one wait for it to end; otherwise this
        // comparer starts the next pair itself, and the others were woken
        // as the pairs came.
        if (big) {
            pool->bigRunning = false;
            pool->workers.wake.notify_all();
        }
    }
    hold.unlock();
    FreeChunk(originalChunk);
    FreeChunk(moddedChunk);
}

// Moves the hinter's place past the pairs that started already or want no
// hint; true when a waiting pair wants one. Under the workers' lock.
static bool PairToHint(ComparePool* pool) {
    if (pool->hintNext < pool->started) pool->hintNext = pool->started;
    while (pool->hintNext < pool->submitted && !pool->slots[pool->hintNext % pool->window].hintWanted) ++pool->hintNext;
    return pool->hintNext < pool->submitted;
}

// Asks waiting pair `number` ahead; its paths are copied under the lock,
// while the pair waits and its slot cannot be handed over again. What was
// asked is counted only while the pair is still in its slot, not taken.
static void HintPair(ComparePool* pool, uint64_t number, std::unique_lock<std::mutex>& hold) {
    PairSlot* slot = &pool->slots[number % pool->window];
    char* original = pool->hintPaths + COPY_HINTS * PATH_BUFFER_SIZE;
    char* modded = original + PATH_BUFFER_SIZE;
    memcpy(original, slot->original, strlen(slot->original) + 1);
    memcpy(modded, slot->modded, strlen(slot->modded) + 1);
    uint64_t size = slot->listed.size;
    hold.unlock();
    uint64_t ahead = size < HINT_PER_FILE ? size : HINT_PER_FILE;
    bool unknown = size == SIZE_UNKNOWN;
    uint64_t askedOriginal = ahead, askedModded = ahead;
    // A failure shows again at the real open, and is recorded there.
    Sys.adviseWillNeed(original, ahead, unknown ? &askedOriginal : nullptr);
    Sys.adviseWillNeed(modded, ahead, unknown ? &askedModded : nullptr);
    hold.lock();
    if (slot->hintWanted && slot->number == number) {
        slot->hinted = askedOriginal + askedModded;
        pool->hintedBytes += slot->hinted;
    }
}

// The copy sources first: their copies are queued, while a waiting pair
// may still be started by a comparer before its hint comes.
static void HinterLoop(void* context) {
    ComparePool* pool = (ComparePool*)context;
    std::unique_lock<std::mutex> hold(pool->workers.lock);
    for (;;) {
        pool->hinters.wake.wait(hold, [pool] { return pool->hintStop || pool->copyHintCount > 0 || PairToHint(pool); });
        if (pool->hintStop) break;
        if (pool->copyHintCount == 0) {
            HintPair(pool, pool->hintNext++, hold);
            continue;
        }
        unsigned at = pool->copyHintFirst;
        char* own = pool->hintPaths + COPY_HINTS * PATH_BUFFER_SIZE;  // the entry may be written again once taken
        const char* queued = pool->hintPaths + at * PATH_BUFFER_SIZE;
        memcpy(own, queued, strlen(queued) + 1);
        uint64_t bytes = pool->copyHintBytes[at];
        pool->copyHintFirst = (at + 1) % COPY_HINTS;
        --pool->copyHintCount;
        hold.unlock();
        Sys.adviseWillNeed(own, bytes, nullptr);
        hold.lock();
    }
}

// Starts the hinter once, from the scan's thread, not under the lock.
static void StartHinter(ComparePool* pool) {
    pool->hinterTried = true;
    pool->hintPaths = (char*)malloc((COPY_HINTS + 2) * PATH_BUFFER_SIZE);
    if (pool->hintPaths && StartWorkers(&pool->hinters, 1, HinterLoop, pool) == 1) return;
    free(pool->hintPaths);
    pool->hintPaths = nullptr;
}

// One read in flight, on the scan's thread.
static void StartInline(ComparePool* pool) {
    pool->slots = &pool->inlineSlot;
    pool->window = 1;
    pool->inlineOriginal = AllocateChunk(CHUNK_SIZE);
    pool->inlineModded = AllocateChunk(CHUNK_SIZE);
}

void StartComparePool(ComparePool* pool, unsigned comparers, const std::atomic<bool>* stop) {
    bool lazy = comparers == 0;
    if (comparers == 0) comparers = DEFAULT_COMPARERS;
    if (comparers > MAX_COMPARERS) comparers = MAX_COMPARERS;
    pool->lazyComparers = pool->lazyProbes = pool->lazyWaited = 0;
    pool->stop = stop;
    pool->submitted = pool->started = pool->taken = pool->ended = pool->hintedBytes = 0;
    pool->running = 0;
    pool->bigRunning = pool->workers.stopping = pool->scanWaits = pool->readsWait = false;
    pool->cores = Sys.coreCount();
    if (pool->cores == 0) pool->cores = 1;
    pool->probes = pool->probesWaited = 0;
    pool->waiting = 0;
    pool->workers.count = 0;
    pool->bigTried = false;
    pool->bigOriginal = pool->inlineOriginal = pool->inlineModded = nullptr;
    pool->keptSources = nullptr;
    pool->keepAtMost = OpenFilesToKeep();
    pool->hinters.count = 0;
    pool->hinterTried = pool->hinterWanted = pool->hintStop = false;
    pool->hintNext = 0;
    pool->hintPaths = nullptr;
    pool->copyHintFirst = pool->copyHintCount = 0;
    pool->slots = comparers > 1 ? (PairSlot*)calloc(WINDOW_PAIRS, sizeof(PairSlot)) : nullptr;
    if (!pool->slots) {
        StartInline(pool);  // as asked, or as memory allows
        return;
    }
    pool->window = WINDOW_PAIRS;
    if (lazy) {
        pool->lazyComparers = comparers;
        pool->lazyBytes = pool->lazyDiskBytes = 0;
        pool->lazyRound = LAZY_PROBE_ROUND;
        pool->lazyEqual = pool->lazyFiles = 0;
        pool->lazyCounted = ThreadDiskReadBytes(&pool->lazyDiskBytes);
        pool->inlineOriginal = AllocateChunk(CHUNK_SIZE);
        pool->inlineModded = AllocateChunk(CHUNK_SIZE);
        return;
    }
    pool->sharers = comparers < pool->cores ? comparers : pool->cores;
    if (StartWorkers(&pool->workers, comparers, ComparerLoop, pool) == 0) {
        free(pool->slots);
        StartInline(pool);
    }
}

bool RoomForPair(const ComparePool* pool, uint64_t size) {
    if (pool->submitted == pool->taken) return true;
    uint64_t hint = pool->workers.count ? 2 * (size < HINT_PER_FILE ? size : HINT_PER_FILE) : 0;
    return pool->submitted - pool->taken < pool->window && pool->hintedBytes + hint <= WINDOW_HINT_BYTES;
}

static bool CopyPath(const char* path, char* into) {
    size_t length = strlen(path);
    if (length >= PATH_BUFFER_SIZE) {
        into[0] = '\0';
        return false;
    }
    memcpy(into, path, length + 1);
    return true;
}

// Wakes a comparer once WAKE_BACKLOG pairs wait; fewer wait until the scan
// itself waits (TakeOutcome). A comparer takes pair after pair while any
// waits: waking one for each pair would cost two switches of threads per
// pair, more than comparing a small pair from memory. Under the workers' lock.
enum { WAKE_BACKLOG = 8 };
static void WakeIfBehind(ComparePool* pool) {
    if (pool->submitted - pool->started >= WAKE_BACKLOG) pool->workers.wake.notify_one();
}

void AskAhead(ComparePool* pool, const char* path, uint64_t bytes) {
    if (!pool->hinterTried) StartHinter(pool);
    size_t length = strlen(path);
    if (pool->hinters.count == 0 || length >= PATH_BUFFER_SIZE) return;
    std::lock_guard<std::mutex> hold(pool->workers.lock);
    if (pool->copyHintCount == COPY_HINTS) return;
    unsigned at = (pool->copyHintFirst + pool->copyHintCount++) % COPY_HINTS;
    memcpy(pool->hintPaths + at * PATH_BUFFER_SIZE, path, length + 1);
    pool->copyHintBytes[at] = bytes;
    pool->hinters.wake.notify_one();
}

void SubmitPair(ComparePool* pool, const char* original, const char* modded, ListedFile listed) {
    ENGINE_ASSERT(pool->submitted - pool->taken < pool->window);  // RoomForPair said yes
    PairSlot* slot = &pool->slots[pool->submitted % pool->window];
    slot->tooLong = !CopyPath(original, slot->original);
    slot->tooLong |= !CopyPath(modded, slot->modded);
    slot->listed = listed;
    slot->hinted = 0;
    slot->state.store(SLOT_WAITING, std::memory_order_relaxed);  // published under the lock below
    if (pool->workers.count == 0) {
        slot->hintWanted = false;
        ++pool->submitted;
        return;
    }
    if (pool->hinterWanted && !pool->hinterTried) StartHinter(pool);
    std::lock_guard<std::mutex> hold(pool->workers.lock);
    // A pair that a free comparer starts at once gains nothing from a hint;
    // one that waits behind the pairs in flight can have its first bytes
    // come in meanwhile.
    bool waits = pool->running + (unsigned)(pool->submitted - pool->started) >= pool->workers.count;
    slot->probe = !waits || !pool->readsWait || pool->waiting++ % PROBE_EVERY == 0;
    slot->hintWanted = !slot->probe && !slot->tooLong && pool->hinters.count > 0;
    pool->hinterWanted |= !slot->probe;  // started with the next pair, out of the lock
    slot->number = pool->submitted;
    ++pool->submitted;
    if (slot->hintWanted) pool->hinters.wake.notify_one();
    WakeIfBehind(pool);
}

bool ReadsWait(ComparePool* pool) {
    if (pool->workers.count == 0) return false;
    std::lock_guard<std::mutex> hold(pool->workers.lock);
    return pool->readsWait;
}

// Counts a pair read on the scan's thread before the comparers started
// (the scan's thread alone touches the pool till then). At the end of a
// round they start, and take over the pairs handed over and not yet read,
// when reads waited: half the round's bytes came from a disk, where the
// platform counts them (exact where timing is not: a switch of threads, or
// a tracer counting calls, makes a read from memory slow), else half its
// pairs took long in their reads. From memory they start only where
// comparing is nearly all the job does: in a dry run, which copies
// nothing, or when three quarters of the files so far were equal pairs,
// as there are then too few copies to keep the other cores busy.
static void CountLazyProbe(ComparePool* pool, const PairOutcome* outcome) {
    pool->lazyWaited += outcome->readNanoseconds > WAIT_NS + outcome->bytesRead;
    pool->lazyBytes += outcome->bytesRead;
    pool->lazyEqual += outcome->comparison == FILES_EQUAL;
    if (++pool->lazyProbes < pool->lazyRound) return;
    bool wait = 2 * pool->lazyWaited >= pool->lazyProbes;
    uint64_t diskBytes = 0;
    if (pool->lazyCounted && ThreadDiskReadBytes(&diskBytes)) {
        wait = 2 * (diskBytes - pool->lazyDiskBytes) >= pool->lazyBytes && pool->lazyBytes > 0;
        pool->lazyDiskBytes = diskBytes;
    }
    bool copying = pool->keptSources != nullptr;
    bool comparing = pool->lazyFiles >= LAZY_LONGEST_ROUND && (!copying || 4 * pool->lazyEqual >= 3 * pool->lazyFiles);
    pool->lazyProbes = pool->lazyWaited = 0;
    pool->lazyBytes = 0;
    if (!wait && !comparing) {
        // Each quiet round makes the next one longer: asking costs a call.
        if (pool->lazyRound < LAZY_LONGEST_ROUND) pool->lazyRound *= 2;
        return;
    }
    pool->started = pool->ended = pool->taken;
    pool->readsWait = wait;
    unsigned comparers = pool->lazyComparers;
    // From memory a comparer per core: more only take turns on the cores
    // (and with small files the calls of two threads already meet in the
    // kernel); reads that wait want several in flight.
    if (!wait && comparers > pool->cores) comparers = pool->cores;
    pool->lazyComparers = 0;  // started now, or never: the pairs stay on this thread
    pool->sharers = comparers < pool->cores ? comparers : pool->cores;
    StartWorkers(&pool->workers, comparers, ComparerLoop, pool);
}

void TakeOutcome(ComparePool* pool, PairOutcome* outcome) {
    ENGINE_ASSERT(pool->taken < pool->submitted);
    PairSlot* slot = &pool->slots[pool->taken % pool->window];
    if (pool->workers.count == 0) {
        ComparePair(pool, slot, pool->inlineOriginal, pool->inlineModded);
    } else if (slot->state.load(std::memory_order_acquire) != SLOT_DONE) {
        std::unique_lock<std::mutex> hold(pool->workers.lock);
        if (slot->state.load(std::memory_order_relaxed) != SLOT_DONE) {
            if (pool->started < pool->submitted) pool->workers.wake.notify_all();
            pool->scanWaits = true;
            pool->scanWakes.wait(hold, [pool] { return ScanMayGo(pool); });
            pool->scanWaits = false;
        }
    }
    *outcome = slot->outcome;
    if (slot->hintWanted) {
        // From here on the hinter leaves the slot alone.
        std::lock_guard<std::mutex> hold(pool->workers.lock);
        slot->hintWanted = false;
        pool->hintedBytes -= slot->hinted;
    }
    ++pool->taken;
    if (pool->lazyComparers) CountLazyProbe(pool, outcome);
}

void StopComparePool(ComparePool* pool) {
    {
        std::lock_guard<std::mutex> hold(pool->workers.lock);
        pool->hintStop = true;
        pool->hinters.wake.notify_all();
    }
    StopWorkers(&pool->hinters);
    free(pool->hintPaths);
    pool->hintPaths = nullptr;
    pool->hinterTried = pool->hinterWanted = false;
    StopWorkers(&pool->workers);
    for (uint64_t k = pool->taken; pool->slots && k < pool->submitted; ++k) {
        PairOutcome* left = &pool->slots[k % pool->window].outcome;
        if (pool->slots[k % pool->window].state == SLOT_DONE && left->kept != INVALID_FILE) {
            CloseKept(pool->keptSources, left->kept);
            left->kept = INVALID_FILE;
        }
    }
    if (pool->slots != &pool->inlineSlot) free(pool->slots);
    pool->slots = nullptr;
    FreeChunk(pool->bigOriginal);
    FreeChunk(pool->inlineOriginal);
    FreeChunk(pool->inlineModded);
    pool->bigOriginal = pool->inlineOriginal = pool->inlineModded = nullptr;
    pool->submitted = pool->started = pool->taken = pool->ended = pool->hintedBytes = 0;
}
