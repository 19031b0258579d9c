// Library-wide state besides the controller: the thread counting of the
// library entry point, the pending resource-in-use flag of GCInitLib and the
// system handle of the last TLOpen. Atomics, so that consumer threads never
// race on them.
#pragma once

#include <atomic>
#include <cstdint>

namespace GenTL {

struct LibraryGlobals {
    std::atomic<uint32_t> attachedThreads{0};
    // Threads that have entered the library and not yet ended; unlike the
    // counter above, GCCloseLib does not lower it.
    std::atomic<uint32_t> liveThreads{0};
    std::atomic<bool> multiThread{false};
    std::atomic<bool> pendingResourceInUse{false};
    std::atomic<void*> recordedSystem{nullptr};
};

LibraryGlobals& Globals();

// Counts the calling thread once, on its first call into the library, and
// uncounts it when the thread ends, where the system sends no thread
// notifications to the library entry point.
void NoteCallingThread();

}  // namespace GenTL
