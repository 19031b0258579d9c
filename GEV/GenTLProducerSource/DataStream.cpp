// The data stream's life, its buffers and queues, and the acquisition with
// its delivery thread. The register map and port are in
// DataStreamRegisters.cpp, the buffer queries in DataStreamBufferInfo.cpp.
#include "DataStream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "Clock.h"
#include "DebugOutput.h"
#include "Device.h"
#include "ErrorReport.h"
#include "Exceptions.h"
#include "FilterDriver.h"
#include "LibraryController.h"
#include "StringFormat.h"

namespace GenTL {

using Platform::Format;

namespace {

constexpr uint64_t kInitialRegisterSlots = 100;
// After a library failure other than "no image yet", before the next try.
constexpr auto kFailurePause = std::chrono::milliseconds(100);

// The decimal number after the first two characters of a stream ID, 0 without one.
uint32_t StreamIndexOf(const std::string& id) {
    if (id.size() <= 2) return 0;
    return static_cast<uint32_t>(std::strtoul(id.c_str() + 2, nullptr, 10));
}

template <class List>
bool RemoveFrom(List& list, const CBufferInfo* buffer) {
    auto it = std::find(list.begin(), list.end(), buffer);
    if (it == list.end()) return false;
    list.erase(it);
    return true;
}

}  // namespace

CDataStream::CDataStream(std::shared_ptr<CDevice> device, const std::string& requestedID)
    : CRegisterMapModule(kInitialRegisterSlots),
      m_streamIndex(StreamIndexOf(requestedID)),
      m_device(device.get()),
      m_deviceRef(device),
      m_handle(device->Handle()),
      m_newBufferEvent(new CDataStreamEventNewBuffer(this)),
      m_errorEvent(new CEventError()) {
    const Vantor::GevStatus status =
        Vantor::GEVOpenStreamChannel(m_handle, device->HostAddress(), 0, 0);
    if (status != Vantor::kGevOk)
        throw std::runtime_error(Format("Unable to open stream channel. Error %04X", status));
    try {
        Vantor::GEVSetPacketResend(m_handle, false);
        m_tickFrequency = device->TickFrequency();
        m_packetSize = RunPacketSizeTest(false);
        m_id = "DS" + std::to_string(m_streamIndex);
        BuildRegisterMap();
        RefreshPayloadSize();
    } catch (...) {
        Vantor::GEVCloseStreamChannel(m_handle);
        throw;
    }
}

CDataStream::~CDataStream() {
    if (m_acquiring) {
        try {
            StopLocked();
        } catch (...) {
        }
    }
    // A thread that ended by itself (all frames delivered) is joined here.
    if (m_deliveryThread.joinable()) m_deliveryThread.join();
    if (m_registerMap.Peek(kRegFilterDriver) == 1) Vantor::GEVDisableFilterDriver(m_handle);
    Vantor::GEVCloseStreamChannel(m_handle);
    {
        // Waiters leave without data before the queues and records go.
        std::unique_lock<std::mutex> lock(m_queueLock);
        m_closing = true;
        m_outputCondition.notify_all();
        m_outputCondition.wait(lock, [&] { return m_waiters == 0; });
        m_outputQueue.clear();
        m_inputPool.clear();
    }
    const bool hadUserRing = m_userBufferMode && !m_announced.empty();
    {
        std::lock_guard<std::mutex> guard(m_announcedLock);
        m_announced.clear();  // each record takes its handle out of the registry
    }
    if (hadUserRing) Vantor::GEVReleaseRingBuffer(m_handle);
    CLibraryController::Instance().ForgetModule(this);
}

ICommonBase* CDataStream::GetParent() {
    return m_device;
}

void CDataStream::Report(const std::string& text, uint16_t status) {
    ReportError(*m_errorEvent, text, status);
}

// ---- Buffers -----------------------------------------------------------------

CBufferInfo* CDataStream::Announce(std::unique_ptr<CBufferInfo> unique, bool reportRingFailure) {
    // Shared: a call on the buffer holds it, so a revoke on another thread frees
    // it only after that call.
    std::shared_ptr<CBufferInfo> record(std::move(unique));
    CBufferInfo* buffer = record.get();
    std::lock_guard<std::mutex> guard(m_announcedLock);
    m_announced.push_back(record);
    buffer->ringIndex = static_cast<uint16_t>(m_announced.size());
    if (m_userBufferMode) {
        const Vantor::GevStatus status =
            Vantor::GEVSetRingBuffer(m_handle, buffer->ringIndex - 1u, buffer->Memory());
        if (status != Vantor::kGevOk) {
            // Not announced after all: the consumer gets no handle to it.
            m_announced.pop_back();
            if (reportRingFailure) Report("Error GEVSetRingBuffer.", status);
            Platform::DebugOutput("[ERROR] - Can't announce buffer in GEVSetRingBuffer function.");
            throw invalid_buffer_size_exception(
                "Can't announce buffer in GEVSetRingBuffer function.");
        }
    }
    // The camera's own payload size stays whatever buffers come.
    if (!m_cameraPayloadKnown) PublishPayloadSize(LargestAnnouncedLocked());
    m_registerMap.Poke(kRegAnnouncedCount, static_cast<uint32_t>(m_announced.size()));
    CLibraryController::Instance().AddBuffer(this, record);
    return buffer;
}

CBufferInfo* CDataStream::AnnounceBuffer(void* pBuffer, size_t iSize, void* pPrivate) {
    if (m_acquiring) throw busy_exception("The acquisition process is running now.");
    if (pBuffer == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified pBuffer is invalid: pBuffer = 0x%p.", pBuffer));
    }
    return Announce(std::make_unique<CBufferInfo>(this, pBuffer, iSize, pPrivate), false);
}

CBufferInfo* CDataStream::AllocAndAnnounceBuffer(size_t iSize, void* pPrivate) {
    if (m_acquiring) throw busy_exception("Acquisition already started.");
    std::unique_ptr<CBufferInfo> record = CBufferInfo::Allocate(this, iSize, pPrivate);
    // A record without memory would fail every fill; the consumer hears of it now.
    if (!record->OwnsMemory()) throw std::bad_alloc();
    return Announce(std::move(record), true);
}

CBufferInfo* CDataStream::AnnounceCompositeBuffer(size_t iNumSegments, void** ppSegments,
                                                  const size_t* piSizes, void* pPrivate) {
    if (m_acquiring) throw busy_exception("The acquisition process is running now.");
    if (ppSegments == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified ppSegments is invalid: ppSegments = 0x%p.", ppSegments));
    }
    std::vector<void*> segments(ppSegments, ppSegments + iNumSegments);
    std::vector<uint64_t> sizes(piSizes, piSizes + iNumSegments);
    auto record = std::make_unique<CBufferInfo>(this, segments, sizes, pPrivate);
    if (!record->OwnsMemory()) throw std::bad_alloc();
    return Announce(std::move(record), true);
}

CBufferInfo* CDataStream::AnnouncedRecord(ICommonBase* hBuffer, const char* notAnnouncedText) {
    auto* buffer = dynamic_cast<CBufferInfo*>(hBuffer);
    if (buffer == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified pB is not a nullptr but invalid: pB = 0x%p.", hBuffer));
    }
    std::lock_guard<std::mutex> guard(m_announcedLock);
    for (const auto& record : m_announced)
        if (record.get() == buffer) return buffer;
    throw invalid_parameter_exception(notAnnouncedText);
}

void CDataStream::RevokeBuffer(ICommonBase* hBuffer, void** ppBuffer, void** ppPrivate) {
    if (m_acquiring) throw busy_exception("The acquisition process is running now.");
    CBufferInfo* buffer = AnnouncedRecord(hBuffer, "Invalid Buffer Handle");
    std::lock_guard<std::mutex> announcedGuard(m_announcedLock);
    auto announced = std::find_if(m_announced.begin(), m_announced.end(),
                                  [&](const auto& record) { return record.get() == buffer; });
    // Revoked meanwhile by another thread.
    if (announced == m_announced.end()) throw invalid_parameter_exception("Invalid Buffer Handle");
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        if (!buffer->CanRevoke()) throw busy_exception("Buffer queued.");
    }
    if (ppBuffer != nullptr) *ppBuffer = buffer->OwnsMemory() ? nullptr : buffer->Memory();
    if (ppPrivate != nullptr) *ppPrivate = buffer->PrivateData();
    m_announced.erase(announced);
    m_registerMap.Poke(kRegAnnouncedCount, static_cast<uint32_t>(m_announced.size()));
    if (m_userBufferMode && m_announced.empty()) {
        const Vantor::GevStatus status = Vantor::GEVReleaseRingBuffer(m_handle);
        if (status != Vantor::kGevOk) {
            Platform::DebugOutput(
                "[ERROR] - Can't revoke buffer in GEVReleaseRingBuffer function.");
            throw invalid_buffer_size_exception(
                "Can't revoke buffer in GEVReleaseRingBuffer function.");
        }
    }
}

