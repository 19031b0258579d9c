#include "LibraryGlobals.h"

namespace GenTL {
namespace {

LibraryGlobals g_globals;

// Stands for the thread attach and detach notifications of the entry point.
struct ThreadPresence {
    ThreadPresence() {
        const uint32_t attached = g_globals.attachedThreads.fetch_add(1) + 1;
        const uint32_t live = g_globals.liveThreads.fetch_add(1) + 1;
        if (attached >= 2 || live >= 2) g_globals.multiThread = true;
    }
    ~ThreadPresence() {
        g_globals.liveThreads.fetch_sub(1);
        uint32_t count = g_globals.attachedThreads.load();
        while (count >= 1 && !g_globals.attachedThreads.compare_exchange_weak(count, count - 1)) {
        }
    }
};

// Process attach: loading the library starts with no thread counted.
struct ProcessAttach {
    ProcessAttach() {
        g_globals.attachedThreads = 0;
        g_globals.multiThread = false;
    }
} g_processAttach;

}  // namespace

LibraryGlobals& Globals() {
    return g_globals;
}

void NoteCallingThread() {
    thread_local ThreadPresence presence;
    (void)presence;
}

}  // namespace GenTL
