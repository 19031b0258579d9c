// CDataStreamEventNewBuffer: the EVENT_NEW_BUFFER object of a data stream. It
// keeps no queue: its data is the head of the stream's output queue, waited
// for under the stream's queue lock. One kill aborts one wait.
#pragma once

#include <cstdint>

#include "EventObj.h"

namespace GenTL {

class CDataStream;

class CDataStreamEventNewBuffer : public CEventObj {
public:
    // Size of the event data: the buffer handle, then its private pointer.
    static constexpr size_t kDataSize = 16;

    explicit CDataStreamEventNewBuffer(CDataStream* stream) : m_stream(stream) {}

    // Throws resource_in_use_exception "Event already registered" when registered.
    void Register();
    void Unregister();

    bool GetData(void* pBuffer, size_t* piSize, uint64_t iTimeout) override;
    void GetInfo(EVENT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                 size_t* piSize) override;
    void GetDataInfo(const void* pInBuffer, size_t iInSize, EVENT_DATA_INFO_CMD iInfoCmd,
                     INFO_DATATYPE* piType, void* pOutBuffer, size_t* piOutSize) override;
    // Discards the stream's output queue.
    void Flush() override;
    void Kill() override;
    void ClearKilled() override;
    // Reads and clears the flag, so that one kill aborts one wait.
    bool IsKilled() override;

private:
    // "Event feature has been disabled." unless registered.
    void RequireRegistered();

    CDataStream* m_stream;
    uint8_t m_registrations = 0;  // under m_lock
    // The stream's delivered count at the registration: what came since is fired.
    uint64_t m_deliveredBefore = 0;  // under m_lock
};

}  // namespace GenTL