void CDataStream::QueueBuffer(ICommonBase* hBuffer) {
    CBufferInfo* buffer = AnnouncedRecord(hBuffer, "Invalid Buffer Handle");
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        // In the input pool, or taken by the engine to be filled: nothing to do.
        if (buffer->Place() == BufferPlace::InputPool || buffer->Place() == BufferPlace::Filling)
            return;
        // Before the start the pool alone counts: the start gives the library its slots.
        if (m_userBufferMode && m_acquiring) {
            // Under the queue lock: the delivery thread cannot see the slot's
            // image before the buffer is in the pool. A slot the library
            // still holds (0xC020) is already where it should be.
            const Vantor::GevStatus status =
                Vantor::GEVQueueRingBuffer(m_handle, buffer->ringIndex - 1u);
            if (status != Vantor::kGevOk && status != Vantor::kGevNotSupported) {
                Platform::DebugOutput(
                    "[ERROR] - Can't queue buffer in GEVQueueRingBuffer function.");
                throw invalid_buffer_size_exception(
                    "Can't queue buffer in GEVQueueRingBuffer function.");
            }
        }
        // Queued again before the consumer took it: it leaves the output queue.
        if (buffer->Place() == BufferPlace::OutputQueue) RemoveFrom(m_outputQueue, buffer);
        buffer->OnQueued();
        m_inputPool.push_back(buffer);
    }
    m_inputCondition.notify_all();
}

