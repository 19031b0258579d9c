#include "GvcpCommands.h"

#include "CameraConfig.h"
#include "DeviceModel.h"
#include "GvcpWire.h"
#include "GvspWire.h"

namespace GevSim {

using namespace Gvcp;

bool Request::AckRequired() const {
    return (flags & kFlagAckRequired) != 0;
}

std::optional<uint32_t> Request::FirstAddress() const {
    const bool addressed = command == kReadRegCmd || command == kWriteRegCmd ||
                           command == kReadMemCmd || command == kWriteMemCmd;
    if (!addressed || length < 4) return std::nullopt;
    return Get32(payload);
}

bool ParseRequest(const uint8_t* data, size_t size, Request* request) {
    if (size < kHeaderSize || data[kCommandKeyOffset] != kKey) return false;
    const uint16_t length = Get16(data + kCommandLengthOffset);
    if (length > size - kHeaderSize) return false;  // truncated datagram
    request->flags = data[kCommandFlagsOffset];
    request->command = Get16(data + kCommandCodeOffset);
    request->length = length;
    request->requestId = Get16(data + kCommandRequestIdOffset);
    request->payload = data + kHeaderSize;
    return true;
}

std::vector<uint8_t> MakeAck(uint16_t status, uint16_t ackCode, uint16_t ackId,
                             const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> ack(kHeaderSize + payload.size());
    Put16(&ack[kAckStatusOffset], status);
    Put16(&ack[kAckCodeOffset], ackCode);
    Put16(&ack[kAckLengthOffset], static_cast<uint16_t>(payload.size()));
    Put16(&ack[kAckIdOffset], ackId);
    std::copy(payload.begin(), payload.end(), ack.begin() + kHeaderSize);
    return ack;
}

Reply CommandHandler::Handle(const Request& request) {
    Reply reply;
    switch (request.command) {
        case kDiscoveryCmd:
            reply.ack = Discovery(request);  // answered even without the ack flag
            return reply;
        case kForceIpCmd:
            return ForceIp(request);
        case kPacketResendCmd:
            if (model_.GvcpCapability() & Capability::kPacketResend) {
                reply.resend = PacketResend(request);
                return reply;  // no acknowledge, even when asked for
            }
            reply.ack = MakeAck(kStatusNotImplemented, static_cast<uint16_t>(request.command + 1),
                                request.requestId);
            break;
        case kReadRegCmd:
            reply.ack = ReadRegisters(request);
            break;
        case kWriteRegCmd:
            reply.ack = WriteRegisters(request);
            break;
        case kReadMemCmd:
            reply.ack = ReadMemory(request);
            break;
        case kWriteMemCmd:
            reply.ack = (model_.GvcpCapability() & Capability::kWriteMem)
                            ? WriteMemory(request)
                            : MakeAck(kStatusNotImplemented, kWriteMemAck, request.requestId);
            break;
        default:
            reply.ack = MakeAck(kStatusNotImplemented, static_cast<uint16_t>(request.command + 1),
                                request.requestId);
            break;
    }
    if (!request.AckRequired()) reply.ack.clear();
    return reply;
}

std::vector<uint8_t> CommandHandler::Discovery(const Request& request) {
    std::vector<uint8_t> payload(kDiscoveryPayloadSize);
    model_.DiscoveryPayload(payload.data());
    return MakeAck(kStatusSuccess, kDiscoveryAck, request.requestId, payload);
}

Reply CommandHandler::ForceIp(const Request& request) {
    Reply reply;
    if (request.length + kHeaderSize < kForceIpCommandSize) return reply;
    const uint8_t* datagram = request.payload - kHeaderSize;
    const auto mac = model_.Mac();
    if (Get16(datagram + kForceIpMacHighOffset) != (mac[0] << 8 | mac[1]) ||
        Get32(datagram + kForceIpMacLowOffset) != Get32(&mac[2]))
        return reply;  // meant for another device
    Reply::NewAddress address;
    address.ip = Get32(datagram + kForceIpAddressOffset);
    address.mask = Get32(datagram + kForceIpMaskOffset);
    address.gateway = Get32(datagram + kForceIpGatewayOffset);
    reply.forceIp = address;
    if (request.AckRequired()) reply.ack = MakeAck(kStatusSuccess, kForceIpAck, request.requestId);
    return reply;
}

std::optional<ResendRequest> CommandHandler::PacketResend(const Request& request) {
    ResendRequest resend;
    resend.extendedIds = (request.flags & kFlagExtendedIds) != 0;
    if (request.length < (resend.extendedIds ? Gvsp::kResendExtendedSize : Gvsp::kResendSize))
        return std::nullopt;
    const uint8_t* p = request.payload;
    resend.channel = Get16(p + Gvsp::kResendChannelOffset);
    resend.firstPacketId = Get32(p + Gvsp::kResendFirstOffset);
    resend.lastPacketId = Get32(p + Gvsp::kResendLastOffset);
    if (resend.extendedIds) {
        resend.blockId = Get64(p + Gvsp::kResendExtendedBlockIdOffset);
    } else {
        resend.blockId = Get16(p + Gvsp::kResendBlockIdOffset);
        resend.firstPacketId &= Gvsp::kMaxPacketId16;  // 24-bit packet ids
        resend.lastPacketId &= Gvsp::kMaxPacketId16;
    }
    return resend;
}

std::vector<uint8_t> CommandHandler::ReadRegisters(const Request& request) {
    const size_t count = request.length / 4;
    if (count == 0 || request.length % 4 != 0 || request.length > kMaxPayload)
        return MakeAck(kStatusInvalidParameter, kReadRegAck, request.requestId);
    if (count > 1 && !(model_.GvcpCapability() & Capability::kConcatenation))
        return MakeAck(kStatusNotImplemented, kReadRegAck, request.requestId);
    std::vector<uint8_t> values;
    for (size_t i = 0; i < count; ++i) {
        uint32_t value = 0;
        const uint16_t status =
            model_.ReadRegister(request.sender, Get32(request.payload + 4 * i), &value);
        // On an error the acknowledge carries the values read before it.
        if (status != kStatusSuccess)
            return MakeAck(status, kReadRegAck, request.requestId, values);
        values.resize(values.size() + 4);
        Put32(&values[values.size() - 4], value);
    }
    return MakeAck(kStatusSuccess, kReadRegAck, request.requestId, values);
}

std::vector<uint8_t> CommandHandler::WriteRegisters(const Request& request) {
    const size_t count = request.length / 8;
    if (count == 0 || request.length % 8 != 0 || request.length > kMaxPayload)
        return MakeAck(kStatusInvalidParameter, kWriteRegAck, request.requestId);
    if (count > 1 && !(model_.GvcpCapability() & Capability::kConcatenation))
        return MakeAck(kStatusNotImplemented, kWriteRegAck, request.requestId);
    uint16_t status = kStatusSuccess;
    size_t written = 0;
    for (; written < count; ++written) {
        const uint8_t* pair = request.payload + 8 * written;
        status = model_.WriteRegister(request.sender, Get32(pair), Get32(pair + 4));
        if (status != kStatusSuccess) break;
    }
    // reserved u16, index u16: registers written (= index of the failing one).
    std::vector<uint8_t> payload(4, 0);
    Put16(&payload[2], static_cast<uint16_t>(written));
    return MakeAck(status, kWriteRegAck, request.requestId, payload);
}

std::vector<uint8_t> CommandHandler::ReadMemory(const Request& request) {
    if (request.length != 8)
        return MakeAck(kStatusInvalidParameter, kReadMemAck, request.requestId);
    const uint32_t address = Get32(request.payload);
    const uint16_t count = Get16(request.payload + (kReadMemCountOffset - kHeaderSize));
    if (count == 0 || count % 4 != 0 || count > kMaxMemoryCount)
        return MakeAck(kStatusInvalidParameter, kReadMemAck, request.requestId);
    std::vector<uint8_t> payload(4 + count);
    Put32(payload.data(), address);
    const uint16_t status = model_.ReadMemory(request.sender, address, &payload[4], count);
    if (status != kStatusSuccess) return MakeAck(status, kReadMemAck, request.requestId);
    return MakeAck(kStatusSuccess, kReadMemAck, request.requestId, payload);
}

std::vector<uint8_t> CommandHandler::WriteMemory(const Request& request) {
    const size_t count = request.length >= 4 ? request.length - 4u : 0;
    if (count == 0 || count % 4 != 0 || count > kMaxMemoryCount)
        return MakeAck(kStatusInvalidParameter, kWriteMemAck, request.requestId);
    size_t written = 0;
    const uint16_t status = model_.WriteMemory(request.sender, Get32(request.payload),
                                               request.payload + 4, count, &written);
    // reserved u16, index u16: bytes written (= offset of the failing word).
    std::vector<uint8_t> payload(4, 0);
    Put16(&payload[2], static_cast<uint16_t>(written));
    return MakeAck(status, kWriteMemAck, request.requestId, payload);
}

}  // namespace GevSim
