// The DLL entry point of the library: keeps the module instance and passes
// the process and thread notifications on.
#include <windows.h>

#include "EntryPoint.h"
#include "SystemParts.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    using Platform::EntryReason;
    Platform::System::RecordModuleInstance(instance);
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            Platform::OnLibraryEntry(EntryReason::ProcessAttach);
            break;
        case DLL_PROCESS_DETACH:
            Platform::OnLibraryEntry(EntryReason::ProcessDetach);
            break;
        case DLL_THREAD_ATTACH:
            Platform::OnLibraryEntry(EntryReason::ThreadAttach);
            break;
        case DLL_THREAD_DETACH:
            Platform::OnLibraryEntry(EntryReason::ThreadDetach);
            break;
        default:
            break;
    }
    return TRUE;
}
