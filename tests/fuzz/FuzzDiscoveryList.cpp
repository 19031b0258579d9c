// The discovery loop's decisions over any run of datagrams after a broadcast:
// well-formed acknowledges (repeats, other subnets, bursts up to the cap),
// malformed ones and anything at all. The list never exceeds its cap, holds
// no two entries with the same MAC or address on its adapter, and every entry
// is the record of a well-formed acknowledge that came, in the adapter's
// subnet unless broadcast acknowledges were asked for.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "DiscoveryList.h"
#include "FuzzInput.h"
#include "GvcpPackets.h"

namespace {

using namespace Vantor;

constexpr uint32_t kAdapterAddress = 0x0100A8C0;  // 192.168.0.1, network order
constexpr uint32_t kAdapterMask = 0x00FFFFFF;     // 255.255.255.0

using Mac = std::array<uint8_t, 6>;

struct Datagram {
    uint8_t bytes[Gvcp::kMaxDatagram];
    size_t size;
};

// A well-formed acknowledge of the camera with MAC ending `macLow` and
// address 192.168.`net`.`host`.
void BuildAck(Datagram& datagram, uint16_t macLow, uint8_t net, uint8_t host, uint16_t status) {
    uint8_t* ack = datagram.bytes;
    std::memset(ack, 0, Gvcp::kDiscoveryAckSize);
    Gvcp::PutU16(ack + Gvcp::kAckStatus, status);
    Gvcp::PutU16(ack + Gvcp::kAckCode, Gvcp::kDiscoveryAck);
    Gvcp::PutU16(ack + Gvcp::kAckLength,
                 static_cast<uint16_t>(Gvcp::kDiscoveryAckSize - Gvcp::kHeaderSize));
    Gvcp::PutU16(ack + Gvcp::kAckId, 1);
    const uint8_t mac[6] = {
        0x02, 0x00, 0x0A, 0x0B, static_cast<uint8_t>(macLow >> 8), static_cast<uint8_t>(macLow)};
    std::memcpy(ack + Gvcp::kDiscMacHigh, mac, 2);
    std::memcpy(ack + Gvcp::kDiscMacLow, mac + 2, 4);
    const uint8_t ip[4] = {192, 168, net, host};
    std::memcpy(ack + Gvcp::kDiscCurrentIp, ip, 4);
    std::memcpy(ack + Gvcp::kDiscManufacturer, "Fuzz", 4);
    datagram.size = Gvcp::kDiscoveryAckSize;
}

bool WellFormed(const Datagram& datagram) {
    return datagram.size == Gvcp::kDiscoveryAckSize &&
           Gvcp::GetU16(datagram.bytes + Gvcp::kAckCode) == Gvcp::kDiscoveryAck;
}

// A record's fields, byte for byte (its padding left out).
std::string Key(const GevDiscoveredDevice& record) {
    std::string key;
    auto add = [&key](const void* field, size_t size) {
        key.append(static_cast<const char*>(field), size);
    };
    add(&record.cameraAddress, sizeof record.cameraAddress);
    add(record.manufacturer, sizeof record.manufacturer);
    add(record.model, sizeof record.model);
    add(record.deviceVersion, sizeof record.deviceVersion);
    add(&record.adapterAddress, sizeof record.adapterAddress);
    add(&record.adapterMask, sizeof record.adapterMask);
    add(record.macHigh, sizeof record.macHigh);
    add(record.macLow, sizeof record.macLow);
    add(&record.subnetMask, sizeof record.subnetMask);
    add(&record.defaultGateway, sizeof record.defaultGateway);
    add(record.adapterName, sizeof record.adapterName);
    add(record.serialNumber, sizeof record.serialNumber);
    add(record.userName, sizeof record.userName);
    add(&record.accessStatus, sizeof record.accessStatus);
    return key;
}

Mac MacOf(const uint8_t* high, const uint8_t* low) {
    Mac mac;
    std::memcpy(mac.data(), high, 2);
    std::memcpy(mac.data() + 2, low, 4);
    return mac;
}

uint32_t AddressOf(const Datagram& datagram) {
    uint32_t address;
    std::memcpy(&address, datagram.bytes + Gvcp::kDiscCurrentIp, 4);
    return address;
}

// Enough datagrams to fill the list and go on past it, few enough to stay fast.
constexpr unsigned kMaxDatagrams = kMaxDiscoveredDevices + 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t flags = input.Byte();
    const bool broadcastAck = flags & 1;
    const bool withList = (flags & 2) == 0;
    const GevAdapterEntry adapter{kAdapterAddress, kAdapterMask, "fuzz0"};
    auto list = std::make_unique<GevDeviceList>();
    list->count = 0;
    GevDeviceList* const listed = withList ? list.get() : nullptr;
    // The MAC and address of every well-formed acknowledge sent.
    std::set<std::pair<Mac, uint32_t>> sent;
    uint16_t burstMac = 0x1000;
    Datagram datagram{};
    unsigned datagrams = 0;

