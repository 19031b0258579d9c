// Debugger-output sink: where diagnostic lines go that belong to no device.
// Off unless GEVTLKRV_DEBUG is set ("1" or "stderr": standard error; any other
// value: a file appended to); tests may install a capture instead.
#pragma once

#include <functional>
#include <string>

namespace Platform {

// Writes one line as given (callers append their own line ends). Thread-safe.
void DebugOutput(const std::string& text);
// Makes the output's process-wide state now: whoever logs from a static
// destructor calls it first, so that this state is destroyed after it.
void PrepareDebugOutput();

// Replaces the environment-selected sink until reset with an empty function.
using DebugSink = std::function<void(const std::string&)>;
void SetDebugOutputCapture(DebugSink sink);

// An error message box where the system has one (Windows); the text also goes
// to the debug output with its title.
void ShowErrorMessage(const char* text, const char* title);

}  // namespace Platform
