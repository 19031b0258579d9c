// GEVReadDeviceTable's handling of a size the camera announces (the GenDC
// descriptor and flow table), over the chunked READMEM read, against a fake
// camera that may announce any address and size, change the size while the
// block is read, fail a register read, or spoil an acknowledge. A table is
// either refused or exactly the camera's block of the size it announced,
// never larger than the bound; a size that changed is refused.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "DeviceSizedMemory.h"
#include "FakeCameraMemory.h"
#include "MemoryChunks.h"

namespace {

constexpr uint32_t kAddressRegister = 0x0000A000;
constexpr uint32_t kSizeRegister = 0x0000A004;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace Vantor;
    FuzzInput input(data, size);
    const uint8_t flags = input.Byte();
    const uint32_t blockAddress = flags & 1 ? 0 : input.U32();
    // Small sizes mostly, now and then any 32-bit value.
    const uint32_t sizeBefore = flags & 2 ? input.U32() : input.U16() % 8192;
    const uint32_t sizeAfter = flags & 4 ? sizeBefore + 1 + input.Byte() : sizeBefore;
    const uint32_t maxSize = input.U16() % 8192;
    const unsigned failingRead = (flags >> 3) % 8;  // 1..3: that register read fails

    unsigned registerReads = 0;
    bool failed = false;
    GevStatus failure = kGevOk;
    uint32_t memoryAsked = 0;
    auto readRegister = [&](uint32_t address, uint32_t* value) -> GevStatus {
        ++registerReads;
        if (registerReads == failingRead) {
            failed = true;
            failure = kGevTimeout;
            return failure;
        }
        if (address == kAddressRegister)
            *value = blockAddress;
        else if (address == kSizeRegister)
            *value = registerReads <= 2 ? sizeBefore : sizeAfter;
        else
            __builtin_trap();
        return kGevOk;
    };
    auto readMemory = [&](uint32_t address, uint32_t length, uint8_t* out) -> GevStatus {
        if (address != blockAddress || length != sizeBefore || length > maxSize) __builtin_trap();
        memoryAsked = length;
        AlignMemoryRequest(address, length);
        ChunkOutcome outcome;
        const GevStatus status = ReadMemoryInChunks(
            address, length, out, [&](uint32_t chunkAddress, uint32_t chunk, uint8_t* ack) {
                return FakeReadMem(input, chunkAddress, chunk, ack, &outcome);
            });
        if (outcome.failed) {
            failed = true;
            failure = status;
        }
        return status;
    };

    std::vector<uint8_t> table(3, 0xEE);  // a caller's old table
    const GevStatus status =
        ReadSizedTable(readRegister, readMemory, kAddressRegister, kSizeRegister, maxSize, &table);
    if (status != kGevOk) {
        if (!table.empty()) __builtin_trap();
        // Each refusal has its cause.
        if (failed) {
            if (status != failure) __builtin_trap();
        } else if (blockAddress == 0 || sizeBefore == 0) {
            if (status != kGevNotSupported) __builtin_trap();
        } else if (status != kGevBadDeviceSize ||
                   (sizeBefore <= maxSize && sizeAfter == sizeBefore)) {
            __builtin_trap();
        }
        return 0;
    }
    if (failed || blockAddress == 0 || sizeBefore == 0 || sizeBefore > maxSize ||
        sizeAfter != sizeBefore || memoryAsked != sizeBefore || table.size() != sizeBefore ||
        registerReads != 3)
        __builtin_trap();
    // The block as the camera holds it from the register-aligned address.
    const uint32_t aligned = blockAddress & ~3u;
    for (uint32_t i = 0; i < table.size(); ++i)
        if (table[i] != CameraByte(aligned + i)) __builtin_trap();
    return 0;
}
