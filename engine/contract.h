// Checked contracts: what a header promises of its callers (an index below
// a count, a state the job or a queue must be in) tested where it is
// handed over, so that a broken promise stops the program at its cause
// instead of showing, if at all, far from it.
#pragma once

// ENGINE_CHECKS is defined to 1 by the build for the tests and the
// sanitizer builds; the builds people download leave it out, and with it
// every check and its cost.
#if defined(ENGINE_CHECKS) && ENGINE_CHECKS
#define ENGINE_ASSERT(condition) \
    ((condition) ? (void)0 : ContractBroken(__FILE__, __LINE__, #condition))
#else
#define ENGINE_ASSERT(condition) ((void)sizeof(!(condition)))  // not evaluated
#endif

// Writes "FILE:LINE: contract broken: CONDITION" to the standard error and
// aborts. Never returns.
[[noreturn]] void ContractBroken(const char* file, int line, const char* condition);
