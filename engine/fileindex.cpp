#include "fileindex.h"

#include <stdlib.h>
#include <string.h>

#include <new>

#include "exclusions.h"
#include "folderguard.h"
#include "jobstate.h"
#include "listingrecords.h"
#include "treewalk.h"

// One walk of one tree by the index.
struct IndexWalk {
    FileTree* tree;
    bool original;        // the original tree: its losses are warnings, its files counted
    PrefetchWalk* walk;   // the read-ahead walk's listings, or null
    FolderGuard* guard;   // the job's Data folder kept out of the inputs, or null
    RecordBuffer arena;
    // The path being walked: the folder at the current depth, extended in
    // place by each child's name.
    char path[PATH_BUFFER_SIZE];
    // Folders on the current descent path. Each level adds at least two
    // characters to the path, so the path buffer bounds the depth.
    FolderId ancestors[PATH_BUFFER_SIZE / 2 + 1];
    size_t depth;
    size_t rootLength;    // characters of the root path at the start of `path`
    // The folder whose listing is at hand: what the index cannot hold of it
    // makes it a folder not listed whole.
    uint32_t listedFolder;
};

static bool OnDescentPath(const IndexWalk* ix, FolderId id) {
    for (size_t i = 0; i < ix->depth; ++i)
        if (ix->ancestors[i].volume == id.volume && ix->ancestors[i].index == id.index) return true;
    return false;
}

static void Report(IndexWalk* ix, ProblemKind kind, SysError error, const char* first, const char* second = nullptr) {
    // What cannot be read of either tree is a loss: of the mod in the modded
    // tree, of the comparison in the original one, where every modded file
    // below would be taken as new. A link loop in the original loses
    // nothing: its folder is indexed where the loop leads.
    RecordProblem(Job.Result, kind, !ix->original || error != ENGINE_LINK_LOOP, error, first, second);
    // No original file below such a modded folder may be said to be gone.
    if (ix->listedFolder != NO_INDEX)
        if (uint32_t* folder = (uint32_t*)AppendItem(&ix->tree->partlyListed)) *folder = ix->listedFolder;
}

// True when the job's patterns leave out the entry at `path` (a full path
// of the tree whose root has `rootLength` characters); counted as excluded.
static bool LeftOut(const IndexWalk* ix, const char* path, size_t rootLength, bool isFolder) {
    if (!Job.Exclusions || !IsExcluded(Job.Exclusions, path + rootLength, isFolder)) return false;
    ++(ix->original ? Job.Result->excludedOriginal : Job.Result->excludedModded);
    return true;
}

static void IndexFile(IndexWalk* ix, uint32_t folder, const char* name, size_t nameLength, uint64_t size, uint64_t stamp) {
    if (AddFile(ix->tree, folder, name, nameLength, size, stamp) == NO_INDEX) {
        Report(ix, PROBLEM_PASSED_OVER, ENGINE_OUT_OF_MEMORY, ix->path);
        return;
    }
    if (ix->original) ++Job.OriginalCount;
}

