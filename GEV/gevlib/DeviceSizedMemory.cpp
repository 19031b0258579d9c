// The camera chooses the size, so the buffer is sized once from one reading,
// rounded up to the whole registers that GEVReadMemory writes, and the size
// must hold still meanwhile.
#include "DeviceSizedMemory.h"

#include "VantorLib.h"

namespace Vantor {

GevStatus ReadSizedTable(const ReadRegisterFn& readRegister, const ReadMemoryFn& readMemory,
                         uint32_t addressRegister, uint32_t sizeRegister, uint32_t maxSize,
                         std::vector<uint8_t>* table) {
    if (table == nullptr) return kGevNotSupported;
    table->clear();
    uint32_t address = 0, size = 0;
    if (GevStatus status = readRegister(addressRegister, &address)) return status;
    if (GevStatus status = readRegister(sizeRegister, &size)) return status;
    if (address == 0 || size == 0) return kGevNotSupported;
    if (size > maxSize) return kGevBadDeviceSize;
    std::vector<uint8_t> bytes((size_t{size} + 3) & ~size_t{3});
    if (GevStatus status = readMemory(address, size, bytes.data())) return status;
    // A camera whose size moved while we read gave a block of no defined length.
    uint32_t sizeAfter = 0;
    if (GevStatus status = readRegister(sizeRegister, &sizeAfter)) return status;
    if (sizeAfter != size) return kGevBadDeviceSize;
    bytes.resize(size);
    *table = std::move(bytes);
    return kGevOk;
}

GevStatus GEVReadDeviceTable(uint8_t handle, uint32_t addressRegister, uint32_t sizeRegister,
                             uint32_t maxSize, std::vector<uint8_t>* table) {
    return ReadSizedTable(
        [handle](uint32_t address, uint32_t* value) {
            return GEVReadRegister(handle, address, 1, value);
        },
        [handle](uint32_t address, uint32_t size, uint8_t* out) {
            return GEVReadMemory(handle, address, size, out);
        },
        addressRegister, sizeRegister, maxSize, table);
}

}  // namespace Vantor
