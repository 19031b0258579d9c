#include "EventModule.h"

#include <cstring>

#include "Exceptions.h"
#include "InfoCopy.h"
#include "StringFormat.h"

namespace GenTL {

using Platform::Format;

CEventModule::~CEventModule() {
    CloseForWaiters();
}

void CEventModule::Push(const ModuleEventEntry& entry) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_queueRegistered) return;
    ++m_fired;
    if (m_queue.size() >= kMaxQueued) return;
    m_queue.push_back(entry);
    m_condition.notify_all();
}

void CEventModule::GetDataInfo(const void* pInBuffer, size_t iInSize, EVENT_DATA_INFO_CMD iInfoCmd,
                               INFO_DATATYPE* piType, void* pOutBuffer, size_t* piOutSize) {
    if (pInBuffer == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified pInBuffer is invalid: pInBuffer = 0x%p.", pInBuffer));
    }
    // Nothing past iInSize is read.
    if (iInSize < ModuleEventEntry::kSize) {
        throw invalid_parameter_exception(
            Format("Specified iInSize is invalid: iInSize = %d.", iInSize));
    }
    const auto* bytes = static_cast<const unsigned char*>(pInBuffer);
    uint64_t eventId = 0;
    std::memcpy(&eventId, bytes + ModuleEventEntry::kIdOffset, sizeof eventId);
    switch (iInfoCmd) {
        case EVENT_DATA_ID:
            return CopyInfoString(piType, pOutBuffer, piOutSize,
                                  Format("%04llX", static_cast<unsigned long long>(eventId)));
        case EVENT_DATA_VALUE:
            return CopyInfoRaw(piType, pOutBuffer, piOutSize, INFO_DATATYPE_BUFFER, bytes,
                               ModuleEventEntry::kSize);
        case EVENT_DATA_NUMID:
            return CopyInfoValue(piType, pOutBuffer, piOutSize, INFO_DATATYPE_UINT64, eventId);
        default:
            throw implementation_exception(
                Format("Requested iID is not implemented; iID = %d.", iInfoCmd));
    }
}

}  // namespace GenTL
