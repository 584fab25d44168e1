// Interruptions on POSIX: the signals are blocked in every thread and taken
// by one thread of their own with sigwait, so that stopping the job runs as
// ordinary code and not inside a signal handler.
#include "interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "job.h"

static std::atomic<int> Caught{0};

static sigset_t Watched() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

static void Watch() {
    sigset_t set = Watched();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        if (Caught.exchange(128 + signal) != 0) _exit(128 + signal);  // asked twice: no more waiting
        AbandonJob();
    }
}

void WatchInterrupts() {
    static std::once_flag started;
    std::call_once(started, [] {
        sigset_t set = Watched();
        pthread_sigmask(SIG_BLOCK, &set, nullptr);  // threads made from here on inherit it
        std::thread(Watch).detach();
    });
    Caught.store(0);
}

int InterruptExitStatus() {
    return Caught.load();
}
