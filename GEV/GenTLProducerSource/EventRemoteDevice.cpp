#include "EventRemoteDevice.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "DebugOutput.h"
#include "Exceptions.h"
#include "InfoCopy.h"
#include "StringFormat.h"

namespace GenTL {

using Platform::Format;

namespace {

constexpr uint32_t kVersionRegister = 0x0000;
constexpr size_t kStandardHeader = 24;  // header and event fields before the data
constexpr size_t kExtendedHeader = 32;

// The event objects by protocol library handle: the feeder's way from a
// message to its device. Entries come and go with the objects.
std::mutex& FeederLock() {
    static std::mutex lock;
    return lock;
}
std::map<uint8_t, CEventRemoteDevice*>& Feeders() {
    static std::map<uint8_t, CEventRemoteDevice*> feeders;
    return feeders;
}

// The wait on this thread that a kill ended last.
thread_local const void* t_abortedWait = nullptr;

std::string Describe(uint16_t id) {
    static const char* const kStandard[] = {"trigger event",
                                            "start of exposure",
                                            "end of exposure",
                                            "stream channel start of transfer",
                                            "stream channel end of transfer",
                                            "primary application switchover has been granted.",
                                            "indicates that the link speed has changed.",
                                            "execution of a Scheduled Action Command was late"};
    if (id >= 0x0002 && id <= 0x0009) return kStandard[id - 2];
    if (id >= 0x8001 && id <= 0x8FFF) return "error event";
    if (id >= 0x9000) return Format("device-specific event: 0x%04X", id);
    return "unknown event";
}

void Put16(std::vector<uint8_t>& record, size_t at, uint16_t value) {
    std::memcpy(&record[at], &value, sizeof value);
}
void Put32(std::vector<uint8_t>& record, size_t at, uint32_t value) {
    std::memcpy(&record[at], &value, sizeof value);
}

}  // namespace

CEventRemoteDevice::CEventRemoteDevice(uint8_t handle) : m_handle(handle) {
    uint32_t version = 0;
    // Unreadable: the extended layout, as for every camera newer than 1.x.
    if (Vantor::GEVReadRegister(handle, kVersionRegister, 1, &version) == Vantor::kGevOk)
        m_gevMajor = static_cast<uint8_t>(version >> 16);
    std::lock_guard<std::mutex> guard(FeederLock());
    Feeders()[handle] = this;
}

CEventRemoteDevice::~CEventRemoteDevice() {
    {
        std::lock_guard<std::mutex> guard(FeederLock());
        auto it = Feeders().find(m_handle);
        if (it != Feeders().end() && it->second == this) Feeders().erase(it);
    }
    std::unique_lock<std::mutex> lock(m_lock);
    m_closing = true;
    m_condition.notify_all();
    m_condition.wait(lock, [this] { return m_waiters == 0; });
}

void CEventRemoteDevice::PrepareFeeders() {
    FeederLock();
    Feeders();
}

void CEventRemoteDevice::MessageHandler(uint8_t handle, const Vantor::GevMessageEvent* event) {
    Platform::DebugOutput(
        Format("[INFO] - Message Channel Device %d -> %s\n", handle, Describe(event->eventId)));
    RemoteDeviceEntry entry = EntryOf(*event);
    std::lock_guard<std::mutex> guard(FeederLock());
    auto it = Feeders().find(handle);
    if (it != Feeders().end()) it->second->Push(std::move(entry));
}

RemoteDeviceEntry CEventRemoteDevice::EntryOf(const Vantor::GevMessageEvent& event) {
    RemoteDeviceEntry entry;
    entry.eventId = event.eventId;
    entry.streamChannel = event.streamChannel;
    entry.blockId = event.blockId;
    entry.timestamp = event.timestamp;
    // The payload lives only during the handler call: the entry keeps a copy.
    if (event.data != nullptr && event.dataLength > 0)
        entry.data.assign(event.data, event.data + event.dataLength);
    return entry;
}

void CEventRemoteDevice::Push(RemoteDeviceEntry entry) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_closing) return;
    if (m_enabled) ++m_fired;
    m_queue.push_back(std::move(entry));
    if (m_queue.size() > kMaxQueued) {
        m_queue.pop_front();
        Platform::DebugOutput(
            Format("[ERROR] - Remote device event queue of device %d full: oldest event dropped\n",
                   m_handle));
    }
    m_condition.notify_all();
}

std::vector<uint8_t> CEventRemoteDevice::BuildRecord(const RemoteDeviceEntry& entry,
                                                     uint8_t gevMajor) {
    const bool standard = gevMajor == 1;
    const size_t header = standard ? kStandardHeader : kExtendedHeader;
    const size_t dataSize = std::min(entry.data.size(), kMaxRecordSize - header);
    std::vector<uint8_t> record(header + dataSize, 0);
    record[0] = 0x42;
    record[1] = 0;
    Put16(record, 2, dataSize > 0 ? 0x00C2 : 0x00C0);
    Put16(record, 4, static_cast<uint16_t>(record.size() - 8));
    Put16(record, 6, 1);
    Put16(record, 10, entry.eventId);
    Put16(record, 12, entry.streamChannel);
    if (standard) {
        Put16(record, 14, static_cast<uint16_t>(entry.blockId));
        Put32(record, 16, static_cast<uint32_t>(entry.timestamp >> 32));
        Put32(record, 20, static_cast<uint32_t>(entry.timestamp));
    } else {
        Put32(record, 16, static_cast<uint32_t>(entry.blockId >> 32));
        Put32(record, 20, static_cast<uint32_t>(entry.blockId));
        Put32(record, 24, static_cast<uint32_t>(entry.timestamp >> 32));
        Put32(record, 28, static_cast<uint32_t>(entry.timestamp));
    }
    if (dataSize > 0) std::memcpy(&record[header], entry.data.data(), dataSize);
    return record;
}

