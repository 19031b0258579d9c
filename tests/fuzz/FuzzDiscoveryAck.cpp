// Any datagram that arrives after a discovery broadcast.
#include <cstddef>
#include <cstdint>

#include "DiscoveryAck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Vantor::GevAdapterEntry adapter{0x010AFEA9, 0x00FFFFFF, "fuzz0"};
    Vantor::GevDiscoveredDevice record{};
    uint16_t status = 0;
    Vantor::ReadDiscoveryAck(data, size, 0x020AFEA9, adapter, &record, &status);
    return 0;
}
