// Loads a module's GenApi XML description out of the library's embedded resources.
#include <cstdint>
#include <string>

#include "Exceptions.h"
#include "RegisterMap.h"
#include "Resources.h"
#include "StringFormat.h"

namespace GenTL {

using Platform::Format;

namespace {
// System error code for a resource too large to hand out (not enough memory).
constexpr int kErrorNotEnoughMemory = 8;
}  // namespace

uint32_t LoadXmlResource(void* module, int number, const char* type, std::string* text) {
    if (module == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified hInst is invalid: hInst = 0x%p.", module));
    }
    if (text == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified pText is invalid: pText = 0x%p.", text));
    }
    const unsigned char* data = nullptr;
    size_t size = 0;
    int error = 0;
    if (!Platform::FindEmbeddedResource(module, number, type, &data, &size, &error)) {
        throw invalid_parameter_exception(Format("Unable to find Resource, Error %d", error));
    }
    // At least one NUL always follows, so the text is terminated inside the
    // register block and the block stays a whole number of registers.
    if (size >= UINT32_MAX - 4) {
        throw invalid_parameter_exception(
            Format("Unable to load Resource, Error %d", kErrorNotEnoughMemory));
    }
    if (data == nullptr) throw invalid_parameter_exception("Unable Lock Resource");
    const size_t padded = (size / 4 + 1) * 4;
    text->assign(reinterpret_cast<const char*>(data), size);
    text->append(padded - size, '\0');
    return static_cast<uint32_t>(padded);
}

}  // namespace GenTL
