#include "ErrorEventModule.h"

#include "Exceptions.h"
#include "StringFormat.h"

namespace GenTL {

CErrorEventModule::CErrorEventModule(uint64_t initialSlots)
    : CRegisterMapModule(initialSlots), m_errorEvent(std::make_unique<CEventError>()) {}

CErrorEventModule::~CErrorEventModule() = default;

void CErrorEventModule::RegisterEvent(EVENT_TYPE iEventID, CEventObj** ppEvent) {
    if (iEventID != EVENT_ERROR) {
        throw implementation_exception(
            Platform::Format("Requested iID is not implemented; iID = %d.", iEventID));
    }
    m_errorEvent->Register();
    *ppEvent = m_errorEvent.get();
}

void CErrorEventModule::UnregisterEvent(EVENT_TYPE iEventID) {
    if (iEventID != EVENT_ERROR) {
        throw implementation_exception(
            Platform::Format("Requested iID is not implemented; iID = %d.", iEventID));
    }
    m_errorEvent->Unregister();
}

}  // namespace GenTL
