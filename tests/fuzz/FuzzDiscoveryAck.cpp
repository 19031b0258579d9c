// Any datagram that arrives after a discovery broadcast. The first byte asks
// for the datagram as it stands or laid over a well-formed acknowledge (of
// its length or cut short), so that every kind is reached. A record is made
// of a discovery acknowledge only, from its fields when it has the proper
// length, and marked as incorrect otherwise.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "DiscoveryAck.h"
#include "GvcpPackets.h"

namespace {

constexpr uint32_t kSender = 0x020AFEA9;

void Check(bool holds) {
    if (!holds) __builtin_trap();
}

bool SameBytes(const void* field, const uint8_t* wire, size_t size) {
    return std::memcmp(field, wire, size) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace Vantor;
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    uint8_t datagram[Gvcp::kMaxDatagram];
    if (mode & 1) {
        // A discovery acknowledge's header, the input over the rest.
        std::memset(datagram, 0, sizeof datagram);
        const size_t body = std::min(size, Gvcp::kDiscoveryAckSize - Gvcp::kHeaderSize);
        std::memcpy(datagram + Gvcp::kHeaderSize, data, body);
        Gvcp::PutU16(datagram + Gvcp::kAckStatus, mode & 4 ? 0x8001 : 0);
        Gvcp::PutU16(datagram + Gvcp::kAckCode, Gvcp::kDiscoveryAck);
        Gvcp::PutU16(datagram + Gvcp::kAckLength,
                     static_cast<uint16_t>(Gvcp::kDiscoveryAckSize - Gvcp::kHeaderSize));
        size = mode & 2 ? Gvcp::kHeaderSize + body : Gvcp::kDiscoveryAckSize;
    } else {
        size = std::min(size, sizeof datagram);
        std::memcpy(datagram, data, size);
    }

    const GevAdapterEntry adapter{0x010AFEA9, 0x00FFFFFF, "fuzz0"};
    GevDiscoveredDevice record{};
    uint16_t status = 0;
    const DiscoveryAckKind kind =
        ReadDiscoveryAck(datagram, size, kSender, adapter, &record, &status);
    const bool isAck =
        size >= Gvcp::kHeaderSize && Gvcp::GetU16(datagram + Gvcp::kAckCode) == Gvcp::kDiscoveryAck;
    if (kind == DiscoveryAckKind::Foreign) {
        Check(!isAck);
        return 0;
    }
    Check(isAck && status == Gvcp::GetU16(datagram + Gvcp::kAckStatus));
    Check(record.adapterAddress == adapter.address && record.adapterMask == adapter.mask);
    Check(std::strcmp(record.adapterName, "fuzz0") == 0);
    if (kind == DiscoveryAckKind::Incorrect) {
        Check(size != Gvcp::kDiscoveryAckSize && record.cameraAddress == kSender);
        Check(std::strcmp(record.manufacturer, "---") == 0);
        return 0;
    }
    Check(size == Gvcp::kDiscoveryAckSize);
    Check(SameBytes(&record.cameraAddress, datagram + Gvcp::kDiscCurrentIp, 4));
    Check(SameBytes(&record.subnetMask, datagram + Gvcp::kDiscSubnetMask, 4));
    Check(SameBytes(&record.defaultGateway, datagram + Gvcp::kDiscGateway, 4));
    Check(SameBytes(record.macHigh, datagram + Gvcp::kDiscMacHigh, 2));
    Check(SameBytes(record.macLow, datagram + Gvcp::kDiscMacLow, 4));
    Check(SameBytes(record.manufacturer, datagram + Gvcp::kDiscManufacturer, Gvcp::kDiscNameSize));
    Check(SameBytes(record.model, datagram + Gvcp::kDiscModel, Gvcp::kDiscNameSize));
    Check(
        SameBytes(record.deviceVersion, datagram + Gvcp::kDiscDeviceVersion, Gvcp::kDiscNameSize));
    Check(SameBytes(record.serialNumber, datagram + Gvcp::kDiscSerial, Gvcp::kDiscShortNameSize));
    Check(SameBytes(record.userName, datagram + Gvcp::kDiscUserName, Gvcp::kDiscShortNameSize));
    return 0;
}
