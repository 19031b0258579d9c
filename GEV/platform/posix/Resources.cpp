#include "Resources.h"

#include <cstring>

#include "ModuleInfo.h"

namespace Platform {

// Defined by the generated source that embeds the resource files.
extern const EmbeddedResource kEmbeddedResources[];
extern const size_t kEmbeddedResourceCount;

namespace {
constexpr int kErrorInvalidHandle = 6;
constexpr int kErrorResourceTypeNotFound = 1813;
constexpr int kErrorResourceNameNotFound = 1814;
}  // namespace

bool FindEmbeddedResource(void* module, int number, const char* type, const unsigned char** data,
                          size_t* size, int* error) {
    if (module == nullptr || module != ModuleInstance()) {
        *error = kErrorInvalidHandle;
        return false;
    }
    bool typeSeen = false;
    for (size_t i = 0; i < kEmbeddedResourceCount; ++i) {
        const EmbeddedResource& resource = kEmbeddedResources[i];
        if (type == nullptr || std::strcmp(resource.type, type) != 0) continue;
        typeSeen = true;
        if (resource.number != number) continue;
        *data = resource.data;
        *size = resource.size;
        return true;
    }
    *error = typeSeen ? kErrorResourceNameNotFound : kErrorResourceTypeNotFound;
    return false;
}

}  // namespace Platform
