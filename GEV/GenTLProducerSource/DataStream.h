// CDataStream: one GenTL data stream of an open device. It owns the camera's
// stream channel in the protocol library, the announced buffers, the input
// pool and output queue, the delivery thread that moves filled buffers from
// the library to the output queue, the new-buffer and error events, and the
// stream register map.
// Exports run on consumer threads, the delivery thread on its own. The queue
// lock guards the input pool, the output queue and every buffer's place and
// delivered description, so that a buffer is always in exactly one place; the
// announced lock guards the announced list and is taken before the queue lock.
// The delivery thread never holds the queue lock while it waits for the library.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BufferInfo.h"
#include "EventNewBuffer.h"
#include "EventQueue.h"
#include "RegisterMapModule.h"
#include "VantorLib.h"

namespace GenTL {

class CDevice;

class CDataStream : public CRegisterMapModule {
public:
    static constexpr uint64_t kRegRefresh = 0x0;
    static constexpr uint64_t kRegAnnouncedCount = 0x4;
    static constexpr uint64_t kRegTLType = 0x8;
    static constexpr uint64_t kRegAwaitDelivery = 0xC;
    static constexpr uint64_t kRegPacketResend = 0x10;
    static constexpr uint64_t kRegResendCount = 0x14;
    static constexpr uint64_t kRegPacketTimeout = 0x18;
    static constexpr uint64_t kRegImageTimeout = 0x1C;
    static constexpr uint64_t kRegPacketSize = 0x20;
    static constexpr uint64_t kRegFindMaxPacketSize = 0x24;
    static constexpr uint64_t kRegRingBufferCount = 0x28;
    static constexpr uint64_t kRegFilterDriver = 0x2C;
    static constexpr uint64_t kRegFramesToAcquire = 0x34;
    static constexpr uint64_t kRegPayloadSize = 0x38;
    static constexpr uint64_t kRegAnnounceMinimum = 0x40;
    static constexpr uint64_t kRegGrabbing = 0x50;
    static constexpr uint64_t kRegStreamID = 0x80;
    static constexpr uint64_t kRegDisplayName = 0x100;
    static constexpr uint64_t kRegBufferHandlingMode = 0x200;
    static constexpr uint64_t kRegFilterDriverVersion = 0x204;
    static constexpr uint64_t kRegUseUserBuffer = 0x224;
    // Counters, read while acquiring: 64-bit ones low word first.
    static constexpr uint64_t kRegStartedFrames = 0x228;
    static constexpr uint64_t kRegDeliveredFrames = 0x230;
    static constexpr uint64_t kRegUnderrunFrames = 0x238;
    static constexpr uint64_t kRegIncompleteFrames = 0x240;
    static constexpr uint64_t kRegDiscardedFrames = 0x248;
    static constexpr uint64_t kRegLostFrames = 0x250;
    static constexpr uint64_t kRegResendRequested = 0x258;
    static constexpr uint64_t kRegResentPackets = 0x260;
    static constexpr uint64_t kRegLostPackets = 0x268;
    static constexpr uint64_t kRegInputCount = 0x270;
    static constexpr uint64_t kRegXmlAddress = 0x300;

    static constexpr uint32_t kUnlimited = 0xFFFFFFFF;
    // StreamBufferHandlingMode: what happens to filled buffers the consumer has
    // not taken yet when new frames come.
    enum HandlingMode : uint32_t {
        kOldestFirst = 1,           // they wait, in order; frames wait for queued buffers
        kOldestFirstOverwrite = 2,  // with no queued buffer, the oldest waiting one is refilled
        kNewestOnly = 3             // only the newest waits; older ones go back to the pool
    };
    // Waits for a new buffer at or above this many ms have no limit (GENTL_INFINITE).
    static constexpr uint64_t kLongestTimedWaitMs = 100ULL * 365 * 24 * 60 * 60 * 1000;

    // Opens the device's stream channel; std::runtime_error when it cannot.
    CDataStream(std::shared_ptr<CDevice> device, const std::string& requestedID);
    // Stops a running acquisition, closes the channel, revokes every buffer
    // and waits until no consumer thread waits for a new buffer.
    ~CDataStream() override;

    // IPort: sizes up to 4 bytes are one register, larger ones a block.
    int64_t ReadBlock(uint64_t address, void* pBuffer, size_t* piSize) override;
    int64_t WriteBlock(uint64_t address, const void* pBuffer, size_t* piSize) override;
    void GetURL(char* sURL, size_t* piSize) override;
    void GetPortInfo(PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                     size_t* piSize) override;
    void GetURLInfo(uint32_t iURLIndex, URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                    size_t* piSize) override;

    // IEventSrc: EVENT_ERROR and EVENT_NEW_BUFFER.
    void RegisterEvent(EVENT_TYPE iEventID, CEventObj** ppEvent) override;
    void UnregisterEvent(EVENT_TYPE iEventID) override;
    ICommonBase* GetParent() override;

