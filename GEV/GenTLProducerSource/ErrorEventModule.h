// The base of the modules whose only event is EVENT_ERROR (system and
// interface): a register-map module that owns its error event and answers
// event registration for it alone.
#pragma once

#include <cstdint>
#include <memory>

#include "EventQueue.h"
#include "RegisterMapModule.h"

namespace GenTL {

class CErrorEventModule : public CRegisterMapModule {
public:
    // EVENT_ERROR only; another type is not implemented.
    void RegisterEvent(EVENT_TYPE iEventID, CEventObj** ppEvent) override;
    void UnregisterEvent(EVENT_TYPE iEventID) override;

    CEventError& ErrorEvent() { return *m_errorEvent; }

protected:
    explicit CErrorEventModule(uint64_t initialSlots);
    ~CErrorEventModule() override;

    // For a module that must end the event's waits before it lets go of the rest.
    void ReleaseErrorEvent() { m_errorEvent.reset(); }

private:
    std::unique_ptr<CEventError> m_errorEvent;
};

}  // namespace GenTL
