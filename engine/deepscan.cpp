#include "deepscan.h"

#include <stdlib.h>
#include <string.h>

#include "comparepool.h"
#include "copyqueue.h"
#include "hashtable.h"
#include "jobquestion.h"
#include "originalindex.h"
#include "joblists.h"
#include "jobstate.h"
#include "report.h"

// For each folder of `modded`, the original folder at its relative path:
// parents come before their children, so each needs one lookup. Null when
// memory ran out; the scan then matches folder by folder for each file.
static uint32_t* MatchFolders(const OriginalIndex* index, const FileTree* modded) {
    uint32_t count = FolderCount(modded);
    uint32_t* matches = (uint32_t*)malloc((count ? count : 1) * sizeof(uint32_t));
    if (!matches) return nullptr;
    for (uint32_t folder = 0; folder < count; ++folder) {
        if (folder == ROOT_FOLDER) {
            matches[folder] = MatchFolder(index, modded, ROOT_FOLDER);
            continue;
        }
        const FolderRecord* record = FolderAt(modded, folder);
        uint32_t parent = matches[record->parent];
        const char* name = NameAt(modded, record->name);
        matches[folder] = parent == NO_INDEX ? NO_INDEX : FindOriginalFolder(index, parent, name, strlen(name));
    }
    return matches;
}

// One scan's own state, on the job's thread.
struct ScanState {
    ComparePool pool;
    CopyQueue* copies;
    char originalPath[PATH_BUFFER_SIZE];  // the full paths of the pair at hand
    char moddedPath[PATH_BUFFER_SIZE];
    // The pairs in the pool's hands, by order of handing over (pair k at
    // k % WINDOW_PAIRS; the pool never holds more): the modded file and
    // its original, so that a pair's match is looked up once, not again
    // when its outcome is taken.
    uint32_t handedFile[WINDOW_PAIRS];
    uint32_t handedOriginal[WINDOW_PAIRS];
    OriginalIndex index;
    uint32_t* folderMatches;  // MatchFolders; null when memory ran out
    uint32_t* matched;        // a bit per original file that a modded one matched
    uint32_t* unread;         // UnreadOriginalFolders
    // Where names are compared without letter case (Windows), a folder may
    // still tell it apart (per-folder case sensitivity, a network share):
    // the modded files taken so far, by their compared relative path, so
    // that two of them that would land on one target are never merged.
    // Modded file indices, hashed by HashComparedPath; no slots until the first.
    bool foldCase;
    HashTable<uint32_t> carried;
};

// Half full at most: each probe compares two paths name by name.
enum { CARRIED_MAX_LOAD = 50 };

// True when a modded file taken before has the relative path of `file` as
// the platform compares names; otherwise takes `file` in. When memory runs
// out the file is taken unchecked: as without this check.
static bool ClashesWithCarried(ScanState* scan, uint32_t file) {
    const FileTree* modded = &Job.ModdedTree;
    if (!GrowForOne(&scan->carried, [modded](uint32_t at) { return HashComparedPath(modded, at); })) return false;
    uint32_t slot = ProbeHashTable(&scan->carried, HashComparedPath(modded, file), [modded, file](uint32_t at) {
        return CompareFilePaths(modded, at, modded, file, true) == 0;
    });
    if (!IsEmptySlot(scan->carried.slots[slot])) return true;
    FillSlot(&scan->carried, slot, file);
    return false;
}

// `outcome`: its comparison's, whose handle (`kept`, or INVALID_FILE) the
// copy reads from; null for a file not compared.
static void PushChanged(ScanState* scan, uint32_t file, bool isNew, const PairOutcome* outcome = nullptr) {
    FileHandle kept = outcome ? outcome->kept : INVALID_FILE;
    JobResult* result = Job.Result;
    ChangedFile* changed = (ChangedFile*)AppendItem(&Job.ChangedList);
    if (!changed || Job.DryRun) CloseKept(scan->pool.keptSources, kept);
    if (!changed) {
        FilePath(&Job.ModdedTree, file, scan->moddedPath);
        RecordProblem(result, PROBLEM_COPY, true, ENGINE_OUT_OF_MEMORY, scan->moddedPath);
        return;
    }
    changed->file = file;
    changed->slot = NOT_QUEUED;
    changed->flags = isNew ? (uint32_t)CHANGED_NEW : 0u;
    if (isNew) ++result->newFiles;
    else ++result->changedFiles;
    ++Job.ChangedCount;
    if (scan->foldCase && ClashesWithCarried(scan, file)) {
        changed->flags |= CHANGED_CLASH;  // failed when its copy is awaited
        if (!Job.DryRun) CloseKept(scan->pool.keptSources, kept);
        return;
    }
    if (!Job.DryRun) {
        if (kept != INVALID_FILE) QueueCopy(scan->copies, changed, kept, outcome->keptSize, outcome->keptStamp);
        else QueueCopy(scan->copies, changed);
    }
}

