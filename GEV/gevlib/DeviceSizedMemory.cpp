// Memory blocks whose address and size the camera announces in registers of
// its own (the GenDC descriptor and flow table). The camera chooses the size,
// so the buffer is sized once from one reading, rounded up to the whole
// registers that GEVReadMemory writes, and the size must hold still meanwhile.
#include "VantorLib.h"

namespace Vantor {

GevStatus GEVReadDeviceTable(uint8_t handle, uint32_t addressRegister, uint32_t sizeRegister,
                             uint32_t maxSize, std::vector<uint8_t>* table) {
    if (table == nullptr) return kGevNotSupported;
    table->clear();
    uint32_t address = 0, size = 0;
    if (GevStatus status = GEVReadRegister(handle, addressRegister, 1, &address)) return status;
    if (GevStatus status = GEVReadRegister(handle, sizeRegister, 1, &size)) return status;
    if (address == 0 || size == 0) return kGevNotSupported;
    if (size > maxSize) return kGevBadDeviceSize;
    std::vector<uint8_t> bytes((size_t{size} + 3) & ~size_t{3});
    if (GevStatus status = GEVReadMemory(handle, address, size, bytes.data())) return status;
    // A camera whose size moved while we read gave a block of no defined length.
    uint32_t sizeAfter = 0;
    if (GevStatus status = GEVReadRegister(handle, sizeRegister, 1, &sizeAfter)) return status;
    if (sizeAfter != size) return kGevBadDeviceSize;
    bytes.resize(size);
    *table = std::move(bytes);
    return kGevOk;
}

}  // namespace Vantor
