// What both platform files share, below them: nothing here calls up into
// the engine.
//
// Starting a thread is the one call of the engine that reports its failure
// by throwing (std::system_error, or std::bad_alloc for the thread's own
// state); it is caught here, at once, and told as a plain result, so that
// a job short of threads goes on with fewer instead of ending the program.
#include <string.h>

#include <chrono>
#include <new>
#include <system_error>
#include <thread>

#include "platform.h"

bool StartSystemThread(std::thread* thread, void (*body)(void*), void* context) {
    try {
        *thread = std::thread(body, context);
        return true;
    } catch (const std::system_error&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

uint64_t SystemClockMilliseconds() {
    return (uint64_t)std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

void SystemSleepMilliseconds(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

const char* EngineErrorText(SysError error) {
    switch (error) {
    case ENGINE_PATH_TOO_LONG: return "path too long";
    case ENGINE_OUT_OF_MEMORY: return "out of memory";
    case ENGINE_LINK_LOOP: return "folder link leads back to a folder above it";
    case ENGINE_NOT_REGULAR: return "not a regular file";
    case ENGINE_NOT_A_FOLDER: return "not a folder";
    case ENGINE_OUTSIDE_DATA: return "a folder link on the way leads outside the destination's Data folder";
    case ENGINE_SOURCE_CHANGED: return "the file changed while it was being copied";
    case ENGINE_ABANDONED: return "the job was stopped";
    case ENGINE_DATA_IN_INPUT:
        return "the Data folder is, or lies inside, a folder of an input (reached through a link, a mount or a "
               "junction); nothing was written";
    case ENGINE_LEADS_NOWHERE: return "a link that leads nowhere; skipped";
    case ENGINE_NAME_CLASH:
        return "another file of the modded folder has the same name but for letter case; only one can be carried";
    case ENGINE_FOLDER_IN_THE_WAY: return "a folder stands where the file goes";
    case ENGINE_DESTINATION_BUSY: return "another job of this program is writing into this destination";
    case ENGINE_DATA_HOLDS_INPUT:
        return "this folder of the Data folder is a folder of an input (reached through a link, a mount or a "
               "junction); nothing was written";
    }
    return nullptr;
}

unsigned SystemCoreCount() {
    return std::thread::hardware_concurrency();
}