    // Buffers (the returned records are owned by the stream).
    CBufferInfo* AnnounceBuffer(void* pBuffer, size_t iSize, void* pPrivate);
    CBufferInfo* AllocAndAnnounceBuffer(size_t iSize, void* pPrivate);
    CBufferInfo* AnnounceCompositeBuffer(size_t iNumSegments, void** ppSegments,
                                         const size_t* piSizes, void* pPrivate);
    void RevokeBuffer(ICommonBase* hBuffer, void** ppBuffer, void** ppPrivate);
    void QueueBuffer(ICommonBase* hBuffer);
    void FlushQueue(ACQ_QUEUE_TYPE iOperation);
    CBufferInfo* BufferByIndex(uint32_t iIndex);
    size_t NumAnnounced();

    // Acquisition.
    void StartAcquisition(uint64_t iNumToAcquire);
    // Failures of the library become error events; only the state check throws.
    void StopAcquisition();
    // DSClose: stops the acquisition and ends every wait on the new-buffer
    // event; later calls on this object fail as on an unknown handle.
    void Close();
    bool IsAcquiring() const { return m_acquiring; }

    void GetInfo(STREAM_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer, size_t* piSize);

    // Buffer information.
    uint64_t IncompleteDelivered() const { return m_incompleteDelivered; }
    // Filled buffers the handling mode took back before the consumer had them.
    uint64_t Discarded() const { return m_discarded; }
    void GetBufferInfo(ICommonBase* hBuffer, BUFFER_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                       void* pBuffer, size_t* piSize);
    // The chunk walk of a delivered buffer; returned, not thrown (with the last error).
    GC_ERROR GetBufferChunkData(ICommonBase* hBuffer, SINGLE_CHUNK_DATA* pChunkData,
                                size_t* piNumChunks);
    uint32_t NumBufferSegments(ICommonBase* hBuffer);
    void GetBufferSegmentInfo(ICommonBase* hBuffer, uint32_t iSegmentIndex,
                              SEGMENT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                              size_t* piSize);
    // Multi-part buffers: 0 parts for any other buffer, whose part info is then
    // an invalid index.
    uint32_t NumBufferParts(ICommonBase* hBuffer);
    void GetBufferPartInfo(ICommonBase* hBuffer, uint32_t iPartIndex, BUFFER_PART_INFO_CMD iInfoCmd,
                           INFO_DATATYPE* piType, void* pBuffer, size_t* piSize);
    // GenDC: the camera's flow table and descriptor; no_data_exception without GenDC.
    uint32_t NumFlows();
    void GetFlowInfo(uint32_t iFlowIndex, FLOW_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                     void* pBuffer, size_t* piSize);
    // The camera's descriptor, read whole in one go.
    std::vector<uint8_t> GenDCDescriptor();

    // The new-buffer event's side: waits for the head of the output queue
    // and hands it out as 16 bytes of event data. False without data (time-out,
    // kill, or a size query); abort_exception when the stream closes meanwhile.
    bool WaitForNewBuffer(void* pBuffer, size_t* piSize, uint64_t iTimeout);
    // Wakes the waiter; its wait ends without data.
    void Kill();
    size_t AwaitingDelivery();
    EVENT_TYPE RequestedEventType() const { return m_requestedEventType; }

    const std::string& ID() const { return m_id; }
    std::string DisplayName() const { return "Stream " + m_id; }
    CEventError& ErrorEvent() { return *m_errorEvent; }
    uint64_t DeliveredCount() const { return m_delivered; }

private:
    // The buffer record behind a handle; invalid parameter (`format` with the
    // handle) when it is none.
    static CBufferInfo* AsBufferRecord(ICommonBase* hBuffer, const char* format);
    void BuildRegisterMap();
    static void OnRead(uint64_t address, uint32_t* value, void* context);
    static void OnWrite(uint64_t address, uint32_t* value, void* context);
    void WriteChannelField(uint64_t address, uint32_t value);
    uint32_t ReadChannelField(uint64_t address);
    uint32_t RunPacketSizeTest(bool fromRegister);
    uint32_t ReadPacketSize();
    void SwitchFilterDriver(uint32_t value);

    CBufferInfo* Announce(std::unique_ptr<CBufferInfo> record, bool reportRingFailure);
    CBufferInfo* AnnouncedRecord(ICommonBase* hBuffer, const char* notAnnouncedText);
    // Gives the library the announced buffers, in order, for the ring of the next start.
    void PrepareUserRing();
    // The size of the library's ring slots for the next start.
    uint32_t RingPayloadSize();
    // Queue lock held: the buffer goes back to the input pool (and its slot to the receiver).
    void Requeue(CBufferInfo* buffer);
    // Queue lock held: the buffer the next copied image goes into, or null.
    CBufferInfo* BufferToFill();
    // Queue lock held, after a delivery: the handling mode takes older buffers back.
    void ApplyHandlingMode();
    void SetHandlingMode(uint32_t mode);
    // The 64-bit counter behind a counter register (its low word's address).
    uint64_t CounterValue(uint64_t address);
    // Payload size: the camera's PayloadSize, read at the open and at each
    // start; while that is unknown, the largest announced buffer.
    void RefreshPayloadSize();
    // m_announcedLock held.
    uint64_t LargestAnnouncedLocked() const;
    void PublishPayloadSize(uint64_t size);

