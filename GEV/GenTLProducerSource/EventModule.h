// CEventModule: the EVENT_MODULE object of a device module, which tells a
// consumer what happened to the module itself (the camera was lost). The
// device pushes from the heartbeat thread; a consumer waits in EventGetData.
#pragma once

#include "EventQueue.h"

namespace GenTL {

class CEventModule : public CEventQueue<ModuleEventEntry> {
public:
    // The ID of the DeviceLost event, as the device module's description names it.
    static constexpr uint64_t kDeviceLostId = 0x0001;
    // Past this many unread entries new ones are dropped: a module has few events.
    static constexpr size_t kMaxQueued = 64;

    CEventModule() = default;
    ~CEventModule() override;

    void Push(const ModuleEventEntry& entry) override;
    // EVENT_DATA_ID: the ID in hexadecimal; EVENT_DATA_NUMID: the ID as a number;
    // EVENT_DATA_VALUE: the whole record, the layout the description's event port reads.
    void GetDataInfo(const void* pInBuffer, size_t iInSize, EVENT_DATA_INFO_CMD iInfoCmd,
                     INFO_DATATYPE* piType, void* pOutBuffer, size_t* piOutSize) override;

protected:
    EVENT_TYPE EventType() const override { return EVENT_MODULE; }
};

}  // namespace GenTL
