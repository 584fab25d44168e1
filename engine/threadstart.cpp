// Starting a thread is the one call of the engine that reports its failure
// by throwing (std::system_error, or std::bad_alloc for the thread's own
// state); it is caught here, at once, and told as a plain result, so that
// a job short of threads goes on with fewer instead of ending the program.
#include <new>
#include <system_error>

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
