#include "comparepool.h"

#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

enum SlotState : uint8_t { SLOT_WAITING, SLOT_RUNNING, SLOT_DONE };

// One pair handed over: its own copies of the paths, so the caller's
// buffers may be reused at once.
struct PairSlot {
    char original[PATH_BUFFER_SIZE];
    char modded[PATH_BUFFER_SIZE];
    ListedFile listed;
    uint64_t hinted;  // bytes asked ahead for both files, counted in HintedBytes
    bool tooLong;     // a path did not fit: the pair fails unread
    bool probe;       // read without a hint: its time tells whether reads wait
    SlotState state;
    PairOutcome outcome;
};

// Pair k lives in Slots[k % Window]. Submitted and ScanWaits are written by
// the scan's thread under Lock; Started, Ended, Running and BigRunning by
// the comparers under Lock; Taken and HintedBytes only by the scan's thread.
static std::mutex Lock;
static std::condition_variable Startable;  // pairs wait (WakeIfBehind), a big one ended, or the pool stops
static std::condition_variable Landed;     // the scan may go on (ScanMayGo)
static PairSlot* Slots;
static PairSlot InlineSlot;  // when the slots cannot be allocated: one pair at a time
static uint32_t Window;
static uint64_t Submitted;
static uint64_t Started;
static uint64_t Taken;
static uint64_t Ended;
static uint64_t HintedBytes;
static bool ScanWaits;
static unsigned Running;
static bool BigRunning;
static bool Stopping;

// Comparers beyond the cores and hints pay only while reads wait for the
// disk: from memory, the comparers only take turns on the cores (and the
// scan's thread waits behind them), and a hint costs an open and a close of
// both files on the scan's thread. So while reads do not wait, at most
// Cores comparers run and nothing is hinted. Whether they wait, pairs read
// without a hint tell: those handed to a free comparer, all of them while
// reads do not wait, and every PROBE_EVERY-th waiting pair while they do.
// Of PROBE_ROUND such pairs, a quarter or more that waited say that reads
// wait. A pair waited when it took longer than a read from memory could:
// WAIT_NS and a nanosecond a byte (a gigabyte a second). Under Lock.
enum { PROBE_EVERY = 16, PROBE_ROUND = 32 };
const uint64_t WAIT_NS = 250000;
static bool ReadsWait;
static unsigned Cores;
static unsigned Probes, ProbesWaited;
static uint64_t Waiting;  // waiting pairs handed over while reads waited

static std::thread Comparers[MAX_COMPARERS];
static unsigned ComparerCount;  // 0: pairs are read on the scan's thread
static const std::atomic<bool>* Stop;

// For the big pair of the moment, made when the first one comes (a tree of
// small files never pays for them) by the one comparer that may read a big
// pair; null after a failed try: big pairs use the comparer's chunks.
static unsigned char* BigOriginal;  // the modded file is compared in CHUNK_SIZE pieces of the comparer's own chunk
static bool BigTried;
// The scan's thread's own chunks, when there are no comparers.
static unsigned char* InlineOriginal;
static unsigned char* InlineModded;

static bool IsBig(const PairSlot* slot) {
    return slot->listed.size >= BIG_PAIR_SIZE;
}

static void ComparePair(PairSlot* slot, unsigned char* originalChunk, unsigned char* moddedChunk) {
    PairOutcome* outcome = &slot->outcome;
    *outcome = PairOutcome{FILES_NOT_COMPARED, 0, false, 0};
    if (slot->tooLong) {
        outcome->error = ENGINE_PATH_TOO_LONG;
        outcome->originalFailed = slot->original[0] == '\0';
        return;
    }
    size_t chunkSize = CHUNK_SIZE;
    if (IsBig(slot) && !BigTried) {
        BigTried = true;
        BigOriginal = AllocateChunk(BIG_CHUNK_SIZE);
    }
    if (IsBig(slot) && BigOriginal) {
        originalChunk = BigOriginal;
        chunkSize = BIG_CHUNK_SIZE;
    }
    const char* failedPath = nullptr;
    outcome->comparison = CompareFiles(slot->original, slot->modded, slot->listed, originalChunk, moddedChunk,
                                       chunkSize, Stop, &outcome->error, &failedPath, &outcome->bytesRead);
    outcome->originalFailed = failedPath == slot->original;
}

