#include "job.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "destinationhold.h"
#include "paths.h"

JobParameters* PrepareJob(const char* const folders[3], bool willWrite, FolderRefusal* refusal, char* reason,
                          size_t reasonSize) {
    // Made absolute once, here: the checks and the job see only that form.
    char absolute[3][PATH_BUFFER_SIZE];
    for (int i = 0; i < 3; ++i) {
        if (SysError error = AbsolutePath(folders[i] ? folders[i] : "", absolute[i], PATH_BUFFER_SIZE)) {
            *refusal = FolderRefusal{REFUSAL_NOT_ABSOLUTE, i, error, -1};
            char why[256];
            DescribeError(error, why, sizeof why);
            snprintf(reason, reasonSize, "the folder cannot be made absolute: %s", why);
            return nullptr;
        }
    }
    const char* checked[3] = {absolute[0], absolute[1], absolute[2]};
    DestinationHold* hold = nullptr;
    if (!CheckJobFolders(checked, reason, reasonSize, refusal, willWrite, &hold))
        return nullptr;
    size_t lengths[3];
    size_t size = sizeof(JobParameters);
    for (int i = 0; i < 3; ++i) size += (lengths[i] = strlen(absolute[i])) + 1;
    JobParameters* parameters = (JobParameters*)calloc(1, size);
    if (!parameters) {
        ReleaseDestination(hold);
        *refusal = FolderRefusal{REFUSAL_OUT_OF_MEMORY, 0, ENGINE_OUT_OF_MEMORY, -1};
        snprintf(reason, reasonSize, "out of memory");
        return nullptr;
    }
    char* at = (char*)(parameters + 1);
    const char** paths[3] = {&parameters->originalPath, &parameters->moddedPath, &parameters->destinationPath};
    for (int i = 0; i < 3; ++i) {
        memcpy(at, absolute[i], lengths[i] + 1);
        *paths[i] = at;
        at += lengths[i] + 1;
    }
    parameters->destinationHold = hold;
    return parameters;
}

void DiscardJobParameters(JobParameters* parameters) {
    if (!parameters) return;
    ReleaseDestination(parameters->destinationHold);
    free(parameters);
}
