#include "jobquestion.h"

#include <string.h>

#include "jobstate.h"
#include "jobstop.h"

bool FewPathsShared(uint32_t shared, uint32_t originalFiles, uint32_t moddedFiles) {
    if (moddedFiles == 0) return false;  // nothing would be written: nothing to warn of
    return shared == 0 || (uint64_t)shared * 10 < originalFiles;
}

// Keeps `name` among the `*kept` lowest of `names` (at most `room`), in order.
static void KeepLowest(const char** names, uint32_t* kept, uint32_t room, const char* name) {
    uint32_t at = *kept;
    while (at > 0 && strcmp(name, names[at - 1]) < 0) --at;
    if (at >= room) return;
    uint32_t last = *kept < room ? *kept : room - 1;
    for (uint32_t move = last; move > at; --move) names[move] = names[move - 1];
    names[at] = name;
    if (*kept < room) ++*kept;
}

void DescribeTreeTop(const FileTree* tree, TreeTop* top) {
    *top = TreeTop{};
    const char* folders[TOP_NAMES_SHOWN];
    const char* files[TOP_NAMES_SHOWN];
    uint32_t foldersKept = 0, filesKept = 0;
    for (uint32_t folder = 0; folder < FolderCount(tree); ++folder) {
        const FolderRecord* record = FolderAt(tree, folder);
        if (folder == ROOT_FOLDER || record->parent != ROOT_FOLDER) continue;
        ++top->folders;
        KeepLowest(folders, &foldersKept, TOP_NAMES_SHOWN, NameAt(tree, record->name));
    }
    for (uint32_t file = 0; file < FileCount(tree); ++file) {
        const FileRecord* record = FileAt(tree, file);
        if (record->folder != ROOT_FOLDER) continue;
        ++top->files;
        KeepLowest(files, &filesKept, TOP_NAMES_SHOWN, NameAt(tree, record->name));
    }
    for (uint32_t at = 0; at < foldersKept; ++at) top->names[top->named++] = folders[at];
    for (uint32_t at = 0; at < filesKept && top->named < TOP_NAMES_SHOWN; ++at) top->names[top->named++] = files[at];
}

bool ConfirmSharedPaths(uint32_t shared) {
    uint32_t originalFiles = FileCount(&Job.OriginalTree), moddedFiles = FileCount(&Job.ModdedTree);
    if (!FewPathsShared(shared, originalFiles, moddedFiles)) return true;
    JobQuestion question = {};
    question.originalFiles = originalFiles;
    question.moddedFiles = moddedFiles;
    question.sharedFiles = shared;
    DescribeTreeTop(&Job.OriginalTree, &question.tops[0]);
    DescribeTreeTop(&Job.ModdedTree, &question.tops[1]);
    if (AskQuestion(&question)) return true;
    Job.Result->declined = true;
    StopJob();
    return false;
}