static void IndexFolder(IndexWalk* ix, size_t folderLength, uint32_t folder) {
    ReportFound(FileCount(ix->tree));  // once a folder: a cold tree's listings are what takes the time
    size_t mark = ix->arena.used;
    ix->arena.full = false;
    ix->listedFolder = folder;
    SysError error = 0;
    int share;
    if (!TakeListing(ix->walk, ix->path, &ix->arena, &error, &share)) {
        error = Sys.listFolder(ix->path, AppendEntry, &ix->arena);
        if (share >= 0)
            ShareSubfolders(ix->walk, WalkPlace{share, ix->path, strlen(ix->path), ix->ancestors, ix->depth},
                            ix->arena.data + mark, ix->arena.used - mark);
    }
    if (error && error != ENGINE_ABANDONED) Report(ix, PROBLEM_LIST, error, ix->path);  // a stop is no fault of the folder
    if (ix->arena.full) Report(ix, PROBLEM_LIST, ENGINE_OUT_OF_MEMORY, ix->path);
    size_t end = ix->arena.used;

    for (size_t at = mark; at < end && !StopRequested();) {
        // Re-read through the offset each time: a subfolder's walk may move the arena.
        EntryRecord* record = (EntryRecord*)(ix->arena.data + at);
        at += RecordSize(record->nameLength);
        const char* name = (const char*)(record + 1);
        if (IsDotOrDotDot(name)) continue;

        size_t childLength = folderLength + 1 + record->nameLength;
        if (childLength > PathLimit()) {
            Report(ix, PROBLEM_PASSED_OVER, ENGINE_PATH_TOO_LONG, ix->path, name);
            continue;
        }
        ix->path[folderLength] = PathSeparator();
        memcpy(ix->path + folderLength + 1, name, record->nameLength + 1);
        if (LeftOut(ix, ix->path, ix->rootLength, record->kind == ENTRY_FOLDER)) {
            ix->path[folderLength] = '\0';
            continue;
        }

        switch (record->kind) {
        case ENTRY_FILE:
            IndexFile(ix, folder, name, record->nameLength, record->size, record->stamp);
            break;
        case ENTRY_FOLDER:
            if (GuardMet(ix->guard, record->id)) break;  // the job is refused: the mod would land in this input
            if (OnDescentPath(ix, record->id)) {
                Report(ix, PROBLEM_PASSED_OVER, ENGINE_LINK_LOOP, ix->path);
            } else {
                uint32_t child = AddFolder(ix->tree, folder, name, record->nameLength);
                if (child == NO_INDEX) {
                    Report(ix, PROBLEM_LIST, ENGINE_OUT_OF_MEMORY, ix->path);
                    break;
                }
                ix->ancestors[ix->depth++] = record->id;
                IndexFolder(ix, childLength, child);
                --ix->depth;
                ix->listedFolder = folder;
            }
            break;
        case ENTRY_OTHER:
            RecordProblem(Job.Result, PROBLEM_PASSED_OVER, false, ENGINE_NOT_REGULAR, ix->path);
            break;
        case ENTRY_BROKEN:
            // A name just listed that is not found is a link that leads
            // nowhere (or an entry gone since): no file to lose, so it is
            // passed over as a FIFO or a device is, in either tree.
            if (IsNotFound(record->error))
                RecordProblem(Job.Result, PROBLEM_PASSED_OVER, false, ENGINE_LEADS_NOWHERE, ix->path);
            else
                Report(ix, PROBLEM_EXAMINE, record->error, ix->path);
            break;
        }
        ix->path[folderLength] = '\0';
    }
    ix->arena.used = mark;
}

static void IndexRoot(IndexWalk* ix, const char* folder) {
    size_t length = strlen(folder);
    if (length > PathLimit()) {
        Report(ix, PROBLEM_LIST, ENGINE_PATH_TOO_LONG, folder);
        return;
    }
    EntryKind kind;
    FolderId id;
    SysError error = Sys.examine(folder, &kind, &id);
    if (!error && kind != ENTRY_FOLDER) error = ENGINE_NOT_A_FOLDER;
    if (error) {
        Report(ix, PROBLEM_LIST, error, folder);
        return;
    }
    if (GuardMet(ix->guard, id)) return;
    if (!SetTreeRoot(ix->tree, folder, length)) {
        Report(ix, PROBLEM_LIST, ENGINE_OUT_OF_MEMORY, folder);
        return;
    }
    memcpy(ix->path, folder, length + 1);
    ix->rootLength = length;
    ix->depth = 0;
    ix->ancestors[ix->depth++] = id;
    IndexFolder(ix, length, ROOT_FOLDER);
    ReportFound(FileCount(ix->tree));
}

// Without memory for its walk the index adds nothing, and says so.
void IndexTree(const char* folder, FileTree* tree, TreeRole role, PrefetchWalk* walk, FolderGuard* guard) {
    IndexWalk* ix = new (std::nothrow) IndexWalk();
    if (!ix) {
        RecordProblem(Job.Result, PROBLEM_LIST, role == TREE_MODDED, ENGINE_OUT_OF_MEMORY, folder);
        return;
    }
    ix->tree = tree;
    ix->original = role == TREE_ORIGINAL;
    ix->walk = walk;
    ix->guard = guard;
    ix->listedFolder = NO_INDEX;
    IndexRoot(ix, folder);
    free(ix->arena.data);
    delete ix;
}