void CEventRemoteDevice::RequireRegistered() const {
    if (!m_enabled) throw invalid_handle_exception("Event feature has been disabled.");
}

void CEventRemoteDevice::Register() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_enabled) throw resource_in_use_exception("Event already registered");
    m_enabled = true;
    m_fired = 0;
    ++m_registrations;
}

void CEventRemoteDevice::Unregister() {
    std::lock_guard<std::mutex> guard(m_lock);
    RequireRegistered();
    m_enabled = false;
    if (m_registrations > 0) --m_registrations;
    m_condition.notify_all();
}

bool CEventRemoteDevice::IsRegistered() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_enabled;
}

bool CEventRemoteDevice::GetData(void* pBuffer, size_t* piSize, uint64_t iTimeout) {
    if (piSize == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified piSize is invalid: piSize = 0x%p.", piSize));
    }
    t_abortedWait = nullptr;
    std::unique_lock<std::mutex> lock(m_lock);
    RequireRegistered();
    ++m_waiters;
    struct Leave {
        CEventRemoteDevice& self;
        ~Leave() {
            --self.m_waiters;
            if (self.m_closing) self.m_condition.notify_all();
        }
    } leave{*this};

    const uint64_t killsBefore = m_kills;
    const bool woken = WaitFor(lock, iTimeout, [&] {
        return !m_queue.empty() || m_kills != killsBefore || !m_enabled || m_closing;
    });
    if (!woken) return false;
    if (m_kills != killsBefore) {
        // Nothing is taken by an aborted wait, so no event is lost to it.
        t_abortedWait = this;
        return false;
    }
    if (!m_enabled || m_closing) throw invalid_handle_exception("Event feature has been disabled.");

    const std::vector<uint8_t> record = BuildRecord(m_queue.front(), m_gevMajor);
    // A size query or too small a buffer leaves the event queued for the next call.
    CopyInfoRaw(nullptr, pBuffer, piSize, INFO_DATATYPE_BUFFER, record.data(), record.size());
    if (pBuffer == nullptr) return true;
    m_queue.pop_front();
    return true;
}

void CEventRemoteDevice::GetInfo(EVENT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                                 size_t* piSize) {
    size_t queued = 0;
    uint64_t fired = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        RequireRegistered();
        queued = m_queue.size();
        fired = m_fired;
    }
    switch (iInfoCmd) {
        case EVENT_EVENT_TYPE:
            return CopyInfoInt32(piType, pBuffer, piSize, EVENT_REMOTE_DEVICE);
        case EVENT_NUM_IN_QUEUE:
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_SIZET, queued);
        case EVENT_NUM_FIRED:
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_UINT64, fired);
        case EVENT_SIZE_MAX:
        case EVENT_INFO_DATA_SIZE_MAX:
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_SIZET, kMaxRecordSize);
        default:
            throw implementation_exception(
                Format("Requested iID is not implemented; iID = %d.", iInfoCmd));
    }
}

void CEventRemoteDevice::GetDataInfo(const void* pInBuffer, size_t iInSize,
                                     EVENT_DATA_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                                     void* pOutBuffer, size_t* piOutSize) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        RequireRegistered();
    }
    // The record holds at least the header and the event ID; nothing past
    // iInSize is read.
    if (iInSize < 12) {
        throw invalid_parameter_exception(
            Format("Specified iInSize is invalid: iInSize = %d.", iInSize));
    }
    const auto* bytes = static_cast<const uint8_t*>(pInBuffer);
    uint16_t eventId = 0;
    std::memcpy(&eventId, bytes + 10, sizeof eventId);
    switch (iInfoCmd) {
        case EVENT_DATA_ID:
            return CopyInfoString(piType, pOutBuffer, piOutSize, Format("%04X", eventId));
        case EVENT_DATA_VALUE:
            return CopyInfoRaw(piType, pOutBuffer, piOutSize, INFO_DATATYPE_BUFFER, bytes + 8,
                               iInSize - 8);
        case EVENT_DATA_NUMID:
            return CopyInfoValue(piType, pOutBuffer, piOutSize, INFO_DATATYPE_UINT64,
                                 static_cast<uint64_t>(eventId));
        default:
            throw implementation_exception(
                Format("Requested iID is not implemented; iID = %d.", iInfoCmd));
    }
}

void CEventRemoteDevice::Flush() {
    std::lock_guard<std::mutex> guard(m_lock);
    RequireRegistered();
    m_queue.clear();
}

void CEventRemoteDevice::Kill() {
    std::lock_guard<std::mutex> guard(m_lock);
    RequireRegistered();
    ++m_kills;
    m_condition.notify_all();
}

bool CEventRemoteDevice::IsKilled() {
    if (t_abortedWait != this) return false;
    t_abortedWait = nullptr;
    return true;
}

}  // namespace GenTL
