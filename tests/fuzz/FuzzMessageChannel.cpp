// Any datagram that reaches the message socket from an open camera's address.
#include <cstddef>
#include <cstdint>

#include "DebugOutput.h"
#include "DeviceTable.h"
#include "MessageChannel.h"

namespace {

volatile uint8_t g_sink;

void Handler(uint8_t, const Vantor::GevMessageEvent* event) {
    // Touch every byte the handler is promised, so the sanitizer sees over-reads.
    for (unsigned i = 0; i < event->dataLength; ++i) g_sink = event->data[i];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        Platform::SetDebugOutputCapture([](const std::string&) {});
        Vantor::DeviceSlot* slot = Vantor::SlotOf(1);
        slot->record.cameraAddress = 0x0200007F;
        slot->record.messageChannelAvailable = true;
        slot->record.ownHandle = 1;
        slot->inUse = true;
        Vantor::MessageChannel::Instance().SetHandler(slot->record, &Handler);
        return true;
    }();
    (void)ready;
    Vantor::MessageChannel::Instance().HandleDatagram(data, size, 0x0200007F, 3956);
    return 0;
}
