// Stands in for the entry point notifications that this system does not send.
#include "EntryPoint.h"

namespace Platform {
namespace {

struct ThreadPresence {
    ThreadPresence() { OnLibraryEntry(EntryReason::ThreadAttach); }
    ~ThreadPresence() { OnLibraryEntry(EntryReason::ThreadDetach); }
};

// Loading the library is its process attach, unloading its process detach.
struct ProcessPresence {
    ProcessPresence() { OnLibraryEntry(EntryReason::ProcessAttach); }
    ~ProcessPresence() { OnLibraryEntry(EntryReason::ProcessDetach); }
} g_processPresence;

}  // namespace

void NoteCallingThread() {
    thread_local ThreadPresence presence;
    (void)presence;
}

}  // namespace Platform
