#include "MessageChannel.h"

#include <vector>

#include "Clock.h"
#include "GevLog.h"
#include "GvcpPackets.h"
#include "UdpUtility.h"

namespace Vantor {
namespace {

constexpr uint32_t kWaitMs = 100;
constexpr uint8_t kKeepAlive[4] = {'d', 'm', 'm', 'y'};

void LogEvent(uint8_t handle, const Gvcp::EventMessage& event, const char* ack) {
    const uint16_t id = event.eventId;
    const char* line = nullptr;
    switch (id) {
        case 0x0002:
            line = "[INFO] -Message Channel Device %d ->%s trigger event\n";
            break;
        case 0x0003:
            line = "[INFO] -Message Channel Device %d -> %s start of exposure\n";
            break;
        case 0x0004:
            line = "[INFO] -Message Channel Device %d -> %s end of exposure\n";
            break;
        case 0x0005:
            line = "[INFO] -Message Channel Device %d -> %s stream channel start of transfer\n";
            break;
        case 0x0006:
            line = "[INFO] -Message Channel Device %d -> %s stream channel end of transfer\n";
            break;
        case 0x0007:
            line =
                "[INFO] -Message Channel Device %d -> %s primary application switchover has "
                "been granted\n";
            break;
        case 0x0008:
            line =
                "[INFO] -Message Channel Device %d -> %s indicates that the link speed has "
                "changed\n";
            break;
        case 0x0009:
            line =
                "[INFO] -Message Channel Device %d -> %s execution of a scheduled action "
                "command was late\n";
            break;
        default:
            break;
    }
    if (line == nullptr) {
        if (id >= 0x9000) {
            DevicelessLog(
                "[INFO] -Message Channel Device %d -> %s device-specific event: 0x%04X, req_Id: "
                "%d\n",
                handle, ack, id, event.requestId);
            return;
        }
        if (id >= 0x8001)
            line = "[INFO] -Message Channel Device %d -> %s error event\n";
        else if (id >= 0x000A)
            line = "[INFO] -Message Channel Device %d -> %s reserved event\n";
        else
            line = "[INFO] -Message Channel Device %d -> %s unknown event\n";
    }
    DevicelessLog(line, handle, ack);
}

}  // namespace

MessageChannel& MessageChannel::Instance() {
    static MessageChannel channel;
    return channel;
}

MessageChannel::~MessageChannel() {
    Shutdown();
}

bool MessageChannel::EnsureOpen(uint16_t port, bool* opened) {
    std::lock_guard<std::mutex> guard(m_lifecycleLock);
    *opened = false;
    if (m_socket != Platform::kInvalidSocket) return true;
    Platform::SocketHandle socket = OpenUdpSocket(0, port, false, false, false);
    if (socket == Platform::kInvalidSocket) return false;
    m_socket = socket;
    m_port = port;
    *opened = true;
    if (!m_running) {
        // A thread that ended on its own is joined before a new one starts.
        if (m_thread.joinable()) m_thread.join();
        m_stop = false;
        m_running = true;
        m_thread = std::thread(&MessageChannel::Run, this);
    }
    return true;
}

uint16_t MessageChannel::Port() {
    return m_port;
}

bool MessageChannel::ReadBoundPort() {
    uint16_t bound = Platform::BoundPort(m_socket);
    if (bound == 0) return false;
    m_port = bound;
    return true;
}

int MessageChannel::Send(uint32_t address, uint16_t port, const void* data, size_t size) {
    return Platform::SendTo(m_socket, data, size, address, port);
}

void MessageChannel::Shutdown() {
    std::lock_guard<std::mutex> guard(m_lifecycleLock);
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    m_running = false;
    CloseUdpSocket(m_socket.exchange(Platform::kInvalidSocket));
    m_port = 0;
}

void MessageChannel::SetHandler(DeviceRecord& record, GevMessageHandler handler) {
    std::lock_guard<std::recursive_mutex> guard(m_handlerLock);
    record.messageHandler = handler;
}

void MessageChannel::KeepAlivePass() {
    const uint32_t now = Platform::TickCount();
    for (DeviceSlot& slot : AllSlots()) {
        DeviceRecord& record = slot.record;
        if (!slot.inUse || !record.messageChannelAvailable) continue;
        uint16_t port = record.messageSourcePort;
        if (port == 0) continue;
        if ((now - record.messageKeepAliveTick) / 1000 < record.keepAliveInterval) continue;
        record.messageKeepAliveTick = now;
        if (Send(record.cameraAddress, port, kKeepAlive, sizeof kKeepAlive) < 0)
            DeviceLog(record.ownHandle, kLogError,
                      "[ERROR] -Send to message channel source port. (%d)\n", port);
    }
}

void MessageChannel::HandleDatagram(const uint8_t* data, size_t size, uint32_t sender,
                                    uint16_t senderPort) {
    DeviceSlot* slot = nullptr;
    for (DeviceSlot& candidate : AllSlots()) {
        if (candidate.inUse && candidate.record.cameraAddress == sender) {
            slot = &candidate;
            break;
        }
    }
    if (slot == nullptr || !slot->record.messageChannelAvailable || size < Gvcp::kHeaderSize)
        return;
    const uint8_t handle = static_cast<uint8_t>(slot - AllSlots().data() + 1);

    Gvcp::EventMessage event{};
    Gvcp::EventParse parsed = Gvcp::ParseEvent(data, size, &event);
    if (parsed != Gvcp::EventParse::Ok) {
        // One bad datagram must not end event delivery for every camera.
        DevicelessLog(
            "[WARNING] -Message Channel Device %d -> %s datagram of %d bytes dropped\n", handle,
            parsed == Gvcp::EventParse::NotEvent ? "not an event command:" : "truncated event:",
            size);
        return;
    }

    const char* ackSuffix = "";
    if (event.flags & Gvcp::kFlagAckRequired) {
        uint8_t ack[Gvcp::kEventAckSize];
        size_t ackSize = Gvcp::BuildEventAck(ack, event.command, event.requestId);
        // Anybody can send a datagram the acknowledge cannot answer (source port
        // 0, say); it must not end event delivery for every camera.
        if (Send(sender, senderPort, ack, ackSize) == static_cast<int>(ackSize))
            ackSuffix = " (ack)";
        else
            DevicelessLog("[ERROR] -Send error %d. Event of device %d not acknowledged\n",
                          Platform::LastSocketError(), handle);
    }
    LogEvent(handle, event, ackSuffix);

    GevMessageEvent record{event.eventId, event.streamChannel,
                           event.blockId, event.timestamp,
                           event.data,    static_cast<unsigned>(event.dataLength)};
    std::lock_guard<std::recursive_mutex> guard(m_handlerLock);
    // Close clears the handler under this lock: read it only now.
    GevMessageHandler handler = slot->record.messageHandler;
    if (handler != nullptr && slot->inUse) handler(handle, &record);
}

void MessageChannel::Run() {
    std::vector<uint8_t> buffer(Gvcp::kMaxDatagram, 0);
    while (!m_stop) {
        KeepAlivePass();
        Platform::SocketHandle socket = m_socket;
        int ready = Platform::WaitReadableMs(socket, kWaitMs);
        if (ready < 0) {
            Platform::SleepMs(kWaitMs);
            continue;
        }
        if (ready == 0) continue;
        uint32_t sender = 0;
        uint16_t senderPort = 0;
        int size =
            Platform::ReceiveFrom(socket, buffer.data(), buffer.size(), &sender, &senderPort);
        if (size > 0) HandleDatagram(buffer.data(), static_cast<size_t>(size), sender, senderPort);
    }
    m_running = false;
}

}  // namespace Vantor
