#include "DiscoveryAck.h"

#include <cstring>

#include "GvcpPackets.h"

namespace Vantor {
namespace {

uint32_t AddressField(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, 4);  // stays in network order
    return value;
}

GevDiscoveredDevice RecordFromAck(const uint8_t* ack, const GevAdapterEntry& adapter) {
    GevDiscoveredDevice record{};
    record.cameraAddress = AddressField(ack + Gvcp::kDiscCurrentIp);
    std::memcpy(record.manufacturer, ack + Gvcp::kDiscManufacturer, Gvcp::kDiscNameSize);
    std::memcpy(record.model, ack + Gvcp::kDiscModel, Gvcp::kDiscNameSize);
    std::memcpy(record.deviceVersion, ack + Gvcp::kDiscDeviceVersion, Gvcp::kDiscNameSize);
    record.adapterAddress = adapter.address;
    record.adapterMask = adapter.mask;
    std::memcpy(record.macHigh, ack + Gvcp::kDiscMacHigh, 2);
    std::memcpy(record.macLow, ack + Gvcp::kDiscMacLow, 4);
    record.subnetMask = AddressField(ack + Gvcp::kDiscSubnetMask);
    record.defaultGateway = AddressField(ack + Gvcp::kDiscGateway);
    CopyName(record.adapterName, sizeof record.adapterName, adapter.adapterName);
    std::memcpy(record.serialNumber, ack + Gvcp::kDiscSerial, Gvcp::kDiscShortNameSize);
    std::memcpy(record.userName, ack + Gvcp::kDiscUserName, Gvcp::kDiscShortNameSize);
    return record;
}

// An acknowledge of the wrong size still tells that something answers there.
GevDiscoveredDevice MarkedRecord(uint32_t sender, const GevAdapterEntry& adapter) {
    GevDiscoveredDevice record{};
    record.cameraAddress = sender;
    CopyName(record.manufacturer, sizeof record.manufacturer, "---");
    CopyName(record.model, sizeof record.model, "Discovery Acknowledge Incorrect");
    record.adapterAddress = adapter.address;
    record.adapterMask = adapter.mask;
    CopyName(record.adapterName, sizeof record.adapterName, adapter.adapterName);
    return record;
}

}  // namespace

void CopyName(char* to, size_t size, const char* from) {
    size_t length = strnlen(from, size - 1);
    std::memcpy(to, from, length);
    to[length] = '\0';
}

DiscoveryAckKind ReadDiscoveryAck(const uint8_t* data, size_t size, uint32_t sender,
                                  const GevAdapterEntry& adapter, GevDiscoveredDevice* record,
                                  uint16_t* status) {
    Gvcp::AckHeader header{};
    if (!Gvcp::ParseAckHeader(data, size, &header) || header.code != Gvcp::kDiscoveryAck)
        return DiscoveryAckKind::Foreign;
    *status = header.status;
    if (size != Gvcp::kDiscoveryAckSize) {
        *record = MarkedRecord(sender, adapter);
        return DiscoveryAckKind::Incorrect;
    }
    *record = RecordFromAck(data, adapter);
    return DiscoveryAckKind::Valid;
}

}  // namespace Vantor