// A new or resized file is copied without being compared, so its copy is
// the first read of it, perhaps from a disk that does not hold it in
// memory. Asking for its first bytes now lets that read overlap the copies
// queued before it, but only while reads are seen to wait: from memory
// the hint is an open and a close for nothing. The pool's hinter asks it,
// so that the scan does not wait for the file's metadata. Only a hint: the
// copy records whatever fails.
static void HintCopySource(ScanState* scan, uint32_t file) {
    if (!ReadsWait(&scan->pool)) return;
    uint64_t size = FileSize(&Job.ModdedTree, file);
    if (FilePath(&Job.ModdedTree, file, scan->moddedPath) == 0) return;
    AskAhead(&scan->pool, scan->moddedPath, size < HINT_PER_FILE ? size : HINT_PER_FILE);
}

// What the scan does with one modded file, decided from the listing alone.
enum PairKind { PAIR_NEW, PAIR_RESIZED, PAIR_TO_READ };

// Finds the original of modded file `file` (`*original`, NO_INDEX for none).
static PairKind MatchPair(const OriginalIndex* index, const uint32_t* folderMatches, uint32_t file,
                          uint32_t* original) {
    const FileTree* modded = &Job.ModdedTree;
    const FileRecord* record = FileAt(modded, file);
    const char* name = NameAt(modded, record->name);
    uint32_t folder = folderMatches ? folderMatches[record->folder] : MatchFolder(index, modded, record->folder);
    *original = folder == NO_INDEX ? NO_INDEX : FindOriginal(index, folder, name, strlen(name));
    if (*original == NO_INDEX) return PAIR_NEW;
    uint64_t size = FileSize(modded, file), originalSize = FileSize(&Job.OriginalTree, *original);
    if (size != originalSize && size != SIZE_UNKNOWN && originalSize != SIZE_UNKNOWN) return PAIR_RESIZED;  // no need to read a byte
    return PAIR_TO_READ;
}

// One bit per item, for `count` items, all clear; null when memory ran out.
static uint32_t* NewBits(uint32_t count) {
    return (uint32_t*)calloc(count / 32 + 1, sizeof(uint32_t));
}
static void SetBit(uint32_t* bits, uint32_t at) {
    bits[at >> 5] |= 1u << (at & 31);
}
static bool HasBit(const uint32_t* bits, uint32_t at) {
    return (bits[at >> 5] >> (at & 31)) & 1;
}

// Counts, and lists when asked, the original files that no modded file
// matched (`matched`), in the order the index met them. Such a file is
// removed when the nearest folder above it that the modded tree has too
// was listed whole there; below a folder that was not, what is missing may
// only have been unreadable.
static void FindRemoved(const OriginalIndex* index, const uint32_t* folderMatches, const uint32_t* matched) {
    const FileTree* originals = &Job.OriginalTree;
    const FileTree* modded = &Job.ModdedTree;
    JobResult* result = Job.Result;
    uint32_t* present = NewBits(FolderCount(originals));  // the modded tree has this folder
    uint32_t* partly = NewBits(FolderCount(originals));   // ... but not every entry of it
    if (present && partly) {
        for (uint32_t folder = 0; folder < FolderCount(modded); ++folder) {
            uint32_t match = folderMatches ? folderMatches[folder] : MatchFolder(index, modded, folder);
            if (match != NO_INDEX) SetBit(present, match);
        }
        for (uint32_t at = 0; at < modded->partlyListed.count; ++at) {
            uint32_t match = MatchFolder(index, modded, *(const uint32_t*)ItemAt(&modded->partlyListed, at));
            if (match != NO_INDEX) SetBit(partly, match);
        }
        for (uint32_t file = 0; file < FileCount(originals); ++file) {
            if (HasBit(matched, file)) continue;
            uint32_t folder = FileAt(originals, file)->folder;
            while (folder != NO_INDEX && !HasBit(present, folder)) folder = FolderAt(originals, folder)->parent;
            if (folder == NO_INDEX || HasBit(partly, folder)) continue;
            ++result->removedFiles;
            if (!result->keepRemovedList) continue;
            if (uint32_t* listed = (uint32_t*)AppendItem(&result->removedList)) *listed = file;
        }
    }
    // Out of memory, nothing is said to be removed; the list is all or nothing.
    if (!present || !partly || result->removedList.count != (result->keepRemovedList ? result->removedFiles : 0)) {
        result->removedFiles = 0;
        ReleaseBlockList(&result->removedList);
    }
    free(present);
    free(partly);
}

