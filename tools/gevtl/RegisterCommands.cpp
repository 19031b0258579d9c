// `gevtl read` and `write`: raw port access, a 4-byte register or a block of memory.
#include <cstdio>
#include <iostream>
#include <vector>

#include "ModulePort.h"

namespace Gevtl {

namespace {

// The camera's registers are big-endian as the remote port passes them through; the
// producer's own modules describe theirs as little-endian. --endian overrides.
bool BigEndian(const Context& context) {
    const std::string module = context.Args().Value("--module", "remote");
    const std::string endian =
        context.Args().Value("--endian", module == "remote" ? "big" : "little");
    if (endian != "big" && endian != "little") throw UsageError("--endian is big or little");
    return endian == "big";
}

uint64_t AddressArgument(const Context& context, size_t index) {
    const int64_t address = ParseInteger(context.Word(index, "ADDRESS"));
    if (address < 0) throw UsageError("negative address");
    return static_cast<uint64_t>(address);
}

void HexDump(uint64_t address, const std::vector<uint8_t>& data) {
    for (size_t offset = 0; offset < data.size(); offset += 16) {
        std::printf("%08llx ", static_cast<unsigned long long>(address + offset));
        std::string ascii;
        for (size_t i = offset; i < offset + 16; ++i) {
            if (i < data.size()) {
                std::printf(" %02x", data[i]);
                ascii += (data[i] >= 0x20 && data[i] < 0x7F) ? char(data[i]) : '.';
            } else {
                std::printf("   ");
            }
        }
        std::printf("  |%s|\n", ascii.c_str());
    }
}

int RunRead(Context& context) {
    ModulePort port(context, GenTL::DEVICE_ACCESS_READONLY);
    GenTLLibrary& lib = context.Library();
    const uint64_t address = AddressArgument(context, port.FirstArgument());
    if (context.Args().Has("--size")) {
        const uint64_t size = context.Args().Number("--size", 0);
        if (size == 0 || size > (64u << 20)) throw UsageError("--size is 1 to 64 MiB");
        std::vector<uint8_t> data(size);
        size_t done = data.size();
        lib.Check("GCReadPort", lib.GCReadPort(port.Handle(), address, data.data(), &done));
        data.resize(done);
        HexDump(address, data);
        return 0;
    }
    uint8_t bytes[4] = {};
    size_t size = sizeof bytes;
    lib.Check("GCReadPort", lib.GCReadPort(port.Handle(), address, bytes, &size));
    const uint32_t value = BigEndian(context)
                               ? (uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 |
                                  uint32_t(bytes[2]) << 8 | bytes[3])
                               : (uint32_t(bytes[3]) << 24 | uint32_t(bytes[2]) << 16 |
                                  uint32_t(bytes[1]) << 8 | bytes[0]);
    std::printf("0x%08x (%u)\n", value, value);
    return 0;
}

int RunWrite(Context& context) {
    ModulePort port(context, GenTL::DEVICE_ACCESS_CONTROL);
    GenTLLibrary& lib = context.Library();
    const uint64_t address = AddressArgument(context, port.FirstArgument());
    const int64_t parsed = ParseInteger(context.Word(port.FirstArgument() + 1, "VALUE"));
    if (parsed < INT32_MIN || parsed > int64_t(UINT32_MAX)) throw UsageError("VALUE is 32 bits");
    const uint32_t value = static_cast<uint32_t>(parsed);
    uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) {
        const int shift = BigEndian(context) ? 24 - 8 * i : 8 * i;
        bytes[i] = static_cast<uint8_t>(value >> shift);
    }
    size_t size = sizeof bytes;
    lib.Check("GCWritePort", lib.GCWritePort(port.Handle(), address, bytes, &size));
    return 0;
}

OptionSpec EndianOption() {
    return {"--endian", true,
            "big|little: byte order of the register (default: big on the "
            "camera, little on a producer module)"};
}

}  // namespace

Command ReadCommand() {
    return {"read",
            "DEVICE ADDRESS [--size N]",
            "read a 4-byte register, or N bytes of memory as a hex dump",
            {ModuleOption(), EndianOption(), {"--size", true, "read N bytes as memory"}},
            RunRead};
}

Command WriteCommand() {
    return {"write",
            "DEVICE ADDRESS VALUE",
            "write a 4-byte register",
            {ModuleOption(), EndianOption()},
            RunWrite};
}

}  // namespace Gevtl