void CDataStream::Requeue(CBufferInfo* buffer) {
    buffer->OnQueued();
    m_inputPool.push_back(buffer);
    if (m_userBufferMode && m_acquiring)
        Vantor::GEVQueueRingBuffer(m_handle, buffer->ringIndex - 1u);
}

bool CDataStream::WithdrawFromEngine(CBufferInfo* buffer) {
    if (!m_userBufferMode || !m_acquiring) return true;
    const Vantor::GevStatus status =
        Vantor::GEVWithdrawRingBuffer(m_handle, buffer->ringIndex - 1u);
    if (status != Vantor::kGevRingSlotBusy) return true;
    // The receiver is filling it (or has filled it): it stays with the engine and
    // reaches the output queue when its image is handed out.
    buffer->OnTaken();
    return false;
}

void CDataStream::FlushQueue(ACQ_QUEUE_TYPE iOperation) {
    if (iOperation < ACQ_QUEUE_INPUT_TO_OUTPUT || iOperation > ACQ_QUEUE_ALL_DISCARD)
        throw invalid_parameter_exception("Specified iOperation is invalid.");
    std::lock_guard<std::mutex> announcedGuard(m_announcedLock);
    std::lock_guard<std::mutex> guard(m_queueLock);
    auto toInput = [this](CBufferInfo* buffer) { Requeue(buffer); };
    auto heldByConsumer = [&](auto&& action) {
        for (const auto& record : m_announced)
            if (record->Place() == BufferPlace::Consumer) action(record.get());
    };
    // Buffers being filled are not the pool's: no flush moves them.
    switch (iOperation) {
        case ACQ_QUEUE_INPUT_TO_OUTPUT:
            for (CBufferInfo* buffer : m_inputPool) {
                if (!WithdrawFromEngine(buffer)) continue;
                buffer->OnFlushedToOutput();
                m_outputQueue.push_back(buffer);
            }
            m_inputPool.clear();
            m_outputCondition.notify_all();
            break;
        case ACQ_QUEUE_OUTPUT_DISCARD:
            for (CBufferInfo* buffer : m_outputQueue) buffer->OnDiscarded();
            m_outputQueue.clear();
            break;
        case ACQ_QUEUE_ALL_TO_INPUT:
            for (CBufferInfo* buffer : m_outputQueue) toInput(buffer);
            m_outputQueue.clear();
            heldByConsumer(toInput);
            break;
        case ACQ_QUEUE_UNQUEUED_TO_INPUT:
            heldByConsumer(toInput);
            break;
        case ACQ_QUEUE_ALL_DISCARD:
            for (CBufferInfo* buffer : m_inputPool)
                if (WithdrawFromEngine(buffer)) buffer->OnDiscarded();
            m_inputPool.clear();
            for (CBufferInfo* buffer : m_outputQueue) buffer->OnDiscarded();
            m_outputQueue.clear();
            break;
    }
    m_inputCondition.notify_all();
}

