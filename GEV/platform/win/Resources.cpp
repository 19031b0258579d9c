#include "Resources.h"

#include <windows.h>

namespace Platform {

bool FindEmbeddedResource(void* module, int number, const char* type, const unsigned char** data,
                          size_t* size, int* error) {
    HMODULE instance = static_cast<HMODULE>(module);
    HRSRC found = FindResourceA(instance, MAKEINTRESOURCEA(number), type);
    if (found == nullptr) {
        *error = static_cast<int>(GetLastError());
        return false;
    }
    HGLOBAL loaded = LoadResource(instance, found);
    if (loaded == nullptr) {
        *error = static_cast<int>(GetLastError());
        return false;
    }
    *size = SizeofResource(instance, found);
    *data = static_cast<const unsigned char*>(LockResource(loaded));
    return true;
}

}  // namespace Platform
