#include "Boundary.h"

#include <cstring>

namespace GenTL {

GC_ERROR MapRuntimeError(const char* text) {
    struct Rule {
        const char* substring;
        GC_ERROR code;
    };
    static const Rule kRules[] = {
        {"Invalid", GC_ERR_INVALID_HANDLE},
        {"not implemented", GC_ERR_NOT_IMPLEMENTED},
        {"Unable to find", GC_ERR_INVALID_ID},
        {"Device already open", GC_ERR_RESOURCE_IN_USE},
        {"Device not available", GC_ERR_NOT_AVAILABLE},
        {"Device access denied", GC_ERR_ACCESS_DENIED},
        {"Data stream already open", GC_ERR_RESOURCE_IN_USE},
    };
    for (const Rule& rule : kRules) {
        if (std::strstr(text, rule.substring) != nullptr) return rule.code;
    }
    return GC_ERR_ERROR;
}

}  // namespace GenTL
