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

#include "platform.h"
#include "jobstop.h"

static std::atomic<int> Caught{0};
// Held while an interruption is taken or forgotten, so that the exit
// status and the job's stop always agree.
static std::mutex Taking;

static sigset_t Watched() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);   // the terminal closed
    sigaddset(&set, SIGQUIT);  // Ctrl-\: a stop like any other, with no core dump
    return set;
}

// Only raises the job's stop and goes back to listening: the job ends on
// its own, and a second signal, meanwhile, ends the process at once.
static void Watch(void*) {
    sigset_t set = Watched();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        std::lock_guard<std::mutex> hold(Taking);
        if (Caught.exchange(128 + signal) != 0) _exit(128 + signal);  // asked twice: no more waiting
        StopJob();
    }
}

void WatchInterrupts() {
    static std::once_flag started;
    std::call_once(started, [] {
        sigset_t set = Watched();
        sigset_t before;
        pthread_sigmask(SIG_BLOCK, &set, &before);  // threads made from here on inherit it
        std::thread watcher;
        if (Sys.startThread(&watcher, Watch, nullptr)) watcher.detach();
        else pthread_sigmask(SIG_SETMASK, &before, nullptr);  // nobody to take them: a signal ends the process
    });
    std::lock_guard<std::mutex> hold(Taking);
    Caught.store(0);
    ClearJobStop();
}

int InterruptExitStatus() {
    return Caught.load();
}
