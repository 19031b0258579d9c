// Embedded resources: data files compiled into the library, found by number
// and type name as Windows finds resources in a module.
#pragma once

#include <cstddef>

namespace Platform {

struct EmbeddedResource {
    int number;
    const char* type;
    const unsigned char* data;
    size_t size;
};

// Looks a resource up in `module` (the value of ModuleInstance()). On failure
// returns false and sets `error` to a system error code (Windows numbering:
// 1813 resource type not found, 1814 resource name not found, 6 bad handle).
bool FindEmbeddedResource(void* module, int number, const char* type, const unsigned char** data,
                          size_t* size, int* error);

}  // namespace Platform
