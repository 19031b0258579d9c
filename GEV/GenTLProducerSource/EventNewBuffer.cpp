#include "EventNewBuffer.h"

#include <cstring>

#include "DataStream.h"
#include "Exceptions.h"
#include "InfoCopy.h"
#include "StringFormat.h"

namespace GenTL {

using Platform::Format;

void CDataStreamEventNewBuffer::RequireRegistered() {
    if (!IsRegistered()) throw invalid_handle_exception("Event feature has been disabled.");
}

void CDataStreamEventNewBuffer::Register() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_registered == 1) throw resource_in_use_exception("Event already registered");
    m_registered = 1;
    m_deliveredBefore = m_stream->DeliveredCount();
    ++m_registrations;
}

void CDataStreamEventNewBuffer::Unregister() {
    RequireRegistered();
    std::lock_guard<std::mutex> guard(m_lock);
    m_registered = 0;
    if (m_registrations > 0) --m_registrations;
    m_killed = false;
}

bool CDataStreamEventNewBuffer::GetData(void* pBuffer, size_t* piSize, uint64_t iTimeout) {
    RequireRegistered();
    return m_stream->WaitForNewBuffer(pBuffer, piSize, iTimeout);
}

void CDataStreamEventNewBuffer::GetInfo(EVENT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                                        void* pBuffer, size_t* piSize) {
    RequireRegistered();
    switch (iInfoCmd) {
        case EVENT_EVENT_TYPE:
            return CopyInfoInt32(piType, pBuffer, piSize, m_stream->RequestedEventType());
        case EVENT_NUM_IN_QUEUE:
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_SIZET,
                                 m_stream->AwaitingDelivery());
        case EVENT_NUM_FIRED: {
            uint64_t before = 0;
            {
                std::lock_guard<std::mutex> guard(m_lock);
                before = m_deliveredBefore;
            }
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_UINT64,
                                 m_stream->DeliveredCount() - before);
        }
        case EVENT_SIZE_MAX:
        case EVENT_INFO_DATA_SIZE_MAX:
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_SIZET, kDataSize);
        default:
            throw implementation_exception(
                Format("Requested iID is not implemented; iID = %d.", iInfoCmd));
    }
}

void CDataStreamEventNewBuffer::GetDataInfo(const void* pInBuffer, size_t iInSize,
                                            EVENT_DATA_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                                            void* pOutBuffer, size_t* piOutSize) {
    RequireRegistered();
    const auto* bytes = static_cast<const unsigned char*>(pInBuffer);
    // Both fields are 8 bytes: nothing past iInSize is read.
    auto field = [&](size_t offset) {
        if (iInSize < offset + 8) {
            throw invalid_parameter_exception(
                Format("Specified iInSize is invalid: iInSize = %d.", iInSize));
        }
        uint64_t value = 0;
        std::memcpy(&value, bytes + offset, sizeof value);
        return value;
    };
    switch (iInfoCmd) {
        case EVENT_DATA_ID:
            return CopyInfoValue(piType, pOutBuffer, piOutSize, INFO_DATATYPE_PTR, field(0));
        case EVENT_DATA_VALUE:
            return CopyInfoValue(piType, pOutBuffer, piOutSize, INFO_DATATYPE_PTR, field(8));
        case EVENT_DATA_NUMID:
            return CopyInfoValue(piType, pOutBuffer, piOutSize, INFO_DATATYPE_INT64,
                                 static_cast<int64_t>(field(0)));
        default:
            throw implementation_exception(
                Format("Requested iID is not implemented; iID = %d.", iInfoCmd));
    }
}

void CDataStreamEventNewBuffer::Flush() {
    RequireRegistered();
    m_stream->FlushQueue(ACQ_QUEUE_OUTPUT_DISCARD);
}

void CDataStreamEventNewBuffer::Kill() {
    RequireRegistered();
    m_killed = true;
    m_stream->Kill();
}

void CDataStreamEventNewBuffer::ClearKilled() {
    RequireRegistered();
    m_killed = false;
}

bool CDataStreamEventNewBuffer::IsKilled() {
    RequireRegistered();
    return m_killed.exchange(0) != 0;
}

}  // namespace GenTL
