// Times DrawFrame on the program's surface: median and 99th percentile over
// a few hundred frames of the idle scene and of a job's scene, counts what
// the frames allocate, and runs the program's idle loop for a few seconds to
// give its frame rate and CPU share. Run under Wine on a display (run.sh).
#include <windows.h>

#include <GL/gl.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <stdio.h>
#include <stdlib.h>
#include <vector>

#include "animation.h"
#include "appstate.h"
#include "display.h"
#include "scene_support.h"

namespace {

std::atomic<long> NewCalls{0};

struct HeapCount {
    long blocks = 0;
    long long bytes = 0;
};

// Busy blocks in every Win32 heap of the process: the C runtime's, the
// system's, the OpenGL front end's (the driver's own Unix-side memory is
// out of sight).
HeapCount CountHeaps() {
    HeapCount count;
    HANDLE heaps[64];
    DWORD n = GetProcessHeaps(64, heaps);
    for (DWORD i = 0; i < n && i < 64; ++i) {
        if (!HeapLock(heaps[i])) {
            continue;
        }
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                ++count.blocks;
                count.bytes += entry.cbData;
            }
        }
        HeapUnlock(heaps[i]);
    }
    return count;
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0) {
        QueryPerformanceFrequency(&frequency);
    }
    return (to.QuadPart - from.QuadPart) * 1000.0 / frequency.QuadPart;
}

void TimeScene(const char* name, int status, int job, int frames) {
    StatusCode = status;
    FoldersReady = 1;
    JobRunning = job;
    static std::vector<double> times;
    times.assign(frames, 0);  // sized before the count starts
    for (int i = 0; i < 50; ++i) {
        DrawFrame();  // warm-up
    }
    HeapCount before = CountHeaps();
    long newBefore = NewCalls.load();
    for (int i = 0; i < frames; ++i) {
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        DrawFrame();
        QueryPerformanceCounter(&end);
        times[i] = Milliseconds(start, end);
    }
    long newCalls = NewCalls.load() - newBefore;
    HeapCount after = CountHeaps();
    std::sort(times.begin(), times.end());
    printf("%-5s %d frames: median %.2f ms, p99 %.2f ms, max %.2f ms; operator new calls %ld; "
           "heap blocks %ld -> %ld (%+lld bytes)\n",
           name, frames, times[frames / 2], times[frames * 99 / 100], times[frames - 1],
           newCalls, before.blocks, after.blocks, after.bytes - before.bytes);
}

// The program's loop with no input: a frame whenever the queue is empty.
void RunIdleLoop(double seconds) {
    StatusCode = 1;
    FoldersReady = 1;
    JobRunning = 0;
    FILETIME created, exited, kernelStart, userStart, kernelEnd, userEnd;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernelStart, &userStart);
    LARGE_INTEGER start, now;
    QueryPerformanceCounter(&start);
    long frames = 0;
    double drawingMs = 0;
    do {
        MSG message;
        if (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        } else {
            LARGE_INTEGER before, after;
            QueryPerformanceCounter(&before);
            DrawFrame();
            QueryPerformanceCounter(&after);
            drawingMs += Milliseconds(before, after);
            ++frames;
        }
        QueryPerformanceCounter(&now);
    } while (Milliseconds(start, now) < seconds * 1000);
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernelEnd, &userEnd);
    auto ticks = [](FILETIME t) { return ((ULONGLONG)t.dwHighDateTime << 32) | t.dwLowDateTime; };
    double cpuMs = (ticks(kernelEnd) - ticks(kernelStart) + ticks(userEnd) - ticks(userStart)) /
                   10000.0;
    double wallMs = Milliseconds(start, now);
    printf("idle loop %.1f s: %.0f frames/s (DrawFrame %.2f ms each), CPU %.0f%% of one core "
           "(this process)\n",
           wallMs / 1000, frames * 1000 / wallMs, drawingMs / frames, 100 * cpuMs / wallMs);
}

}  // namespace

void* operator new(size_t size) {
    ++NewCalls;
    void* block = malloc(size ? size : 1);
    if (block == nullptr) {
        abort();  // no exceptions in this program
    }
    return block;
}
void operator delete(void* block) noexcept { free(block); }
void operator delete(void* block, size_t) noexcept { free(block); }

int main(int argc, char** argv) {
    int frames = argc > 1 ? atoi(argv[1]) : 400;
    double seconds = argc > 2 ? atof(argv[2]) : 5;
    if (frames < 10) {
        frames = 10;
    }
    SetUpScene();
    printf("surface %d x %d, renderer %s\n", SurfaceWidth, SurfaceHeight,
           (const char*)glGetString(GL_RENDERER));
    ScrollOffset = 20;  // the credit line across the whole width
    TimeScene("idle", 1, 0, frames);
    TimeScene("job", 4, 1, frames);
    RunIdleLoop(seconds);
    return 0;
}
