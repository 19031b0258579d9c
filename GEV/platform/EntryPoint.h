// The library entry point's process and thread notifications. Windows sends
// them to the DLL entry point; elsewhere loading the library stands for the
// process attach, and a thread's first call into the library and its end for
// the thread attach and detach.
#pragma once

namespace Platform {

enum class EntryReason { ProcessAttach, ProcessDetach, ThreadAttach, ThreadDetach };

// Receives every notification. Defined by the library built on this layer.
void OnLibraryEntry(EntryReason reason);

// Called at the start of every exported function: notifies the thread attach
// on a thread's first call where the system does not (a no-op on Windows).
void NoteCallingThread();

}  // namespace Platform
