#include "stalefiles.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "joblists.h"
#include "jobstop.h"

// The walk of the Data folder: the folder being listed and where its
// entries go.
struct StaleWalk {
    StaleFiles* stale;
    uint32_t folder;
    bool outOfMemory;
};

static bool TakeEntry(void* context, const FolderEntry* entry) {
    StaleWalk* walk = (StaleWalk*)context;
    if (StopRequested()) return false;
    const char* name = entry->name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) return true;
    if (IsTemporaryName(name)) return true;  // a copy of this program in flight, or one a crash left
    // A link is an entry of its own: what it leads to may be anywhere, even
    // a folder above, and is never listed.
    uint32_t added = entry->kind == ENTRY_FOLDER && !entry->link
                         ? AddFolder(&walk->stale->tree, walk->folder, name, entry->nameLength)
                         : AddFile(&walk->stale->tree, walk->folder, name, entry->nameLength, 0, 0);
    if (added == NO_INDEX) walk->outOfMemory = true;
    return added != NO_INDEX;
}

static void NoteUnlisted(StaleFiles* stale, const char* path, size_t length, SysError error) {
    if (stale->unlisted++ != 0) return;
    snprintf(stale->firstUnlisted, sizeof stale->firstUnlisted, "%.*s", (int)length, path);
    stale->unlistedError = error;
}

// Lists the folder `folder` of the tree, whose path is `path` (`length`
// bytes, room for PATH_BUFFER_SIZE), and then its subfolders. The depth is
// bounded by the path limit, each level taking a name and a separator.
static bool WalkFolder(StaleFiles* stale, uint32_t folder, char* path, size_t length) {
    uint32_t firstChild = FolderCount(&stale->tree);
    StaleWalk walk = {stale, folder, false};
    SysError error = Sys.listFolder(path, TakeEntry, &walk);
    if (walk.outOfMemory || StopRequested()) return false;
    if (error) NoteUnlisted(stale, path, length, error);
    uint32_t lastChild = FolderCount(&stale->tree);
    for (uint32_t child = firstChild; child < lastChild; ++child) {
        const char* name = NameAt(&stale->tree, FolderAt(&stale->tree, child)->name);
        size_t nameLength = strlen(name);
        if (length + 1 + nameLength > PathLimit()) {
            NoteUnlisted(stale, path, length, ENGINE_PATH_TOO_LONG);
            continue;
        }
        path[length] = PathSeparator();
        memcpy(path + length + 1, name, nameLength + 1);
        bool fine = WalkFolder(stale, child, path, length + 1 + nameLength);
        path[length] = '\0';
        if (!fine) return false;
    }
    return true;
}

bool FindStaleFiles(const char* dataFolder, const FileTree* modded, const uint32_t* keep, uint32_t count,
                    StaleFiles* stale) {
    memset(stale, 0, sizeof *stale);
    InitFileTree(&stale->tree, false);
    size_t length = strlen(dataFolder);
    if (length > PathLimit() || !SetTreeRoot(&stale->tree, dataFolder, length)) return false;
    char* path = (char*)malloc(PATH_BUFFER_SIZE);
    if (!path) return false;
    memcpy(path, dataFolder, length + 1);
    bool fine = WalkFolder(stale, ROOT_FOLDER, path, length);
    free(path);
    if (!fine) return false;

    uint32_t found = FileCount(&stale->tree);
    uint32_t* wanted = (uint32_t*)malloc(((size_t)count + 1) * sizeof(uint32_t));
    stale->files = (uint32_t*)malloc(((size_t)found + 1) * sizeof(uint32_t));
    if (!wanted || !stale->files) {
        free(wanted);
        return false;
    }
    // Both sides in the platform's compared form: on Windows the copies went
    // into the folders there whatever their letter case.
    memcpy(wanted, keep, (size_t)count * sizeof(uint32_t));
    SortFiles(modded, wanted, count, true);
    for (uint32_t file = 0; file < found; ++file) stale->files[file] = file;
    SortFiles(&stale->tree, stale->files, found, true);
    uint32_t at = 0;
    for (uint32_t i = 0; i < found; ++i) {
        uint32_t file = stale->files[i];
        int order = -1;
        while (at < count && (order = CompareFilePaths(modded, wanted[at], &stale->tree, file, true)) < 0) ++at;
        if (at == count || order != 0) stale->files[stale->count++] = file;
    }
    free(wanted);
    SortFiles(&stale->tree, stale->files, stale->count, false);
    return true;
}
