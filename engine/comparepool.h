// The deep scan's comparisons, several at a time. A DATA folder that is not
// in memory is read from a disk that serves many reads at once about as fast
// as one; one thread reading one file after the other keeps it idle half
// the time. The scan hands over pair after pair and takes the outcomes back
// in the order it handed them over, so whatever it reports keeps its order.
//
// Memory stays bounded: each comparer owns two CHUNK_SIZE buffers, the
// pool one BIG_CHUNK_SIZE buffer for the original of the one big pair it
// reads at a time (made when the first comes; the modded file is compared
// in CHUNK_SIZE pieces), and at most WINDOW_PAIRS pairs are waiting or in
// flight, their paths in slots of the pool's own (8 KiB each). With the
// default 4 comparers that is at most 8 + 4 + 0.4 MiB; with 8, 20.4 MiB.
// While reads wait for the disk (as the times of pairs read without a hint
// tell), all comparers run and waiting pairs are asked ahead into the page
// cache (Sys.adviseWillNeed), at most HINT_PER_FILE bytes per file and
// WINDOW_HINT_BYTES in all (a file the listing told no size of counts for
// what the hint found it holds). While they do not, the files are in
// memory: no more comparers run than there are cores, and nothing is hinted.
//
// Threads are woken in batches, not for every pair: from memory a small
// pair takes about as long to compare as a switch of threads.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <condition_variable>

#include "filecompare.h"
#include "jobparameters.h"  // the comparer limits
#include "platform.h"
#include "workerpool.h"

// Pairs listed at this size and more are read alone, with reads of
// BIG_CHUNK_SIZE: a spinning disk then streams them instead of seeking
// between files. Where the listing tells no sizes (POSIX), every pair
// shares the disk.
const uint64_t BIG_PAIR_SIZE = 8u << 20;
const size_t BIG_CHUNK_SIZE = 4u << 20;

enum { LAZY_PROBE_ROUND = 8, LAZY_LONGEST_ROUND = 64 };

// The read-ahead window: pairs handed over and not yet taken back, and the
// bytes asked ahead for them.
enum { WINDOW_PAIRS = 48 };
const uint64_t HINT_PER_FILE = 2u << 20;
const uint64_t WINDOW_HINT_BYTES = 48u << 20;

// How one pair's comparison ended.
struct PairOutcome {
    Comparison comparison;
    SysError error;       // when FILES_NOT_COMPARED
    bool originalFailed;  // the error came from the original (else the modded file)
    uint64_t bytesRead;   // both files together
    uint64_t readNanoseconds;  // spent in the reads
    FileHandle kept;      // a modded file that differs, left open for its copy (see keptSources), or INVALID_FILE
    uint64_t keptSize, keptStamp;  // `kept` as the comparison saw it, which its copy holds it to
};

// Modded files that differ are left open for their copies while fewer
// than OpenFilesToKeep() are (platform.h), counted in the pool's
// `keptSources`: well below the descriptor limit, while a queue of
// thousands of copies reopens the rest.

enum SlotState : uint8_t { SLOT_WAITING, SLOT_RUNNING, SLOT_DONE };

// One pair handed over: its own copies of the paths, so the caller's
// buffers may be reused at once.
struct PairSlot {
    char original[PATH_BUFFER_SIZE];
    char modded[PATH_BUFFER_SIZE];
    ListedFile listed;
    uint64_t hinted;  // bytes asked ahead for both files, counted in the pool's hintedBytes
    bool tooLong;     // a path did not fit: the pair fails unread
    bool probe;       // read without a hint: its time tells whether reads wait
    // Set to SLOT_DONE under the workers' lock once the outcome is written
    // (release), so the scan may take a finished outcome without the lock.
    std::atomic<SlotState> state;
    PairOutcome outcome;
};