// For each folder of the modded tree, a bit set when the original tree
// could not be read whole where its files would be: the original folder at
// its relative path, or the nearest folder above it that the original
// has, was not listed whole (or the original has no root). A new file
// there may be new only because its original could not be listed. Null
// when memory ran out or the folders were not matched.
static uint32_t* UnreadOriginalFolders(const uint32_t* folderMatches) {
    const FileTree* originals = &Job.OriginalTree;
    const FileTree* modded = &Job.ModdedTree;
    uint32_t* partly = NewBits(FolderCount(originals));
    uint32_t* unread = folderMatches ? NewBits(FolderCount(modded)) : nullptr;
    if (partly && unread) {
        for (uint32_t at = 0; at < originals->partlyListed.count; ++at)
            SetBit(partly, *(const uint32_t*)ItemAt(&originals->partlyListed, at));
        // Parents come before their children.
        for (uint32_t folder = 0; folder < FolderCount(modded); ++folder) {
            uint32_t match = folderMatches[folder];
            bool isUnread = match != NO_INDEX   ? HasBit(partly, match)
                            : folder == ROOT_FOLDER ? true
                                                    : HasBit(unread, FolderAt(modded, folder)->parent);
            if (isUnread) SetBit(unread, folder);
        }
    } else {
        free(unread);
        unread = nullptr;
    }
    free(partly);
    return unread;
}

// True when the new modded file `file` may have an original that could not
// be read; without the folder bits, whenever anything of the original was not.
static bool OriginalUnread(const uint32_t* unread, uint32_t file) {
    const FileTree* originals = &Job.OriginalTree;
    if (!unread) return originals->partlyListed.count > 0 || FolderCount(originals) == 0;
    return HasBit(unread, FileAt(&Job.ModdedTree, file)->folder);
}

// Matches modded files from `*ahead` down, in list order, and hands the
// pairs to read to the pool while its window has room. When nothing is in
// flight there is always room, so the file the scan decides next is
// handed over before its outcome is asked for.
static void HandOverPairs(ScanState* scan, uint32_t* ahead) {
    const FileTree* originals = &Job.OriginalTree;
    const FileTree* modded = &Job.ModdedTree;
    for (; *ahead > 0; --*ahead) {
        uint32_t file = *ahead - 1;
        uint32_t original;
        if (MatchPair(&scan->index, scan->folderMatches, file, &original) != PAIR_TO_READ) continue;
        // A size either listing did not tell is asked by the comparison.
        uint64_t size = FileSize(modded, file);
        if (FileSize(originals, original) != size) size = SIZE_UNKNOWN;
        if (!RoomForPair(&scan->pool, size)) break;
        FilePath(originals, original, scan->originalPath);
        FilePath(modded, file, scan->moddedPath);
        scan->handedFile[scan->pool.submitted % WINDOW_PAIRS] = file;
        scan->handedOriginal[scan->pool.submitted % WINDOW_PAIRS] = original;
        SubmitPair(&scan->pool, scan->originalPath, scan->moddedPath,
                   ListedFile{size, StampOf(modded, file), StampOf(originals, original)});
    }
}

