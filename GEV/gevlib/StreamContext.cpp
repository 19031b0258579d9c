#include "StreamContext.h"

#include <algorithm>

namespace Vantor {

void SlotList::Append(GevBufferDescriptor* slot) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_slots.push_back(slot);
}

GevBufferDescriptor* SlotList::TakeHead() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_slots.empty()) return nullptr;
    GevBufferDescriptor* slot = m_slots.front();
    m_slots.pop_front();
    return slot;
}

void SlotList::PutBackAtHead(GevBufferDescriptor* slot) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_slots.push_front(slot);
}

bool SlotList::Remove(GevBufferDescriptor* slot) {
    std::lock_guard<std::mutex> guard(m_lock);
    auto it = std::find(m_slots.begin(), m_slots.end(), slot);
    if (it == m_slots.end()) return false;
    m_slots.erase(it);
    return true;
}

size_t SlotList::Count() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_slots.size();
}

void SlotList::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_slots.clear();
}

void FrameRateMeter::Reset(int64_t tickFrequency) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_started = false;
    m_startTicks = m_elapsedTicks = m_lastTicks = 0;
    m_frameCounter = m_lastFrames = 0;
    m_tickFrequency = tickFrequency > 0 ? tickFrequency : 1;
}

void FrameRateMeter::Update(int64_t nowTicks) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_started) {
        // The first delivery only starts the clock.
        m_started = true;
        m_startTicks = nowTicks;
        return;
    }
    m_elapsedTicks = nowTicks >= m_startTicks ? nowTicks - m_startTicks : 0;
    ++m_frameCounter;
    if (m_elapsedTicks >= m_tickFrequency) {
        m_lastFrames = m_frameCounter;
        m_lastTicks = m_elapsedTicks;
        m_startTicks = nowTicks;
        m_frameCounter = 0;
    }
}

double FrameRateMeter::Read(bool* stable) const {
    std::lock_guard<std::mutex> guard(m_lock);
    const double frequency = static_cast<double>(m_tickFrequency);
    if (m_lastFrames != 0 && m_lastTicks > 0) {
        *stable = true;
        return m_lastFrames / (m_lastTicks / frequency);
    }
    *stable = false;
    if (m_frameCounter == 0 || m_elapsedTicks <= 0) return 0.0;
    return m_frameCounter / (m_elapsedTicks / frequency);
}

void StreamState::Reset() {
    settings = StreamSettings{};
    assembly = AssemblyState{};
    statistics.Reset();
    ring.clear();
    ringReady = false;
    queued.Clear();
    delivered.Clear();
    packetOffsets.clear();
    {
        std::lock_guard<std::mutex> guard(imageLock);
        imageSignalled = false;
        waitAborted = false;
        receiveEnded = false;
    }
    userBuffers.clear();
    userSlotsQueued.clear();
    bufferCount = 4;
    releaseMode = false;
    frameLimit = 0;
    frameRate = 0.0;
    lastImageInfo = GevImageInfo{};
}

}  // namespace Vantor
