#include "workerpool.h"

#include "platform.h"

unsigned StartWorkers(WorkerPool* pool, unsigned wanted, void (*body)(void*), void* context) {
    if (wanted > MAX_WORKERS) wanted = MAX_WORKERS;
    pool->stopping = false;
    pool->count = 0;
    while (pool->count < wanted && Sys.startThread(&pool->threads[pool->count], body, context)) ++pool->count;
    return pool->count;
}

void StopWorkers(WorkerPool* pool) {
    {
        std::lock_guard<std::mutex> hold(pool->lock);
        pool->stopping = true;
        pool->wake.notify_all();
    }
    for (unsigned i = 0; i < pool->count; ++i) pool->threads[i].join();
    pool->count = 0;
    pool->stopping = false;
}
