// The debugger output stream and the error message box of Windows.
#include "SystemParts.h"

#include <windows.h>

namespace Platform {
namespace System {

void WriteDebugger(const std::string& text) {
    OutputDebugStringA(text.c_str());
}

void ShowMessageBox(const char* text, const char* title) {
    MessageBoxA(nullptr, text, title, MB_OK | MB_ICONERROR);
}

}  // namespace System
}  // namespace Platform