CBufferInfo* CDataStream::BufferByIndex(uint32_t iIndex) {
    std::lock_guard<std::mutex> guard(m_announcedLock);
    if (iIndex >= m_announced.size())
        throw invalid_index_exception(Format("Invalid Buffer Index %d", iIndex));
    return m_announced[iIndex].get();
}

size_t CDataStream::NumAnnounced() {
    std::lock_guard<std::mutex> guard(m_announcedLock);
    return m_announced.size();
}

// ---- Acquisition -----------------------------------------------------------

uint32_t CDataStream::RingPayloadSize() {
    // Zero-copy slots are the buffers: the smallest bounds every write, and a
    // larger image is cut and said to be. A copy goes into any buffer: the
    // largest holds whole images, and a smaller one is told what it missed.
    std::lock_guard<std::mutex> guard(m_announcedLock);
    uint64_t size = 0;
    for (const auto& record : m_announced) {
        if (size == 0) size = record->Size();
        size = m_userBufferMode ? std::min(size, record->Size()) : std::max(size, record->Size());
    }
    if (size == 0) size = m_payloadSize;
    return static_cast<uint32_t>(std::min<uint64_t>(size, 0xFFFFFFFFu));
}

void CDataStream::PrepareUserRing() {
    // The library's ring is rebuilt from the announced list as it stands, so a
    // revoked buffer's memory is never written and every slot n is buffer n.
    std::lock_guard<std::mutex> announcedGuard(m_announcedLock);
    Vantor::GEVReleaseRingBuffer(m_handle);
    uint16_t index = 0;
    for (const auto& record : m_announced) {
        record->ringIndex = ++index;
        const Vantor::GevStatus status =
            Vantor::GEVSetRingBuffer(m_handle, record->ringIndex - 1u, record->Memory());
        if (status != Vantor::kGevOk) {
            Report("Error GEVSetRingBuffer.", status);
            throw invalid_buffer_size_exception(
                "Can't announce buffer in GEVSetRingBuffer function.");
        }
    }
    // Only what the consumer queued is free for the receiver at the start.
    std::lock_guard<std::mutex> guard(m_queueLock);
    for (CBufferInfo* buffer : m_inputPool)
        Vantor::GEVQueueRingBuffer(m_handle, buffer->ringIndex - 1u);
}

void CDataStream::Close() {
    std::lock_guard<std::mutex> life(m_lifeLock);
    if (m_closed) return;
    m_closed = true;
    if (m_acquiring) StopLocked();
    // Waits on the new-buffer event end now, with GC_ERR_ABORT.
    std::lock_guard<std::mutex> guard(m_queueLock);
    m_closing = true;
    m_outputCondition.notify_all();
}

