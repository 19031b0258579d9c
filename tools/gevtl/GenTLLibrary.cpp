// dlopen/dlsym loading of a GenTL producer and the choice of which one.
#include "GenTLLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <vector>

namespace Gevtl {

namespace fs = std::filesystem;

GenTLLibrary::GenTLLibrary(const std::string& path) : m_path(path) {
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
#define GEVTL_RESOLVE(name)                                                  \
    name = reinterpret_cast<decltype(&GenTL::name)>(dlsym(m_handle, #name)); \
    if (name == nullptr) {                                                   \
        dlclose(m_handle);                                                   \
        throw std::runtime_error(path + " does not export " #name);          \
    }
    GEVTL_FUNCTIONS(GEVTL_RESOLVE)
#undef GEVTL_RESOLVE
    const GenTL::GC_ERROR status = GCInitLib();
    if (status != GenTL::GC_ERR_SUCCESS) {
        const std::string text = LastErrorText();
        dlclose(m_handle);
        throw GenTLError("GCInitLib", status, text);
    }
    m_initialized = true;
}

GenTLLibrary::~GenTLLibrary() {
    if (m_initialized) GCCloseLib();
    dlclose(m_handle);
}

std::string GenTLLibrary::LastErrorText() const {
    GenTL::GC_ERROR code = 0;
    char text[1024] = {};
    size_t size = sizeof text;
    if (GCGetLastError(&code, text, &size) != GenTL::GC_ERR_SUCCESS) return "(no error text)";
    return text;
}

void GenTLLibrary::Check(const char* call, GenTL::GC_ERROR status) const {
    if (status != GenTL::GC_ERR_SUCCESS) throw GenTLError(call, status, LastErrorText());
}

namespace {

std::vector<fs::path> CtiFilesIn(const fs::path& directory) {
    std::vector<fs::path> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(directory, error)) {
        if (entry.path().extension() == ".cti" && entry.is_regular_file(error))
            found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

fs::path ExecutableDirectory() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : self.parent_path();
}

}  // namespace

std::string FirstOnSearchPath() {
    const char* searchPath = std::getenv("GENICAM_GENTL64_PATH");
    if (searchPath == nullptr) return {};
    std::stringstream directories(searchPath);
    std::string directory;
    while (std::getline(directories, directory, ':')) {
        if (directory.empty()) continue;
        const auto found = CtiFilesIn(directory);
        if (!found.empty()) return found.front().string();
    }
    return {};
}

std::string FindProducer(const std::string& explicitPath, bool fromSearchPath) {
    if (!explicitPath.empty()) return explicitPath;
    if (fromSearchPath) {
        const std::string found = FirstOnSearchPath();
        if (found.empty()) throw std::runtime_error("no .cti in GENICAM_GENTL64_PATH");
        return found;
    }
    // Installed: bin/gevtl beside lib/GEVTLKRV/GEVTLKRV.cti (or the library in bin/).
    const fs::path bin = ExecutableDirectory();
    for (const fs::path& candidate :
         {bin / "GEVTLKRV.cti", bin / ".." / "lib" / "GEVTLKRV" / "GEVTLKRV.cti"}) {
        std::error_code error;
        if (fs::exists(candidate, error)) return candidate.lexically_normal().string();
    }
#ifdef GEVTL_BUILT_CTI
    if (fs::exists(GEVTL_BUILT_CTI)) return GEVTL_BUILT_CTI;
#endif
    const std::string found = FirstOnSearchPath();
    if (!found.empty()) return found;
    throw std::runtime_error(
        "no GenTL producer found: give --cti PATH or set GENICAM_GENTL64_PATH");
}

std::string GenTLLibrary::ProducerInfo(GenTL::TL_INFO_CMD command) const {
    char text[1024] = {};
    size_t size = sizeof text;
    GenTL::INFO_DATATYPE type = 0;
    if (GCGetInfo(command, &type, text, &size) != GenTL::GC_ERR_SUCCESS ||
        type != GenTL::INFO_DATATYPE_STRING)
        return {};
    return std::string(text, strnlen(text, sizeof text));
}

bool GenTLLibrary::IsGevtlkrv() const {
    return ProducerInfo(GenTL::TL_INFO_VENDOR) == "Tarvane GmbH" &&
           ProducerInfo(GenTL::TL_INFO_MODEL) == "GEVTLKRV";
}

}  // namespace Gevtl