// The oldest waiting pair may start: pairs start in the order they came,
// a big one only once nothing else runs, nothing beside a big one, and no
// more than Cores at once while reads do not wait.
static bool NextMayStart() {
    if (Started == Submitted || BigRunning || (!ReadsWait && Running >= Cores)) return false;
    return !IsBig(&Slots[Started % Window]) || Running == 0;
}

// Whether the scan, waiting for the oldest pair's outcome, is woken now.
// Waking it costs a switch of threads, about as much as comparing a small
// pair from memory: once that outcome is ready, it sleeps on until a batch
// of outcomes is, or until so few pairs wait that the comparers would soon
// run out of work. Under Lock.
enum { LANDED_BATCH = WINDOW_PAIRS / 4 };
static bool ScanMayGo() {
    if (Slots[Taken % Window].state != SLOT_DONE) return false;
    return Ended - Taken >= LANDED_BATCH || Submitted - Started < ComparerCount;
}

static void CountProbe(bool waited) {
    ProbesWaited += waited;
    if (++Probes < PROBE_ROUND) return;
    bool before = ReadsWait;
    ReadsWait = 4 * ProbesWaited >= Probes;
    Probes = ProbesWaited = 0;
    if (ReadsWait && !before) Startable.notify_all();  // comparers beyond the cores may start
}

static void ComparerLoop(void*) {
    unsigned char* originalChunk = AllocateChunk(CHUNK_SIZE);
    unsigned char* moddedChunk = AllocateChunk(CHUNK_SIZE);
    std::unique_lock<std::mutex> hold(Lock);
    for (;;) {
        Startable.wait(hold, [] { return Stopping || NextMayStart(); });
        if (Stopping) break;
        PairSlot* slot = &Slots[Started++ % Window];
        bool big = IsBig(slot);
        slot->state = SLOT_RUNNING;
        ++Running;
        BigRunning = big;
        if (ScanWaits && ScanMayGo()) Landed.notify_one();
        hold.unlock();
        // Null chunks fail this pair alone (ENGINE_OUT_OF_MEMORY). A stop
        // ends the comparison at its next chunk; the scan then takes no more
        // outcomes and StopComparePool starts nothing more.
        auto begun = std::chrono::steady_clock::now();
        ComparePair(slot, originalChunk, moddedChunk);
        uint64_t took = (uint64_t)std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now() - begun).count();
        hold.lock();
        if (slot->probe) CountProbe(took > WAIT_NS + slot->outcome.bytesRead);
        slot->state = SLOT_DONE;
        ++Ended;
        --Running;
        if (ScanWaits && ScanMayGo()) Landed.notify_one();
        // The pairs behind a big one wait for it to end; otherwise this
        // comparer starts the next pair itself, and the others were woken
        // as the pairs came.
        if (big) {
            BigRunning = false;
            Startable.notify_all();
        }
    }
    hold.unlock();
    FreeChunk(originalChunk);
    FreeChunk(moddedChunk);
}

// One read in flight, on the scan's thread.
static void StartInline() {
    Slots = &InlineSlot;
    Window = 1;
    InlineOriginal = AllocateChunk(CHUNK_SIZE);
    InlineModded = AllocateChunk(CHUNK_SIZE);
}

