#include "fileindex.h"

#include <stdlib.h>
#include <string.h>

#include "exclusions.h"
#include "jobstate.h"
#include "listingrecords.h"
#include "treewalk.h"

static RecordBuffer Arena;

// The path being walked: the folder at the current depth, extended in
// place by each child's name.
static char IndexPath[PATH_BUFFER_SIZE];

// Folders on the current descent path. Each level adds at least two
// characters to the path, so the path buffer bounds the depth.
static FolderId Ancestors[PATH_BUFFER_SIZE / 2 + 1];
static size_t Depth;

// Characters of the root path at the start of IndexPath.
static size_t RootLength;
// The folder whose listing is at hand: what the index cannot hold of it
// makes it a folder not listed whole.
static uint32_t ListedFolder = NO_INDEX;

static bool OnDescentPath(FolderId id) {
    for (size_t i = 0; i < Depth; ++i)
        if (Ancestors[i].volume == id.volume && Ancestors[i].index == id.index) return true;
    return false;
}

static void Report(ProblemKind kind, SysError error, const char* first, const char* second = nullptr) {
    // Only the modded tree's losses are losses of the mod.
    RecordProblem(Job.Result, kind, Job.CountingFiles == 0, error, first, second);
    // No original file below such a modded folder may be said to be gone.
    if (ListedFolder != NO_INDEX)
        if (uint32_t* folder = (uint32_t*)AppendItem(&Job.CurrentTree->partlyListed)) *folder = ListedFolder;
}

// True when the job's patterns leave out the entry at `path` (a full path
// of the tree whose root has `rootLength` characters); counted as excluded.
static bool LeftOut(const char* path, size_t rootLength, bool isFolder) {
    if (!Job.Exclusions || !IsExcluded(Job.Exclusions, path + rootLength, isFolder)) return false;
    ++(Job.CountingFiles ? Job.Result->excludedOriginal : Job.Result->excludedModded);
    return true;
}

static void IndexFile(uint32_t folder, const char* name, size_t nameLength, uint64_t size, uint64_t stamp) {
    if (AddFile(Job.CurrentTree, folder, name, nameLength, size, stamp) == NO_INDEX) {
        Report(PROBLEM_PASSED_OVER, ENGINE_OUT_OF_MEMORY, IndexPath);
        return;
    }
    if (Job.CountingFiles == 1) ++Job.OriginalCount;
}

static void IndexFolder(size_t folderLength, uint32_t folder) {
    size_t mark = Arena.used;
    Arena.full = false;
    ListedFolder = folder;
    SysError error = 0;
    int share;
    if (!TakeListing(IndexPath, &Arena, &error, &share)) {
        error = Sys.listFolder(IndexPath, AppendEntry, &Arena);
        if (share >= 0) ShareSubfolders(share, IndexPath, Ancestors, Depth, Arena.data + mark, Arena.used - mark);
    }
    if (error && error != ENGINE_ABANDONED) Report(PROBLEM_LIST, error, IndexPath);  // a stop is no fault of the folder
    if (Arena.full) Report(PROBLEM_LIST, ENGINE_OUT_OF_MEMORY, IndexPath);
    size_t end = Arena.used;

    for (size_t at = mark; at < end && !JobAbandoned();) {
        // Re-read through the offset each time: a subfolder's walk may move the arena.
        EntryRecord* record = (EntryRecord*)(Arena.data + at);
        at += RecordSize(record->nameLength);
        const char* name = (const char*)(record + 1);
        if (IsDotOrDotDot(name)) continue;

        size_t childLength = folderLength + 1 + record->nameLength;
        if (childLength > PathLimit()) {
            Report(PROBLEM_PASSED_OVER, ENGINE_PATH_TOO_LONG, IndexPath, name);
            continue;
        }
        IndexPath[folderLength] = PathSeparator();
        memcpy(IndexPath + folderLength + 1, name, record->nameLength + 1);
        if (LeftOut(IndexPath, RootLength, record->kind == ENTRY_FOLDER)) {
            IndexPath[folderLength] = '\0';
            continue;
        }

        switch (record->kind) {
        case ENTRY_FILE:
            IndexFile(folder, name, record->nameLength, record->size, record->stamp);
            break;
        case ENTRY_FOLDER:
            if (OnDescentPath(record->id)) {
                Report(PROBLEM_PASSED_OVER, ENGINE_LINK_LOOP, IndexPath);
            } else {
                uint32_t child = AddFolder(Job.CurrentTree, folder, name, record->nameLength);
                if (child == NO_INDEX) {
                    Report(PROBLEM_LIST, ENGINE_OUT_OF_MEMORY, IndexPath);
                    break;
                }
                Ancestors[Depth++] = record->id;
                IndexFolder(childLength, child);
                --Depth;
                ListedFolder = folder;
            }
            break;
        case ENTRY_OTHER:
            RecordProblem(Job.Result, PROBLEM_PASSED_OVER, false, ENGINE_NOT_REGULAR, IndexPath);
            break;
        case ENTRY_BROKEN:
            Report(PROBLEM_EXAMINE, record->error, IndexPath);
            break;
        }
        IndexPath[folderLength] = '\0';
    }
    Arena.used = mark;
}

void IndexTree(const char* folder) {
    size_t length = strlen(folder);
    if (length > PathLimit()) {
        Report(PROBLEM_LIST, ENGINE_PATH_TOO_LONG, folder);
        return;
    }
    EntryKind kind;
    FolderId id;
    SysError error = Sys.examine(folder, &kind, &id);
    if (!error && kind != ENTRY_FOLDER) error = ENGINE_NOT_A_FOLDER;
    if (error) {
        Report(PROBLEM_LIST, error, folder);
        return;
    }
    if (!SetTreeRoot(Job.CurrentTree, folder, length)) {
        Report(PROBLEM_LIST, ENGINE_OUT_OF_MEMORY, folder);
        return;
    }
    memcpy(IndexPath, folder, length + 1);
    RootLength = length;
    Depth = 0;
    Ancestors[Depth++] = id;
    IndexFolder(length, ROOT_FOLDER);
    ListedFolder = NO_INDEX;
    Depth = 0;
    free(Arena.data);
    Arena = RecordBuffer();
}
