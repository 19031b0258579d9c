// What the library says about itself: path, file name, version and the
// transport-layer info values that GCGetInfo and TLGetInfo share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "GenTL.h"

namespace GenTL {

constexpr const char* kVendorName = "Tarvane GmbH";
constexpr const char* kModelName = "GEVTLKRV";
constexpr const char* kTLType = "GEV";
constexpr const char* kDisplayName = "KRV GEV TL Interface";
constexpr uint32_t kGenTLVersionMajor = 1;
constexpr uint32_t kGenTLVersionMinor = 6;

// Full path of the library file.
std::string LibraryPath();

// The part of `path` after its last path separator; false when there is none.
bool LibraryFileName(const std::string& path, std::string* name);

// The library's four-part file version, most significant part first, and its text.
uint64_t GetLibraryVersion();
std::string FormatVersion(uint64_t version);

// Delivers the TL_INFO_CMD values that GCGetInfo and TLGetInfo answer alike
// (vendor, model, version, type, display name, encoding, GenTL version);
// any other command throws implementation_exception.
void CopyCommonTLInfo(TL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize);

}  // namespace GenTL
