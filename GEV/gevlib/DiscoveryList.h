// The list one discovery pass builds on one adapter: which acknowledge makes
// a new entry, which is a repeat, and when the list is full. Pure: the
// discovery loop receives, this decides.
#pragma once

#include <cstddef>
#include <cstdint>

#include "VantorLib.h"

namespace Vantor {

enum class DiscoveryTake {
    kForeign,    // not a discovery acknowledge
    kMalformed,  // an acknowledge of the wrong length: counted, never listed
    kIgnored,    // out of the adapter's subnet, or a camera already listed
    kListed,     // appended to the list
    kFound,      // no list: to be reported to the callback
    kListFull,   // a well-formed acknowledge with no room left: the pass ends
};

// True when `list` has an entry of the same adapter with the same address or MAC.
bool AlreadyListed(const GevDeviceList& list, const GevDiscoveredDevice& record);

// Judges one datagram from `sender` (network order) on `adapter`; `list` may
// be null. `record` and `status` get the acknowledge's record and status
// field for kListed and kFound (and are scratch otherwise).
DiscoveryTake TakeDiscoveryAck(const uint8_t* data, size_t size, uint32_t sender,
                               const GevAdapterEntry& adapter, bool broadcastAck,
                               GevDeviceList* list, GevDiscoveredDevice* record, uint16_t* status);

}  // namespace Vantor
