// Turns one datagram received after a discovery broadcast into a discovered
// device record: a proper acknowledge, a marked one of the wrong length, or
// nothing for anything else.
#pragma once

#include <cstddef>
#include <cstdint>

#include "VantorLib.h"

namespace Vantor {

enum class DiscoveryAckKind { Foreign, Valid, Incorrect };

// `sender` is the datagram's source address (network order); `status` gets
// the acknowledge's status field for Valid and Incorrect.
DiscoveryAckKind ReadDiscoveryAck(const uint8_t* data, size_t size, uint32_t sender,
                                  const GevAdapterEntry& adapter, GevDiscoveredDevice* record,
                                  uint16_t* status);

// Copies a name of at most size - 1 characters and terminates it.
void CopyName(char* to, size_t size, const char* from);

}  // namespace Vantor
