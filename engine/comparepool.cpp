#include "comparepool.h"

#include <stdlib.h>
#include <string.h>

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
    SlotState state;
    PairOutcome outcome;
};

// Pair k lives in Slots[k % Window]. Submitted is written by the scan's
// thread under Lock; Started, Running and BigRunning by the comparers under
// Lock; Taken and HintedBytes only by the scan's thread.
static std::mutex Lock;
static std::condition_variable Startable;  // a pair was handed over, one ended, or the pool stops
static std::condition_variable Landed;     // a pair's outcome is ready
static PairSlot* Slots;
static PairSlot InlineSlot;  // when the slots cannot be allocated: one pair at a time
static uint32_t Window;
static uint64_t Submitted;
static uint64_t Started;
static uint64_t Taken;
static uint64_t HintedBytes;
static unsigned Running;
static bool BigRunning;
static bool Stopping;

static std::thread Comparers[MAX_COMPARERS];
static unsigned ComparerCount;  // 0: pairs are read on the scan's thread
static const std::atomic<bool>* Stop;

// For the big pair of the moment, made when the first one comes (a tree of
// small files never pays for them) by the one comparer that may read a big
// pair; null after a failed try: big pairs use the comparer's chunks.
static unsigned char* BigOriginal;
static unsigned char* BigModded;
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
        BigModded = AllocateChunk(BIG_CHUNK_SIZE);
    }
    if (IsBig(slot) && BigOriginal && BigModded) {
        originalChunk = BigOriginal;
        moddedChunk = BigModded;
        chunkSize = BIG_CHUNK_SIZE;
    }
    const char* failedPath = nullptr;
    outcome->comparison = CompareFiles(slot->original, slot->modded, slot->listed, originalChunk, moddedChunk,
                                       chunkSize, Stop, &outcome->error, &failedPath, &outcome->bytesRead);
    outcome->originalFailed = failedPath == slot->original;
}

// The oldest waiting pair may start: pairs start in the order they came,
// a big one only once nothing else runs, and nothing beside a big one.
static bool NextMayStart() {
    if (Started == Submitted || BigRunning) return false;
    return !IsBig(&Slots[Started % Window]) || Running == 0;
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
        hold.unlock();
        // Null chunks fail this pair alone (ENGINE_OUT_OF_MEMORY). An
        // abandoned job needs no stop here: the scan stops taking outcomes
        // and StopComparePool starts nothing more.
        ComparePair(slot, originalChunk, moddedChunk);
        hold.lock();
        slot->state = SLOT_DONE;
        --Running;
        if (big) BigRunning = false;
        Landed.notify_all();
        Startable.notify_all();
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
    Submitted = Started = Taken = HintedBytes = 0;
    Running = 0;
    BigRunning = Stopping = false;
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
    bool waits;
    {
        std::lock_guard<std::mutex> hold(Lock);
        waits = Running + (unsigned)(Submitted - Started) >= ComparerCount;
        if (!waits) {
            ++Submitted;  // a comparer is free and starts it at once: no use reading ahead
            Startable.notify_one();
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
    Startable.notify_one();
}

void TakeOutcome(PairOutcome* outcome) {
    PairSlot* slot = &Slots[Taken % Window];
    if (ComparerCount == 0) {
        ComparePair(slot, InlineOriginal, InlineModded);
    } else {
        std::unique_lock<std::mutex> hold(Lock);
        Landed.wait(hold, [slot] { return slot->state == SLOT_DONE; });
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
    FreeChunk(BigModded);
    FreeChunk(InlineOriginal);
    FreeChunk(InlineModded);
    BigOriginal = BigModded = InlineOriginal = InlineModded = nullptr;
    Submitted = Started = Taken = HintedBytes = 0;
}