void CDataStream::CheckOpen() const {
    if (m_closed) {
        throw invalid_handle_exception(
            Format("The specified data stream hDataStream not found: hDataStream = 0x%p.",
                   static_cast<const ICommonBase*>(this)));
    }
}

void CDataStream::StartAcquisition(uint64_t iNumToAcquire) {
    // Starts, stops and the close run one at a time: a second start must find
    // the first one's thread running, not replace it.
    std::lock_guard<std::mutex> life(m_lifeLock);
    CheckOpen();
    if (m_acquiring) throw resource_in_use_exception("Acquisition already started.");
    // A thread that ended by itself after its last frame.
    if (m_deliveryThread.joinable()) m_deliveryThread.join();
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        m_killed = false;
        m_deviceLost = false;
    }
    if (m_newBufferEvent->IsRegistered()) m_newBufferEvent->ClearKilled();
    RefreshPayloadSize();
    const uint32_t frames =
        iNumToAcquire < kUnlimited ? static_cast<uint32_t>(iNumToAcquire) : kUnlimited;
    if (m_userBufferMode)
        PrepareUserRing();
    else
        // Buffers announced while zero-copy was on must not become the copy ring's slots.
        Vantor::GEVReleaseRingBuffer(m_handle);
    m_framesRemaining = frames;
    m_registerMap.Poke(kRegFramesToAcquire, frames);
    const Vantor::GevStatus status =
        Vantor::GEVAcquisitionStartEx(m_handle, frames, RingPayloadSize(), 0, 0, 0);
    if (status != Vantor::kGevOk) {
        // Nothing runs: the consumer hears it from this call, not only from the event.
        Report("Error GEVAcquisitionStartEx.", status);
        throw std::runtime_error(
            Format("Error GEVAcquisitionStartEx. Error Code: 0x%x", static_cast<unsigned>(status)));
    }
    if (m_userBufferMode) Platform::DebugOutput("[INFO] - Use user buffer.");
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        m_countersLive = true;
        m_acquiring = true;
        // A buffer queued on another thread since the ring was prepared: its slot
        // is free too (one already free answers 0xC020 and stays as it is).
        if (m_userBufferMode)
            for (CBufferInfo* buffer : m_inputPool)
                Vantor::GEVQueueRingBuffer(m_handle, buffer->ringIndex - 1u);
    }
    // Grabbing from the moment the start returns, not from when the thread runs.
    m_registerMap.Poke(kRegGrabbing, 1);
    try {
        m_deliveryThread = std::thread(&CDataStream::DeliveryLoop, this);
    } catch (...) {
        StopLocked();
        throw;
    }
}

void CDataStream::StopAcquisition() {
    std::lock_guard<std::mutex> life(m_lifeLock);
    StopLocked();
}

void CDataStream::StopLocked() {
    if (!m_acquiring) {
        throw resource_in_use_exception(
            "The acquisition has already been terminated or it has not been started.");
    }
    {
        // Under the lock, so the delivery thread cannot miss it between check and wait.
        std::lock_guard<std::mutex> guard(m_queueLock);
        m_acquiring = false;
    }
    m_inputCondition.notify_all();
    Vantor::GevChannelParameters parameters{};
    Vantor::GevStatus status = Vantor::GEVGetChannelParameter(m_handle, &parameters);
    if (status != Vantor::kGevOk) Report("Error GEVGetChannelParameter.", status);
    const Vantor::GevStatus stopStatus = Vantor::GEVAcquisitionStop(m_handle);
    if (stopStatus != Vantor::kGevOk) Report("Error GEVAcquisitionStop.", stopStatus);
    if (status == Vantor::kGevOk) {
        status = Vantor::GEVSetChannelParameter(m_handle, &parameters);
        if (status != Vantor::kGevOk) Report("Error GEVSetChannelParameter.", status);
    }
    if (m_deliveryThread.joinable()) m_deliveryThread.join();
    CloseCounters();
    {
        // Buffers the receiver still held when it stopped were never filled: back to the pool.
        std::lock_guard<std::mutex> announcedGuard(m_announcedLock);
        std::lock_guard<std::mutex> guard(m_queueLock);
        for (const auto& record : m_announced) {
            if (record->Place() != BufferPlace::Filling) continue;
            record->OnReturned();
            m_inputPool.push_back(record.get());
        }
    }
    m_registerMap.Poke(kRegGrabbing, 0);
}