// The pool of one scan, which owns it and hands it to every call below.
// Pair k lives in slots[k % window]. `submitted` and `scanWaits` are
// written by the scan's thread under the workers' lock; `started`, `ended`,
// `running` and `bigRunning` by the comparers under it; `taken` and
// `hintedBytes` only by the scan's thread. The probe counts (see
// comparepool.cpp) are kept under the lock.
struct ComparePool {
    WorkerPool workers;                   // the comparers; `wake`: pairs wait, a big one ended, or the pool stops
    std::condition_variable scanWakes;    // the scan, waiting for an outcome, may go on
    PairSlot* slots;
    PairSlot inlineSlot;  // when the slots cannot be allocated: one pair at a time
    uint32_t window;
    uint64_t submitted, started, taken, ended;
    uint64_t hintedBytes;
    bool scanWaits;
    unsigned running;
    bool bigRunning;
    bool readsWait;       // reads wait for the disk: every comparer runs, pairs are hinted
    unsigned cores;
    unsigned sharers;     // set before the comparers start: the fewer of them and of the cores
    unsigned probes, probesWaited;
    uint64_t waiting;     // waiting pairs handed over while reads waited
    // Comparers not started yet (0: none to start). Until reads are seen to
    // wait, each pair is read on the scan's thread when its outcome is
    // taken: from memory, handing pairs to threads costs more than it gains.
    unsigned lazyComparers;
    unsigned lazyProbes, lazyWaited, lazyRound;
    uint64_t lazyEqual;                  // equal pairs so far
    uint64_t lazyFiles;                  // modded files the scan decided so far (NoteFileDecided)
    bool lazyCounted;                   // the platform counts this thread's disk reads (ThreadDiskReadBytes)
    uint64_t lazyDiskBytes, lazyBytes;  // read from a disk so far; read in this round
    const std::atomic<bool>* stop;
    // Null: nothing is kept open (a dry run). Else a changed file's handle
    // is kept while fewer than OpenFilesToKeep() are; whoever closes a
    // kept handle counts it down. Set by the caller after StartComparePool.
    std::atomic<unsigned>* keptSources;
    unsigned keepAtMost;
    // For the big pair of the moment, made when the first one comes (a tree
    // of small files never pays for it) by the one comparer that may read a
    // big pair; null after a failed try: big pairs use the comparer's chunks.
    // The modded file is compared in CHUNK_SIZE pieces of the comparer's own chunk.
    unsigned char* bigOriginal;
    bool bigTried;
    unsigned char* inlineOriginal;  // the scan's thread's own chunks, when there are no comparers
    unsigned char* inlineModded;
};

// Starts `pool` (its fields need no setting up) with `comparers` threads
// (more than MAX_COMPARERS: that many). With 1 there is no thread: each pair is read
// on the scan's thread when its outcome is taken, and nothing is read ahead.
// With 0, DEFAULT_COMPARERS are started once reads are seen to wait, or
// one per core (at most DEFAULT_COMPARERS) once comparing is nearly all the
// job does: LAZY_LONGEST_ROUND or more files decided so far, and either a
// dry run (keptSources null) or three quarters of them equal pairs. The
// pairs are read on the scan's thread until then. Reads wait when, in a
// round of LAZY_PROBE_ROUND pairs (twice as many after each round that did not
// wait, up to LAZY_LONGEST_ROUND), half their bytes came from a disk where the
// platform counts that, else half of them took longer in their reads than
// memory could.
// Threads that cannot be started leave fewer comparers; with none started
// the pool reads as with 1. Once `stop` (may be null) is raised, a pair
// under way ends before its next chunk, failing with ENGINE_ABANDONED.
void StartComparePool(ComparePool* pool, unsigned comparers, const std::atomic<bool>* stop);

// True when a pair of `size` bytes per file may be handed over now: the
// window has room for it, or nothing is waiting at all.
bool RoomForPair(const ComparePool* pool, uint64_t size);

// The scan decided one more modded file, compared or not: what the pool
// weighs its equal pairs against before its comparers start.
inline void NoteFileDecided(ComparePool* pool) {
    ++pool->lazyFiles;
}

// True while reads are seen to wait for the disk, when a read asked ahead
// (Sys.adviseWillNeed) pays; from memory it is two calls per file for nothing.
bool ReadsWait(ComparePool* pool);

// Hands over the next pair: the full paths of the original and the modded
// file (copied; the caller's strings may go) and the modded file as listed,
// whose size both files have (SIZE_UNKNOWN: the comparison asks). Call only after RoomForPair said yes. A path
// longer than PATH_BUFFER_SIZE - 1 is the pair's failure (ENGINE_PATH_TOO_LONG).
void SubmitPair(ComparePool* pool, const char* original, const char* modded, ListedFile listed);

// Waits for the outcome of the oldest pair handed over and not yet taken,
// and takes it. There must be one.
void TakeOutcome(ComparePool* pool, PairOutcome* outcome);

// Closes a handle an outcome kept, and counts it down.
void CloseKept(std::atomic<unsigned>* keptSources, FileHandle kept);

// Joins the comparers. Pairs not yet started are dropped unread (the scan
// stops early only when the job was abandoned); a comparison under way ends
// first, within a chunk when stopped. Frees everything the pool holds,
// handles kept for outcomes not taken included.
void StopComparePool(ComparePool* pool);
