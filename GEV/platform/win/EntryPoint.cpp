#include "EntryPoint.h"

namespace Platform {

// Windows notifies every thread attach through the DLL entry point itself.
void NoteCallingThread() {}

}  // namespace Platform
