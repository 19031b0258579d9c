#include "DiscoveryList.h"

#include <cstring>

#include "DiscoveryAck.h"

namespace Vantor {

// One camera is one MAC: a peer answering again with other addresses is not listed again.
bool AlreadyListed(const GevDeviceList& list, const GevDiscoveredDevice& record) {
    for (int i = 0; i < list.count; ++i) {
        const GevDiscoveredDevice& listed = list.devices[i];
        if (listed.adapterAddress != record.adapterAddress) continue;
        if (listed.cameraAddress == record.cameraAddress ||
            (std::memcmp(listed.macHigh, record.macHigh, sizeof record.macHigh) == 0 &&
             std::memcmp(listed.macLow, record.macLow, sizeof record.macLow) == 0))
            return true;
    }
    return false;
}

DiscoveryTake TakeDiscoveryAck(const uint8_t* data, size_t size, uint32_t sender,
                               const GevAdapterEntry& adapter, bool broadcastAck,
                               GevDeviceList* list, GevDiscoveredDevice* record, uint16_t* status) {
    switch (ReadDiscoveryAck(data, size, sender, adapter, record, status)) {
        case DiscoveryAckKind::Foreign:
            return DiscoveryTake::kForeign;
        case DiscoveryAckKind::Incorrect:
            // Anybody can send those.
            return DiscoveryTake::kMalformed;
        case DiscoveryAckKind::Valid:
            break;
    }
    if (list != nullptr && list->count >= kMaxDiscoveredDevices) return DiscoveryTake::kListFull;
    // Judged with the adapter's mask: a camera that reports no or a narrower
    // mask is still reachable when its address lies in the adapter's subnet
    // (Aravis's camera reports 0.0.0.0).
    const bool inSubnet =
        (record->cameraAddress & adapter.mask) == (adapter.address & adapter.mask);
    if (!broadcastAck && !inSubnet) return DiscoveryTake::kIgnored;
    if (list == nullptr) return DiscoveryTake::kFound;
    if (AlreadyListed(*list, *record)) return DiscoveryTake::kIgnored;
    list->devices[list->count++] = *record;
    return DiscoveryTake::kListed;
}

}  // namespace Vantor
