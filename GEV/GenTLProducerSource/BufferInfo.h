// CBufferInfo: one buffer announced to a data stream. It holds the memory
// (the consumer's or its own), its one place among the stream's queues, the
// description of the image delivered into it, and a small register map served
// through the buffer handle as a port.
// Thread-safe only as far as the owning data stream serialises its queues: the
// place and everything delivered are under the stream's queue lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BufferPart.h"
#include "ICommonBase.h"
#include "RegisterMap.h"
#include "RegisterMapModule.h"
#include "VantorLib.h"

namespace GenTL {

// Where a buffer is: with the consumer (announced, or handed out, or discarded
// by a flush), in the input pool, being filled by the acquisition engine, or in
// the output queue. A buffer is in exactly one place.
enum class BufferPlace { Consumer, InputPool, Filling, OutputQueue };

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

    // Copies the description of a delivery. `tickFrequency`: the camera's time-stamp
    // ticks per second, 0 when unknown.
    void Deliver(const Vantor::GevImageInfo& info, const Vantor::GevImageExtent& extent,
                 bool incompleteImage, uint64_t tickFrequency);

    // Moves between the stream's queues, with the flags that go with each move.
    void OnQueued();           // -> input pool
    void OnTaken();            // input pool -> being filled
    void OnReturned();         // being filled -> input pool, unfilled
    void OnDelivered();        // -> output queue, filled
    void OnEventData();        // output queue -> consumer
    void OnDiscarded();        // -> consumer, by a flush
    void OnFlushedToOutput();  // input pool -> output queue, unfilled
    BufferPlace Place() const { return m_place; }
    bool IsQueued() const { return m_place != BufferPlace::Consumer; }
    bool IsAcquiring() const { return m_place == BufferPlace::Filling; }
    bool CanRevoke() const { return m_place == BufferPlace::Consumer; }

    bool newData = false;
    uint64_t timestamp = 0;    // the camera's, in its ticks
    uint64_t timestampNs = 0;  // valid when timestampNsKnown
    bool timestampNsKnown = false;
    uint64_t sizeFilled = 0;  // bytes written the last time the buffer was filled
    uint64_t dataSize = 0;    // bytes the camera sent or meant to send for it
    bool dataLargerThanBuffer = false;
    uint64_t width = 1024;
    uint64_t height = 768;
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
    // Multi-part deliveries only: the parts in the leader's order; empty otherwise.
    std::vector<CBufferPart> parts;

private:
    CBufferInfo(ICommonBase* stream, uint64_t size, void* privateData);
    void BuildRegisterMap();

    BufferPlace m_place = BufferPlace::Consumer;
    uint8_t* m_memory = nullptr;
    std::unique_ptr<uint8_t[]> m_owned;
    uint64_t m_size = 0;
    void* m_private = nullptr;
    ICommonBase* m_stream = nullptr;
};

}  // namespace GenTL