void StartComparePool(unsigned comparers, const std::atomic<bool>* stop) {
    if (comparers == 0) comparers = DEFAULT_COMPARERS;
    if (comparers > MAX_COMPARERS) comparers = MAX_COMPARERS;
    Stop = stop;
    Submitted = Started = Taken = Ended = HintedBytes = 0;
    Running = 0;
    BigRunning = Stopping = ScanWaits = ReadsWait = false;
    Cores = std::thread::hardware_concurrency();
    if (Cores == 0) Cores = 1;
    Probes = ProbesWaited = 0;
    Waiting = 0;
    ComparerCount = 0;
    BigTried = false;
    Slots = comparers > 1 ? (PairSlot*)calloc(WINDOW_PAIRS, sizeof(PairSlot)) : nullptr;
    if (!Slots) {
        StartInline();  // as asked, or as memory allows
        return;
    }
    Window = WINDOW_PAIRS;
    for (unsigned i = 0; i < comparers && Sys.startThread(&Comparers[ComparerCount], ComparerLoop, nullptr); ++i)
        ++ComparerCount;
    if (ComparerCount == 0) {
        free(Slots);
        StartInline();
    }
}

bool RoomForPair(uint64_t size) {
    if (Submitted == Taken) return true;
    uint64_t hint = ComparerCount ? 2 * (size < HINT_PER_FILE ? size : HINT_PER_FILE) : 0;
    return Submitted - Taken < Window && HintedBytes + hint <= WINDOW_HINT_BYTES;
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
// pair, more than comparing a small pair from memory. Under Lock.
enum { WAKE_BACKLOG = 8 };
static void WakeIfBehind() {
    if (Submitted - Started >= WAKE_BACKLOG) Startable.notify_one();
}

void SubmitPair(const char* original, const char* modded, ListedFile listed) {
    PairSlot* slot = &Slots[Submitted % Window];
    slot->tooLong = !CopyPath(original, slot->original);
    slot->tooLong |= !CopyPath(modded, slot->modded);
    slot->listed = listed;
    slot->hinted = 0;
    slot->state = SLOT_WAITING;
    if (ComparerCount == 0) {
        ++Submitted;
        return;
    }
    {
        std::lock_guard<std::mutex> hold(Lock);
        // A pair that a free comparer starts at once gains nothing from a hint.
        bool waits = Running + (unsigned)(Submitted - Started) >= ComparerCount;
        slot->probe = !waits || !ReadsWait || Waiting++ % PROBE_EVERY == 0;
        if (slot->probe) {
            ++Submitted;
            WakeIfBehind();
            return;
        }
    }
    // It waits behind the pairs in flight: its first bytes can come in meanwhile.
    if (!slot->tooLong) {
        uint64_t ahead = listed.size < HINT_PER_FILE ? listed.size : HINT_PER_FILE;
        Sys.adviseWillNeed(slot->original, ahead);  // a failure shows again at the real open, and is recorded there
        Sys.adviseWillNeed(slot->modded, ahead);
        slot->hinted = 2 * ahead;
        HintedBytes += slot->hinted;
    }
    std::lock_guard<std::mutex> hold(Lock);
    ++Submitted;
    WakeIfBehind();
}

void TakeOutcome(PairOutcome* outcome) {
    PairSlot* slot = &Slots[Taken % Window];
    if (ComparerCount == 0) {
        ComparePair(slot, InlineOriginal, InlineModded);
    } else {
        std::unique_lock<std::mutex> hold(Lock);
        if (slot->state != SLOT_DONE) {
            if (Started < Submitted) Startable.notify_all();
            ScanWaits = true;
            Landed.wait(hold, [] { return ScanMayGo(); });
            ScanWaits = false;
        }
    }
    *outcome = slot->outcome;
    HintedBytes -= slot->hinted;
    ++Taken;
}

void StopComparePool() {
    {
        std::lock_guard<std::mutex> hold(Lock);
        Stopping = true;
        Startable.notify_all();
    }
    for (unsigned i = 0; i < ComparerCount; ++i) Comparers[i].join();
    ComparerCount = 0;
    if (Slots != &InlineSlot) free(Slots);
    Slots = nullptr;
    FreeChunk(BigOriginal);
    FreeChunk(InlineOriginal);
    FreeChunk(InlineModded);
    BigOriginal = InlineOriginal = InlineModded = nullptr;
    Submitted = Started = Taken = Ended = HintedBytes = 0;
}