CDataStream::FrameCounters CDataStream::Counters() {
    std::lock_guard<std::mutex> guard(m_queueLock);
    FrameCounters counters = m_closedCounters;
    if (m_countersLive) {
        Vantor::GevStreamStatistics statistics{};
        if (Vantor::GEVGetStreamStatistics(m_handle, &statistics) == Vantor::kGevOk) {
            counters.started += statistics.framesStarted;
            counters.underrun += statistics.underrunFrames;
            counters.lost += statistics.lostFrames;
        }
    }
    return counters;
}

void CDataStream::CloseCounters() {
    const FrameCounters total = Counters();
    std::lock_guard<std::mutex> guard(m_queueLock);
    m_closedCounters = total;
    m_countersLive = false;
}

// ---- Delivery thread -------------------------------------------------------

void CDataStream::DeliveryLoop() {
    Vantor::GevStatus lastFailure = Vantor::kGevOk;
    while (m_acquiring && m_framesRemaining != 0) {
        try {
            const Vantor::GevStatus status = Vantor::GEVWaitForImage(m_handle);
            if (status != Vantor::kGevOk && Vantor::GEVIsDeviceLost(m_handle)) {
                OnDeviceLost();
                break;
            }
            // The receiver reached its frame limit and everything went out.
            if (status == Vantor::kGevAcquisitionEnded) break;
            if (status == Vantor::kGevTimeout) continue;
            if (status != Vantor::kGevOk) {
                // No image and no time-out: the failure is told once, not at every try.
                if (status != lastFailure && m_acquiring)
                    Report("Error GEVGetImageBuffer.", status);
                lastFailure = status;
                Pause(kFailurePause);
                continue;
            }
            lastFailure = Vantor::kGevOk;
            if (m_userBufferMode)
                DeliverSlot();
            else
                DeliverCopy();
        } catch (const std::exception& e) {
            // Nothing may end the acquisition unseen: the consumer hears of it.
            m_errorEvent->Report(GC_ERR_ERROR, e.what());
            Pause(kFailurePause);
        }
    }
    // An acquisition that ended by itself is no longer grabbing; a stop says so too.
    m_registerMap.Poke(kRegGrabbing, 0);
}

void CDataStream::OnDeviceLost() {
    const std::string text =
        "The device was lost: it answered nothing for longer than its heartbeat time-out.";
    // Told before the waits end: a consumer woken by the loss sees it everywhere.
    m_registerMap.Poke(kRegGrabbing, 0);
    // The device's own error event heard it from the heartbeat already.
    m_errorEvent->Report(GC_ERR_ERROR, text);
    std::lock_guard<std::mutex> guard(m_queueLock);
    m_deviceLost = true;
    m_outputCondition.notify_all();
}

void CDataStream::Pause(std::chrono::milliseconds period) {
    std::unique_lock<std::mutex> lock(m_queueLock);
    m_inputCondition.wait_for(lock, period, [&] { return !m_acquiring; });
}

