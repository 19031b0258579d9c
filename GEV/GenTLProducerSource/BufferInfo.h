// CBufferInfo: one buffer announced to a data stream. It holds the memory
// (the consumer's or its own), the flags the stream's queues move it through,
// the description of the image delivered into it, and a small register map
// served through the buffer handle as a port.
// Thread-safe only as far as the owning data stream serialises its queues.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ICommonBase.h"
#include "RegisterMap.h"
#include "RegisterMapModule.h"
#include "VantorLib.h"

namespace GenTL {

class CBufferInfo : public CRegisterMapModule {
public:
    static constexpr uint64_t kRegBase = 0x4;
    static constexpr uint64_t kRegSize = 0xC;
    static constexpr uint64_t kRegTimestamp = 0x10;
    static constexpr uint64_t kRegXmlAddress = 0x100;

    // Over the consumer's memory, which the record never frees.
    CBufferInfo(ICommonBase* stream, void* buffer, uint64_t size, void* privateData);
    // Memory of its own: `size` bytes; memory stays null when they cannot be had.
    static std::unique_ptr<CBufferInfo> Allocate(ICommonBase* stream, uint64_t size,
                                                 void* privateData);
    // A composite buffer over the consumer's segments, backed by one block of its own.
    CBufferInfo(ICommonBase* stream, const std::vector<void*>& segments,
                const std::vector<uint64_t>& sizes, void* privateData);
    ~CBufferInfo() override;

    // IPort: the buffer register map and description.
    void GetURL(char* sURL, size_t* piSize) override;
    void GetPortInfo(PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                     size_t* piSize) override;
    void GetURLInfo(uint32_t iURLIndex, URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                    size_t* piSize) override;
    // No event is raised on a buffer.
    void RegisterEvent(EVENT_TYPE iEventID, CEventObj** ppEvent) override;
    void UnregisterEvent(EVENT_TYPE iEventID) override;
    ICommonBase* GetParent() override { return m_stream; }

    // The memory; std::runtime_error "Invalid Memory Buffer" when there is none.
    uint8_t* Memory() const;
    uint64_t Size() const { return m_size; }
    void* PrivateData() const { return m_private; }
    bool OwnsMemory() const { return m_owned != nullptr; }

    // Copies the image description of a delivery; `timestamp` is the host's.
    void Deliver(const Vantor::GevImageInfo& info, uint64_t timestamp);

    // Flag transitions of the stream's queues.
    void OnQueued();
    void OnTaken();
    void OnDelivered();
    void OnEventData();
    bool CanRevoke() const { return !queued && !awaitingDelivery; }

    bool queued = false;
    bool newData = false;
    bool awaitingDelivery = false;
    uint64_t timestamp = 0;
    uint64_t width = 1024;
    uint64_t height = 768;
    bool acquiring = false;
    bool incomplete = false;
    uint64_t offsetX = 0, offsetY = 0, paddingX = 0, paddingY = 0;
    uint64_t frameId = 0;
    bool imagePresent = false;
    uint64_t imageOffset = 0;
    uint64_t payloadType = PAYLOAD_TYPE_IMAGE;
    uint64_t pixelFormat = 0, pixelFormatNamespace = 0;
    uint64_t deliveredImageHeight = 0;
    uint64_t deliveredChunkPayloadSize = 0;
    uint64_t chunkLayoutId = 0;
    bool containsChunkData = false;
    uint16_t ringIndex = 0;
    bool composite = false;
    std::vector<void*> segmentAddresses;
    std::vector<uint64_t> segmentSizes;
    uint64_t segmentCount = 1;

private:
    CBufferInfo(ICommonBase* stream, uint64_t size, void* privateData);
    void BuildRegisterMap();

    uint8_t* m_memory = nullptr;
    std::unique_ptr<uint8_t[]> m_owned;
    uint64_t m_size = 0;
    void* m_private = nullptr;
    ICommonBase* m_stream = nullptr;
};

}  // namespace GenTL
