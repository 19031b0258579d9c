#include "ModuleInfo.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include "BuildVersion.h"

namespace Platform {
namespace {

// Any address inside this module identifies it to dladdr.
const Dl_info* ModuleDlInfo() {
    static Dl_info info;
    static const bool found = dladdr(reinterpret_cast<const void*>(&ModuleDlInfo), &info) != 0;
    return found ? &info : nullptr;
}

}  // namespace

void* ModuleInstance() {
    const Dl_info* info = ModuleDlInfo();
    return info != nullptr ? info->dli_fbase : nullptr;
}

std::string ModulePath() {
    const Dl_info* info = ModuleDlInfo();
    if (info == nullptr || info->dli_fname == nullptr) return std::string();
    // dladdr reports the name the library was loaded by, possibly relative.
    char resolved[PATH_MAX];
    if (realpath(info->dli_fname, resolved) != nullptr) return resolved;
    return info->dli_fname;
}

uint64_t ReadFileVersion(const std::string& path) {
    // The only library file whose version we can read here is our own: the
    // build bakes its version in, where Windows keeps a version resource.
    if (path.empty() || path != ModulePath()) return 0;
    return (static_cast<uint64_t>(kBuildVersion[0]) << 48) |
           (static_cast<uint64_t>(kBuildVersion[1]) << 32) |
           (static_cast<uint64_t>(kBuildVersion[2]) << 16) |
           static_cast<uint64_t>(kBuildVersion[3]);
}

std::string CurrentDirectory() {
    char path[PATH_MAX];
    return getcwd(path, sizeof path) != nullptr ? std::string(path) : std::string();
}

}  // namespace Platform
