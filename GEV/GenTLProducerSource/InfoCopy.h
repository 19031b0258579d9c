// The routines that deliver every info value into a consumer's buffer with
// the common piType / pBuffer / piSize rules (a null pBuffer asks for the size).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "GenTL.h"

namespace GenTL {

void CopyInfoString(INFO_DATATYPE* piType, void* pBuffer, size_t* piSize, const std::string& value);
void CopyInfoInt32(INFO_DATATYPE* piType, void* pBuffer, size_t* piSize, int32_t value);
void CopyInfoRaw(INFO_DATATYPE* piType, void* pBuffer, size_t* piSize, INFO_DATATYPE type,
                 const void* value, size_t valueSize);

template <class T>
void CopyInfoValue(INFO_DATATYPE* piType, void* pBuffer, size_t* piSize, INFO_DATATYPE type,
                   const T& value) {
    CopyInfoRaw(piType, pBuffer, piSize, type, &value, sizeof value);
}

inline void CopyInfoBool(INFO_DATATYPE* piType, void* pBuffer, size_t* piSize, bool value) {
    const bool8_t byte = value ? 1 : 0;
    CopyInfoRaw(piType, pBuffer, piSize, INFO_DATATYPE_BOOL8, &byte, 1);
}

// The info-triple argument checks of the ...GetInfo exports: piSize, then a
// buffer with a zero size, then piType.
void CheckInfoArguments(INFO_DATATYPE* piType, const void* pBuffer, const size_t* piSize);

// The size check of the string exports: null piSize, then a buffer named
// `bufferName` with a zero size.
void CheckStringArguments(const char* bufferName, const void* pBuffer, const size_t* piSize);

}  // namespace GenTL
