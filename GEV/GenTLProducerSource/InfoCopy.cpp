#include "InfoCopy.h"

#include <cstring>

#include "Exceptions.h"
#include "StringFormat.h"

namespace GenTL {

using Platform::Format;

void CopyInfoRaw(INFO_DATATYPE* piType, void* pBuffer, size_t* piSize, INFO_DATATYPE type,
                 const void* value, size_t valueSize) {
    if (piType != nullptr) *piType = type;
    if (piSize == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified iDst is invalid: iDst = 0x%p.", piSize));
    }
    if (pBuffer == nullptr) {
        *piSize = valueSize;
        return;
    }
    if (*piSize != 0 && *piSize < valueSize) {
        throw buffer_too_small_exception(Format(
            "Prepared buffer is too small. Required: %d. Prepared: %d.", valueSize, *piSize));
    }
    std::memcpy(pBuffer, value, valueSize);
    *piSize = valueSize;
}

void CopyInfoString(INFO_DATATYPE* piType, void* pBuffer, size_t* piSize,
                    const std::string& value) {
    // The text and its NUL; c_str() provides the terminator.
    CopyInfoRaw(piType, pBuffer, piSize, INFO_DATATYPE_STRING, value.c_str(), value.size() + 1);
}

void CopyInfoInt32(INFO_DATATYPE* piType, void* pBuffer, size_t* piSize, int32_t value) {
    CopyInfoRaw(piType, pBuffer, piSize, INFO_DATATYPE_INT32, &value, sizeof value);
}

void CheckInfoArguments(INFO_DATATYPE* piType, const void* pBuffer, const size_t* piSize) {
    if (piSize == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified piSize is invalid: piSize = 0x%p.", piSize));
    }
    if (pBuffer != nullptr && *piSize == 0) {
        throw invalid_parameter_exception(
            Format("Specified piSize is invalid even though pBuffer is present: piSize = 0x%p, "
                   "*piSize = %d, pBuffer = 0x%p.",
                   piSize, *piSize, pBuffer));
    }
    if (piType == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified piType is invalid: piType = 0x%p.", piType));
    }
}

void CheckStringArguments(const char* bufferName, const void* pBuffer, const size_t* piSize) {
    if (piSize == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified piSize is invalid: piSize = 0x%p.", piSize));
    }
    if (pBuffer != nullptr && *piSize == 0) {
        const std::string format = std::string("Specified piSize is invalid even though ") +
                                   bufferName + " is present: piSize = 0x%p, *piSize = %d, " +
                                   bufferName + " = 0x%p.";
        throw invalid_parameter_exception(Format(format.c_str(), piSize, *piSize, pBuffer));
    }
}

}  // namespace GenTL
