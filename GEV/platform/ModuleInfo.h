// Identity of the loaded library: its instance handle and its file path.
#pragma once

#include <cstdint>
#include <string>

namespace Platform {

// The separator of path components on this platform.
#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Opaque handle of the module that contains this code (never null once loaded).
void* ModuleInstance();

// Full path of that module, or an empty string when the system cannot tell.
std::string ModulePath();

// The four-part file version of the library file at `path`, most significant
// part in the top 16 bits; 0 when the file carries no version.
uint64_t ReadFileVersion(const std::string& path);

// The process's current working directory, empty when it cannot be read.
std::string CurrentDirectory();

}  // namespace Platform
