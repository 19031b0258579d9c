// Block access to a register map on behalf of a consumer's port call. The
// consumer's buffer may have any alignment, so words pass through an aligned
// bounce buffer; on failure the words before the failing one are delivered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "RegisterMap.h"

namespace GenTL {

void ReadMapBlock(CRegisterMap& map, uint64_t address, void* pBuffer, size_t size);
void WriteMapBlock(CRegisterMap& map, uint64_t address, const void* pBuffer, size_t size);

// The "Local:" URL of a module description: `format` with the XML address and
// padded size in lower-case hex, e.g. "Local:KRTL.xml;940;1a2c;".
std::string FormatLocalURL(const char* format, uint64_t xmlAddress, uint32_t xmlSize);

}  // namespace GenTL