    void DeliveryLoop();
    // Ends the acquisition's waits and tells the stream's and the device's error events.
    void OnDeviceLost();
    // The stop itself, with m_lifeLock held.
    void StopLocked();
    // Throws the unknown-handle failure once DSClose ran.
    void CheckOpen() const;
    // Copy mode: a buffer from the input pool, filled with the waiting image.
    void DeliverCopy();
    // Zero-copy mode: the buffer of the filled ring slot goes to the output queue.
    void DeliverSlot();
    // Queue lock held: the buffer, filled, goes to the output queue.
    void Publish(CBufferInfo* buffer, const Vantor::GevImageInfo& info,
                 const Vantor::GevImageExtent& extent, bool incomplete);
    // Queue lock held, zero-copy while acquiring: takes the buffer's slot back from
    // the receiver. False when the receiver holds it: the buffer is being filled.
    bool WithdrawFromEngine(CBufferInfo* buffer);
    void Pause(std::chrono::milliseconds period);
    void Report(const std::string& text, uint16_t status);

    // Counters of the acquisitions since the stream was opened: those of the
    // finished ones, plus the library's of the running one.
    struct FrameCounters {
        uint64_t started = 0, underrun = 0, lost = 0;
    };
    FrameCounters Counters();
    // At a stop: the library's counters join those of the finished acquisitions.
    void CloseCounters();

    std::deque<CBufferInfo*> m_outputQueue;
    static constexpr uint64_t kDefaultPayloadSize = 76800;  // before the camera or a buffer tells
    std::atomic<uint64_t> m_payloadSize{kDefaultPayloadSize};
    std::atomic<bool> m_cameraPayloadKnown{false};  // m_payloadSize is the camera's
    std::atomic<bool> m_userBufferMode{false};
    std::atomic<bool> m_acquiring{false};
    uint32_t m_streamIndex = 0;
    CDevice* m_device;
    // Held so that the camera's connection outlives this stream's channel: a
    // call may hold the stream after DevClose.
    std::shared_ptr<CDevice> m_deviceRef;
    uint8_t m_handle;
    std::vector<std::shared_ptr<CBufferInfo>> m_announced;
    std::mutex m_announcedLock;  // the list itself; the records' places follow the queue lock
    std::deque<CBufferInfo*> m_inputPool;
    std::mutex m_queueLock;
    std::condition_variable m_inputCondition;   // the pool changed, or the acquisition stops
    std::condition_variable m_outputCondition;  // the output queue changed, a kill, the close
    std::thread m_deliveryThread;               // started and joined under m_lifeLock
    std::mutex m_lifeLock;
    std::atomic<bool> m_closed{false};  // set under m_lifeLock
    std::atomic<uint64_t> m_delivered{0};
    std::atomic<uint64_t> m_incompleteDelivered{0};
    std::atomic<uint64_t> m_discarded{0};
    std::atomic<uint32_t> m_handlingMode{kOldestFirst};
    // The counter whose low word was read last: its high word comes from the same value.
    uint64_t m_counterSnapshot = 0;
    uint64_t m_snapshotAddress = 0;  // 0: none to complete
    std::mutex m_counterLock;
    FrameCounters m_closedCounters;  // under m_queueLock
    bool m_countersLive = false;  // the library counts for a running acquisition; under m_queueLock
    uint64_t m_tickFrequency = 0;  // the camera's time-stamp ticks per second, 0 unknown
    std::atomic<uint32_t> m_framesRemaining{0};
    std::string m_id;
    bool m_killed = false;  // under m_queueLock
    // The camera stopped answering during the acquisition; under m_queueLock.
    bool m_deviceLost = false;
    std::unique_ptr<CDataStreamEventNewBuffer> m_newBufferEvent;
    std::unique_ptr<CEventError> m_errorEvent;
    uint32_t m_packetSize = 0;
    uint32_t m_packetResend = 0;  // the setting last accepted by the library
    EVENT_TYPE m_requestedEventType = 0;
    std::vector<uint8_t> m_flowTable;
    std::vector<uint64_t> m_flowSizes;
    // Consumer threads waiting for a new buffer, and set once destruction began; under
    // m_queueLock.
    size_t m_waiters = 0;
    bool m_closing = false;
};

}  // namespace GenTL
