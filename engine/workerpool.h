// The engine's one way of running work on threads of its own: the
// comparers, the copiers and the walkers are each a WorkerPool, whose
// threads wait on `wake` under `lock` for work of their owner's queue, and
// end once `stopping` is raised. The owner keeps its queue under the same
// lock, so a stop and the work agree. No other engine file starts threads.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

// The most threads one pool runs, however many are asked for.
enum { MAX_WORKERS = 16 };

struct WorkerPool {
    std::mutex lock;               // guards `stopping` and the owner's queue
    std::condition_variable wake;  // work was queued, or the pool stops
    std::thread threads[MAX_WORKERS];
    unsigned count = 0;            // threads running; 0: the owner works on its own thread
    bool stopping = false;         // under `lock`: the workers end once their queue lets them
};

// Starts up to `wanted` threads (at most MAX_WORKERS), each running
// `body(context)`, through Sys.startThread. Returns how many started:
// fewer when the system gives fewer, 0 when it gives none, and the owner
// then does the work on its own thread. The pool must not be running.
unsigned StartWorkers(WorkerPool* pool, unsigned wanted, void (*body)(void*), void* context);

// Raises `stopping` under the lock, wakes every worker and joins them. The
// pool can then be started again. Does nothing to a pool with no threads
// but lower `stopping` again.
void StopWorkers(WorkerPool* pool);