void CDataStream::DeliverCopy() {
    // An image waits in the library: it stays there until a buffer is free for it,
    // one the consumer queued or, as the handling mode allows, a filled one still
    // waiting (the library drops newer frames, counted, when its ring is full).
    CBufferInfo* buffer = nullptr;
    uint8_t* memory = nullptr;
    {
        std::unique_lock<std::mutex> lock(m_queueLock);
        m_inputCondition.wait(lock,
                              [&] { return !m_acquiring || (buffer = BufferToFill()) != nullptr; });
        if (!m_acquiring) return;
        memory = buffer->Memory();
    }
    Vantor::GevImageInfo info{};
    Vantor::GevImageExtent extent{};
    // Filling: no flush moves the buffer and no revoke frees it until it is settled.
    const Vantor::GevStatus status =
        Vantor::GEVGetImageBufferEx(m_handle, &info, &extent, memory, buffer->Size());
    const bool incomplete = status == Vantor::kGevImageIncomplete;
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        if (status == Vantor::kGevOk || incomplete) {
            Publish(buffer, info, extent, incomplete);
        } else {
            buffer->OnReturned();
            m_inputPool.push_front(buffer);
        }
    }
    m_inputCondition.notify_all();
    if (incomplete) Report("Error GEVGetImageBuffer.", status);
}

void CDataStream::DeliverSlot() {
    Vantor::GevImageInfo info{};
    Vantor::GevImageExtent extent{};
    uint16_t slot = 0;
    const Vantor::GevStatus status =
        Vantor::GEVGetRingBufferImageEx(m_handle, &info, &extent, &slot);
    const bool incomplete = status == Vantor::kGevImageIncomplete;
    if (status != Vantor::kGevOk && !incomplete) return;
    {
        std::lock_guard<std::mutex> announcedGuard(m_announcedLock);
        std::lock_guard<std::mutex> guard(m_queueLock);
        CBufferInfo* buffer = nullptr;
        for (const auto& record : m_announced)
            if (record->ringIndex == slot + 1u) buffer = record.get();
        if (buffer == nullptr) {
            // A slot of the library's own (a ring larger than the announced list):
            // it is told and given back, and delivery goes on.
            m_errorEvent->Report(GC_ERR_INVALID_HANDLE, "Invalid Buffer Handle");
            Vantor::GEVQueueRingBuffer(m_handle, slot);
            return;
        }
        if (buffer->Place() == BufferPlace::InputPool) {
            RemoveFrom(m_inputPool, buffer);
        } else if (buffer->Place() != BufferPlace::Filling) {
            // The receiver may only fill what sits in the pool: were it ever to fill
            // a buffer the consumer holds, the frame is not delivered and the slot
            // stays back until the buffer is queued again.
            m_errorEvent->Report(GC_ERR_ERROR, "Image in a buffer that was not queued dropped.");
            return;
        }
        Publish(buffer, info, extent, incomplete);
    }
    if (incomplete) Report("Error GEVGetImageBuffer.", status);
}

void CDataStream::Publish(CBufferInfo* buffer, const Vantor::GevImageInfo& info,
                          const Vantor::GevImageExtent& extent, bool incomplete) {
    buffer->Deliver(info, extent, incomplete, m_tickFrequency);
    buffer->OnDelivered();
    ++m_delivered;
    if (incomplete) ++m_incompleteDelivered;
    if (m_framesRemaining != kUnlimited && m_framesRemaining != 0) --m_framesRemaining;
    m_outputQueue.push_back(buffer);
    ApplyHandlingMode();
    m_outputCondition.notify_all();
}

CBufferInfo* CDataStream::BufferToFill() {
    CBufferInfo* buffer = nullptr;
    if (!m_inputPool.empty()) {
        buffer = m_inputPool.front();
        m_inputPool.pop_front();
    } else if (m_handlingMode != kOldestFirst && !m_outputQueue.empty()) {
        // No queued buffer: the oldest filled one waiting is refilled, its frame
        // never handed out.
        buffer = m_outputQueue.front();
        m_outputQueue.pop_front();
        if (buffer->newData) ++m_discarded;
        buffer->OnQueued();
    } else {
        return nullptr;
    }
    buffer->OnTaken();
    return buffer;
}

void CDataStream::ApplyHandlingMode() {
    auto takeBackOldest = [&] {
        CBufferInfo* oldest = m_outputQueue.front();
        m_outputQueue.pop_front();
        if (oldest->newData) ++m_discarded;
        Requeue(oldest);
    };
    if (m_handlingMode == kNewestOnly) {
        while (m_outputQueue.size() > 1) takeBackOldest();
    } else if (m_handlingMode == kOldestFirstOverwrite && m_userBufferMode && m_inputPool.empty() &&
               m_outputQueue.size() > 1) {
        // Zero-copy: the receiver fills only slots it was given, so the oldest
        // waiting buffer goes back before the next frame finds none. The newest
        // stays for the consumer.
        takeBackOldest();
    }
    m_inputCondition.notify_all();
}

