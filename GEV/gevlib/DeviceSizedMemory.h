// Memory blocks whose address and size the camera announces in registers of
// its own (the GenDC descriptor and flow table). Pure: the register and
// memory reads are the caller's (the device's control channel in the library,
// a fake camera in the tests).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "GevStatus.h"

namespace Vantor {

using ReadRegisterFn = std::function<GevStatus(uint32_t address, uint32_t* value)>;
// `out` holds `size` rounded up to a multiple of 4, as GEVReadMemory asks.
using ReadMemoryFn = std::function<GevStatus(uint32_t address, uint32_t size, uint8_t* out)>;

// The rules of GEVReadDeviceTable over the given reads.
GevStatus ReadSizedTable(const ReadRegisterFn& readRegister, const ReadMemoryFn& readMemory,
                         uint32_t addressRegister, uint32_t sizeRegister, uint32_t maxSize,
                         std::vector<uint8_t>* table);

}  // namespace Vantor
