#include "GvcpExchange.h"

#include <algorithm>

#include "Clock.h"
#include "GevLog.h"

namespace Vantor {
namespace {

constexpr uint32_t kSendFailureWaitMs = 20;

}  // namespace

AckVerdict JudgeAck(const uint8_t* data, size_t size, uint32_t sender, uint16_t senderPort,
                    uint32_t cameraAddress, uint16_t requestId, uint16_t expectedAck,
                    Gvcp::AckHeader* header) {
    // Anybody on the network can send to our control port; only the camera counts.
    if (sender != cameraAddress || senderPort != Gvcp::kPort) return AckVerdict::kForeign;
    if (!Gvcp::ParseAckHeader(data, size, header)) return AckVerdict::kForeign;
    if (header->ackId != requestId) return AckVerdict::kStale;
    if (header->status != 0) return AckVerdict::kStatus;
    if (header->code == Gvcp::kPendingAck) return AckVerdict::kPending;
    if (header->code != expectedAck) return AckVerdict::kUnexpected;
    return AckVerdict::kAccepted;
}

ExchangeDeadline::ExchangeDeadline(uint32_t commandTimeoutMs, uint8_t retryCount)
    : m_commandTimeout(commandTimeoutMs),
      m_regularEnd(static_cast<uint32_t>(
          std::min<uint64_t>(uint64_t{commandTimeoutMs} * std::max<uint8_t>(retryCount, 1),
                             UINT32_MAX - kMaxPendingExtensionMs))),
      m_end(m_regularEnd) {}

void ExchangeDeadline::StartAttempt(uint32_t elapsed, uint32_t waitMs) {
    m_attemptEnd = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{elapsed} + waitMs, m_end));
}

void ExchangeDeadline::Pending(uint32_t elapsed, uint32_t ms) {
    const uint64_t wanted = uint64_t{elapsed} + (ms != 0 ? ms : m_commandTimeout);
    const uint64_t cap = uint64_t{m_regularEnd} + kMaxPendingExtensionMs;
    m_end = static_cast<uint32_t>(std::max<uint64_t>(m_end, std::min(wanted, cap)));
    m_attemptEnd = static_cast<uint32_t>(std::min<uint64_t>(wanted, m_end));
}

uint32_t ExchangeDeadline::Remaining(uint32_t elapsed) const {
    return elapsed < m_attemptEnd ? m_attemptEnd - elapsed : 0;
}

ExchangeResult RunExchange(DeviceSlot& slot, const ExchangeRequest& request, uint8_t* ack) {
    DeviceRecord& record = slot.record;
    const uint8_t handle = record.ownHandle;
    const uint32_t camera = record.cameraAddress;
    const uint32_t start = Platform::TickCount();
    auto elapsed = [start] { return Platform::TickCount() - start; };
    ExchangeDeadline deadline(record.commandTimeout, record.retryCount);
    ExchangeResult result;

    for (uint8_t attempt = 0; attempt < record.retryCount && !deadline.ExchangeOver(elapsed());
         ++attempt) {
        uint32_t waitMs = record.commandTimeout;
        int sent = Platform::SendTo(record.controlSocket, request.command, request.commandSize,
                                    camera, Gvcp::kPort);
        if (sent != static_cast<int>(request.commandSize)) {
            DeviceLog(handle, kLogWarning, request.sendFailedText, request.commandSize, sent,
                      Platform::LastSocketError());
            if (request.sendFailureEnds) {
                result.status = kGevSendFailed;
                return result;
            }
            waitMs = kSendFailureWaitMs;
        } else if (request.sentText != nullptr) {
            DeviceLog(handle, kLogVerbose, request.sentText, request.address, waitMs / 1000u,
                      (waitMs % 1000u) * 1000u, attempt, record.retryCount);
        }
        deadline.StartAttempt(elapsed(), waitMs);

        for (;;) {
            const uint32_t remaining = deadline.Remaining(elapsed());
            int ready =
                remaining == 0 ? 0 : Platform::WaitReadableMs(record.controlSocket, remaining);
            if (ready == 0) {
                result.status = kGevTimeout;
                break;  // next attempt sends again
            }
            if (ready < 0) {
                result.status = kGevSelectFailed;
                return result;
            }
            uint32_t sender = 0;
            uint16_t senderPort = 0;
            int size = Platform::ReceiveFrom(record.controlSocket, ack, request.receiveCapacity,
                                             &sender, &senderPort);
            if (size < 0) {
                result.status = request.receiveFailure;
                return result;
            }
            Gvcp::AckHeader header{};
            switch (JudgeAck(ack, static_cast<size_t>(size), sender, senderPort, camera,
                             request.requestId, request.expectedAck, &header)) {
                case AckVerdict::kForeign:
                    continue;
                case AckVerdict::kStale:
                    // A late answer to an earlier command: not ours, keep waiting.
                    result.anyReceived = true;
                    continue;
                case AckVerdict::kPending: {
                    result.anyReceived = true;
                    const uint16_t pendingMs = Gvcp::PendingAckTime(ack, static_cast<size_t>(size));
                    deadline.Pending(elapsed(), pendingMs);
                    DeviceLog(handle, kLogInfo, request.pendingText, request.address, pendingMs);
                    if (request.marksPendingAck) record.pendingAck = true;
                    continue;
                }
                case AckVerdict::kStatus:
                    result.anyReceived = true;
                    result.status = header.status;
                    return result;
                case AckVerdict::kUnexpected:
                    result.anyReceived = true;
                    result.status = kGevUnexpectedAck;
                    return result;
                case AckVerdict::kAccepted:
                    result.anyReceived = true;
                    result.status = kGevOk;
                    result.received = static_cast<size_t>(size);
                    return result;
            }
        }
    }
    return result;
}

}  // namespace Vantor