void CDataStream::SetHandlingMode(uint32_t mode) {
    if (mode != kOldestFirst && mode != kOldestFirstOverwrite && mode != kNewestOnly)
        throw invalid_parameter_exception(Format("Invalid buffer handling mode %u.", mode));
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        m_handlingMode = mode;
        // Buffers that already wait follow the new mode at once.
        if (!m_outputQueue.empty()) ApplyHandlingMode();
    }
    m_inputCondition.notify_all();
}

// ---- The new-buffer event's side ---------------------------------------------

bool CDataStream::WaitForNewBuffer(void* pBuffer, size_t* piSize, uint64_t iTimeout) {
    CBufferInfo* buffer = nullptr;
    {
        std::unique_lock<std::mutex> lock(m_queueLock);
        ++m_waiters;
        struct Leave {
            CDataStream& stream;
            ~Leave() {
                if (--stream.m_waiters == 0 && stream.m_closing)
                    stream.m_outputCondition.notify_all();
            }
        } leave{*this};
        auto ready = [&] {
            return !m_outputQueue.empty() || m_killed || m_closing || m_deviceLost;
        };
        if (!ready()) {
            if (iTimeout >= kLongestTimedWaitMs) {
                m_outputCondition.wait(lock, ready);
            } else {
                m_outputCondition.wait_for(
                    lock, std::chrono::milliseconds(static_cast<int64_t>(iTimeout)), ready);
            }
        }
        // Thrown, not returned: the caller must not touch the stream's event
        // object once this wait has left, as the stream is going.
        if (m_closing) throw abort_exception("The data stream was closed during the wait.");
        // What was delivered before the loss is still handed out, then every wait ends.
        if (!m_killed && m_outputQueue.empty() && m_deviceLost)
            throw abort_exception("The device was lost: no more buffers will come.");
        if (m_killed || m_outputQueue.empty()) {
            // One kill ends one wait, whether or not a buffer waits too: it stays queued.
            m_killed = false;
            return false;
        }
        if (pBuffer == nullptr) {
            // A size query: the buffer stays queued.
            *piSize = CDataStreamEventNewBuffer::kDataSize;
            return false;
        }
        if (*piSize < CDataStreamEventNewBuffer::kDataSize)
            throw buffer_too_small_exception("Buffer to small");
        buffer = m_outputQueue.front();
        if (buffer == nullptr) throw std::invalid_argument("Invalid Buffer Handle");
        m_outputQueue.pop_front();
        // The buffer changes hands under the same lock that took it off the
        // queue: no queueing or flush can see it half-way.
        if (buffer->composite) {
            const uint8_t* from = buffer->Memory();
            for (size_t i = 0; i < buffer->segmentAddresses.size(); ++i) {
                if (buffer->segmentAddresses[i] != nullptr)
                    std::memcpy(buffer->segmentAddresses[i], from, buffer->segmentSizes[i]);
                from += buffer->segmentSizes[i];
            }
        }
        buffer->OnEventData();
    }
    void* handle = ToHandle(buffer);
    void* privateData = buffer->PrivateData();
    auto* bytes = static_cast<uint8_t*>(pBuffer);
    std::memcpy(bytes, &handle, sizeof handle);
    std::memcpy(bytes + 8, &privateData, sizeof privateData);
    *piSize = CDataStreamEventNewBuffer::kDataSize;
    return true;
}

void CDataStream::Kill() {
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        m_killed = true;
    }
    m_outputCondition.notify_all();
}

size_t CDataStream::AwaitingDelivery() {
    std::lock_guard<std::mutex> guard(m_queueLock);
    return m_outputQueue.size();
}

}  // namespace GenTL