// The verdict on modded file `at`, in list order: changed list, copy
// queue, problems, as with one read at a time. A pair to read was handed
// over first, so it is the oldest in the pool. False when the job was
// stopped in the middle of its pair: it is then neither equal nor changed.
static bool DecideFile(ScanState* scan, uint32_t at) {
    JobResult* result = Job.Result;
    uint32_t original;
    PairKind kind = PAIR_TO_READ;
    uint32_t oldest = (uint32_t)(scan->pool.taken % WINDOW_PAIRS);
    if (scan->pool.taken < scan->pool.submitted && scan->handedFile[oldest] == at) original = scan->handedOriginal[oldest];
    else kind = MatchPair(&scan->index, scan->folderMatches, at, &original);
    if (original != NO_INDEX && scan->matched) SetBit(scan->matched, original);
    if (kind != PAIR_TO_READ && !Job.DryRun) HintCopySource(scan, at);
    if (kind == PAIR_NEW) {
        if (OriginalUnread(scan->unread, at)) ++result->uncompared;
        PushChanged(scan, at, true);
        return true;
    }
    if (kind == PAIR_RESIZED) {
        PushChanged(scan, at, false);
        return true;
    }
    PairOutcome outcome;
    TakeOutcome(&scan->pool, &outcome);
    result->bytesRead += outcome.bytesRead;
    if (outcome.error == ENGINE_ABANDONED) return false;
    if (outcome.comparison == FILES_NOT_COMPARED) {
        char* failedPath = outcome.originalFailed ? scan->originalPath : scan->moddedPath;
        if (outcome.originalFailed) FilePath(&Job.OriginalTree, original, failedPath);
        else FilePath(&Job.ModdedTree, at, failedPath);
        // An original that cannot be read leaves the pair undecided: a failure of the run.
        RecordProblem(result, PROBLEM_COMPARE, outcome.originalFailed, outcome.error, failedPath);
        if (outcome.originalFailed) ++result->uncompared;
    }
    if (outcome.comparison != FILES_EQUAL) PushChanged(scan, at, false, &outcome);
    return true;
}

// The modded files that have an original at their relative path.
static uint32_t CountSharedFiles(const ScanState* scan) {
    const FileTree* modded = &Job.ModdedTree;
    uint32_t shared = 0;
    for (uint32_t file = 0; file < FileCount(modded); ++file) {
        uint32_t original;
        if (MatchPair(&scan->index, scan->folderMatches, file, &original) != PAIR_NEW) ++shared;
    }
    return shared;
}

void DeepScan(CopyQueue* copies) {
    const FileTree* originals = &Job.OriginalTree;
    const FileTree* modded = &Job.ModdedTree;
    ScanState scan;
    scan.copies = copies;
    BuildOriginalIndex(originals, &scan.index);
    scan.folderMatches = MatchFolders(&scan.index, modded);
    scan.matched = NewBits(FileCount(originals));
    scan.unread = UnreadOriginalFolders(scan.folderMatches);
    scan.foldCase = scan.index.foldCase;
    scan.carried = HashTable<uint32_t>{nullptr, 0, 0, CARRIED_MAX_LOAD};
    // Asked before the first copy is queued; only of a user who can be asked.
    if (Job.Report && Job.Report->askQuestion && !StopRequested()) ConfirmSharedPaths(CountSharedFiles(&scan));
    StartComparePool(&scan.pool, Job.Comparers, JobStopFlag());
    if (!Job.DryRun) scan.pool.keptSources = &copies->keptSources;

    // List order is the newest file first. Files below `ahead` are not yet
    // looked at; every pair above it that needs reading is in the pool's
    // hands. Both walk in list order, so the outcomes come back in the
    // order the pairs were handed over.
    uint32_t ahead = FileCount(modded);
    for (uint32_t at = FileCount(modded); at-- > 0 && !StopRequested();) {
        HandOverPairs(&scan, &ahead);
        if (!DecideFile(&scan, at)) break;
        NoteFileDecided(&scan.pool);
        ++Job.ScanPosition;
        SetProgressPosition(Job.ScanPosition);
    }

    StopComparePool(&scan.pool);
    // A scan cut short leaves files unmatched that are not gone.
    if (scan.matched && !StopRequested()) FindRemoved(&scan.index, scan.folderMatches, scan.matched);
    ReleaseHashTable(&scan.carried);
    free(scan.matched);
    free(scan.unread);
    free(scan.folderMatches);
    ReleaseOriginalIndex(&scan.index);
}