    auto take = [&]() {
        ++datagrams;
        const uint8_t countBefore = list->count;
        GevDiscoveredDevice record{};
        uint16_t status = 0xFFFF;
        const DiscoveryTake verdict =
            TakeDiscoveryAck(datagram.bytes, datagram.size, 0x0A0A0A0A, adapter, broadcastAck,
                             listed, &record, &status);
        const bool wellFormed = WellFormed(datagram);
        if (wellFormed)
            sent.insert(
                {MacOf(datagram.bytes + Gvcp::kDiscMacHigh, datagram.bytes + Gvcp::kDiscMacLow),
                 AddressOf(datagram)});
        const bool grows = verdict == DiscoveryTake::kListed;
        if (list->count != countBefore + (grows ? 1 : 0)) __builtin_trap();
        if (list->count > kMaxDiscoveredDevices) __builtin_trap();
        switch (verdict) {
            case DiscoveryTake::kForeign:
                if (datagram.size >= Gvcp::kHeaderSize &&
                    Gvcp::GetU16(datagram.bytes + Gvcp::kAckCode) == Gvcp::kDiscoveryAck)
                    __builtin_trap();
                break;
            case DiscoveryTake::kMalformed:
                if (wellFormed || datagram.size < Gvcp::kHeaderSize) __builtin_trap();
                break;
            case DiscoveryTake::kListFull:
                if (!wellFormed || !withList || countBefore != kMaxDiscoveredDevices)
                    __builtin_trap();
                break;
            case DiscoveryTake::kFound:
                if (!wellFormed || withList) __builtin_trap();
                break;
            case DiscoveryTake::kListed:
                if (!wellFormed || status != Gvcp::GetU16(datagram.bytes)) __builtin_trap();
                if (Key(list->devices[countBefore]) != Key(record) ||
                    record.cameraAddress != AddressOf(datagram) ||
                    MacOf(record.macHigh, record.macLow) !=
                        MacOf(datagram.bytes + Gvcp::kDiscMacHigh,
                              datagram.bytes + Gvcp::kDiscMacLow) ||
                    std::memcmp(record.manufacturer, datagram.bytes + Gvcp::kDiscManufacturer,
                                sizeof record.manufacturer) != 0)
                    __builtin_trap();
                break;
            case DiscoveryTake::kIgnored:
                if (!wellFormed) __builtin_trap();
                break;
        }
    };

    while (input.Left() > 0 && datagrams < kMaxDatagrams) {
        const uint8_t op = input.Byte();
        switch (op % 4) {
            case 0: {  // one camera, perhaps again, perhaps elsewhere
                const uint8_t mac = input.Byte() % 16;
                const uint8_t host = input.Byte() % 16;
                const uint8_t net = op & 0x10 ? input.Byte() : 0;
                BuildAck(datagram, mac, net, host, op & 0x20 ? 0x8001 : 0);
                take();
                break;
            }
            case 1: {  // many cameras, enough to fill the list
                const unsigned count = input.Byte() + 1u;
                for (unsigned i = 0; i < count && datagrams < kMaxDatagrams; ++i, ++burstMac) {
                    BuildAck(datagram, burstMac, 0, static_cast<uint8_t>(burstMac), 0);
                    take();
                }
                break;
            }
            case 2: {  // a well-formed header of the wrong length
                const uint8_t mac = input.Byte();
                const uint8_t host = input.Byte();
                BuildAck(datagram, mac, 0, host, 0);
                datagram.size = Gvcp::kHeaderSize + input.Byte();
                take();
                break;
            }
            default: {  // anything at all
                size_t taken = 0;
                const uint8_t* raw = input.Take(input.Byte() % Gvcp::kMaxDatagram, &taken);
                std::memcpy(datagram.bytes, raw, taken);
                datagram.size = taken;
                take();
                break;
            }
        }
    }

    std::set<Mac> macs;
    std::set<uint32_t> addresses;
    for (int i = 0; i < list->count; ++i) {
        const GevDiscoveredDevice& device = list->devices[i];
        if (!macs.insert(MacOf(device.macHigh, device.macLow)).second) __builtin_trap();
        if (!addresses.insert(device.cameraAddress).second) __builtin_trap();
        const bool inSubnet =
            (device.cameraAddress & kAdapterMask) == (kAdapterAddress & kAdapterMask);
        if (device.adapterAddress != kAdapterAddress || (!broadcastAck && !inSubnet))
            __builtin_trap();
        if (sent.count({MacOf(device.macHigh, device.macLow), device.cameraAddress}) == 0)
            __builtin_trap();
    }
    return 0;
}
