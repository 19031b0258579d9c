#include "LibraryGlobals.h"

#include "EntryPoint.h"

namespace GenTL {
namespace {

LibraryGlobals g_globals;

// Lowers `counter` by one unless it is already 0.
void DecrementToZero(std::atomic<uint32_t>& counter) {
    uint32_t count = counter.load();
    while (count >= 1 && !counter.compare_exchange_weak(count, count - 1)) {
    }
}

}  // namespace

LibraryGlobals& Globals() {
    return g_globals;
}

void NoteCallingThread() {
    Platform::NoteCallingThread();
}

}  // namespace GenTL

// The library entry point: process attach and detach start the thread count
// afresh; a second attached thread makes the host multi-threaded.
void Platform::OnLibraryEntry(Platform::EntryReason reason) {
    GenTL::LibraryGlobals& globals = GenTL::g_globals;
    switch (reason) {
        case EntryReason::ProcessAttach:
        case EntryReason::ProcessDetach:
            globals.attachedThreads = 0;
            globals.multiThread = false;
            break;
        case EntryReason::ThreadAttach: {
            const uint32_t attached = globals.attachedThreads.fetch_add(1) + 1;
            const uint32_t live = globals.liveThreads.fetch_add(1) + 1;
            if (attached >= 2 || live >= 2) globals.multiThread = true;
            break;
        }
        case EntryReason::ThreadDetach:
            // Threads that began before the library was loaded detach unseen.
            GenTL::DecrementToZero(globals.liveThreads);
            GenTL::DecrementToZero(globals.attachedThreads);
            break;
    }
}
