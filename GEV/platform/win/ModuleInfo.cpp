#include "ModuleInfo.h"

#include <windows.h>

#include <atomic>
#include <vector>

#include "SystemParts.h"

namespace Platform {
namespace {

std::atomic<void*> g_instance{nullptr};

// The module that holds this code, found by an address inside it; serves
// programs that link the layer statically and so have no DLL entry point.
HMODULE ModuleOfThisCode() {
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCSTR>(&ModuleOfThisCode), &module);
    return module;
}

}  // namespace

namespace System {
void RecordModuleInstance(void* instance) {
    g_instance = instance;
}
}  // namespace System

void* ModuleInstance() {
    void* instance = g_instance.load();
    return instance != nullptr ? instance : ModuleOfThisCode();
}

std::string ModulePath() {
    std::vector<char> path(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(static_cast<HMODULE>(ModuleInstance()), path.data(),
                                          static_cast<DWORD>(path.size()));
        if (length == 0) return std::string();
        if (length < path.size()) return std::string(path.data(), length);
        // Cut to the buffer: ask again with more room (paths reach 32767).
        if (path.size() >= 32768) return std::string();
        path.resize(path.size() * 2);
    }
}

uint64_t ReadFileVersion(const std::string& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return 0;
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data.data())) return 0;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &length) ||
        info == nullptr || length < sizeof(VS_FIXEDFILEINFO))
        return 0;
    return (static_cast<uint64_t>(info->dwFileVersionMS) << 32) | info->dwFileVersionLS;
}

std::string CurrentDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(sizeof path, path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
}

}  // namespace Platform
