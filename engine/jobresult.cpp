#include "jobresult.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "contract.h"

void RecordProblem(JobResult* result, ProblemKind kind, bool failure, SysError error,
                   const char* first, const char* second) {
    ENGINE_ASSERT(result && kind < PROBLEM_KINDS && first);
    if (failure) ++result->failures;
    else ++result->warnings;

    size_t firstLength = strlen(first);
    size_t secondLength = second ? strlen(second) + 1 : 0;
    Problem* problem = (Problem*)malloc(sizeof(Problem) + firstLength + secondLength + 1);
    if (!problem) return;  // counted above, so the caller still learns that something failed
    problem->next = nullptr;
    problem->path = (char*)(problem + 1);
    memcpy(problem->path, first, firstLength);
    if (second) {
        problem->path[firstLength] = PathSeparator();
        memcpy(problem->path + firstLength + 1, second, secondLength - 1);
    }
    problem->path[firstLength + secondLength] = '\0';
    problem->error = error;
    problem->kind = kind;
    problem->failure = failure;

    if (!result->lastProblem) result->lastProblem = &result->problems;
    *result->lastProblem = problem;
    result->lastProblem = &problem->next;
}

static const char* KindText(ProblemKind kind) {
    switch (kind) {
    case PROBLEM_LIST: return "cannot list folder";
    case PROBLEM_EXAMINE: return "cannot examine";
    case PROBLEM_PASSED_OVER: return "passed over";
    case PROBLEM_COMPARE: return "cannot compare with the original, copied as changed";
    case PROBLEM_CREATE_FOLDER: return "cannot create its destination folder";
    case PROBLEM_COPY: return "cannot copy";
    case PROBLEM_REFUSED: return "cannot run";
    case PROBLEM_NOT_LOCKED: return "cannot keep a second job out of it";
    case PROBLEM_KINDS: break;
    }
    return "failed";
}

void DescribeProblem(const Problem* problem, char* out, size_t outSize) {
    char reason[256];
    DescribeError(problem->error, reason, sizeof reason);
    snprintf(out, outSize, "%s: %s", KindText(problem->kind), reason);
}

void ReleaseStaleFiles(StaleFiles* stale) {
    free(stale->files);
    stale->files = nullptr;
    stale->count = 0;
    ReleaseFileTree(&stale->tree);
}

void ReleaseJobLists(JobLists* lists) {
    free(lists->changed);
    free(lists->removed);
    ReleaseStaleFiles(&lists->stale);
    *lists = JobLists{};
}

void ReleaseJobResult(JobResult* result) {
    Problem* problem = result->problems;
    while (problem) {
        Problem* next = problem->next;
        free(problem);
        problem = next;
    }
    result->problems = nullptr;
    result->lastProblem = nullptr;
    ReleaseBlockList(&result->changedList);
    ReleaseFileTree(&result->moddedTree);
    ReleaseBlockList(&result->removedList);
    ReleaseFileTree(&result->originalTree);
    ReleaseJobLists(&result->lists);
}
