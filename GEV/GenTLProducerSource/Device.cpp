#include "Device.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>

#include "DataStream.h"
#include "DebugOutput.h"
#include "DevicePort.h"
#include "ErrorReport.h"
#include "Exceptions.h"
#include "InfoCopy.h"
#include "Interface.h"
#include "LibraryController.h"
#include "LibraryInfo.h"
#include "ModuleInfo.h"
#include "PortInfo.h"
#include "RegisterMapPort.h"
#include "Socket.h"
#include "StringFormat.h"

namespace GenTL {

using Platform::Format;

namespace {

constexpr int kXmlResourceNumber = 118;
constexpr const char* kXmlResourceType = "DEVTLREGS";
constexpr const char* kURLFormat = "Local:KRDEVTL.xml;%x;%x;";
constexpr size_t kURLWorkArea = 514;
constexpr uint64_t kInitialRegisterSlots = 100;
constexpr uint32_t kVersionRegister = 0x0000;
constexpr uint32_t kStreamChannelsRegister = 0x0904;
// The camera's time-stamp tick frequency, high and low words.
constexpr uint32_t kTickFrequencyHighRegister = 0x093C;
constexpr uint32_t kTickFrequencyLowRegister = 0x0940;
// EventSelector values and the EventNotification switch.
constexpr uint32_t kEventDeviceLost = 0;
constexpr uint32_t kNotificationOn = 1;

// The open devices by protocol library handle: the lost handler's way to its
// device. A device leaves it before it closes its camera, and GEVClose waits
// for a handler call in progress, so no call reaches a device being destroyed.
std::mutex& LostLock() {
    static std::mutex lock;
    return lock;
}
std::map<uint8_t, CDevice*>& LostTable() {
    static std::map<uint8_t, CDevice*> devices;
    return devices;
}

}  // namespace

CDevice::CDevice(CInterface* parent, std::shared_ptr<CDeviceInfo> record, const std::string& id,
                 uint8_t handle, DEVICE_ACCESS_FLAGS flags, const Vantor::GevOpenParams& params)
    : CRegisterMapModule(kInitialRegisterSlots),
      m_handle(handle),
      m_hostAddress(params.hostAddress),
      m_errorEvent(new CEventError()),
      m_id(id),
      m_parent(parent),
      m_record(std::move(record)),
      m_accessFlags(flags) {
    BuildRegisterMap();
    m_remotePort = std::make_shared<CDevicePort>(this);
    m_remoteEvent.reset(new CEventRemoteDevice(handle));
    m_moduleEvent.reset(new CEventModule());
    if (Vantor::GEVSetMessageHandler(handle, &CEventRemoteDevice::MessageHandler) ==
        Vantor::kGevNotSupported) {
        Platform::DebugOutput("[INFO] - Message channel not Supported\n");
    }
    uint32_t version = 0;
    Vantor::GevStatus status = Vantor::GEVReadRegister(handle, kVersionRegister, 1, &version);
    if (status != Vantor::kGevOk)
        ReportError(*m_errorEvent, "Error GEVReadRegister address 0x0000.", status);
    // Last: the heartbeat may report a loss as soon as the device is in the table.
    {
        std::lock_guard<std::mutex> guard(LostLock());
        LostTable()[handle] = this;
    }
    Vantor::GEVSetLostHandler(handle, &CDevice::LostHandler);
}

CDevice::~CDevice() {
    // Streams first: their threads and channel use the camera's handle.
    // No call holds the device any more, so none holds its streams either.
    std::vector<std::shared_ptr<CDataStream>> streams;
    {
        std::lock_guard<std::mutex> guard(m_streamsLock);
        streams.swap(m_streams);
    }
    while (!streams.empty()) {
        CLibraryController::Instance().TakeDataStream(ToHandle(streams.back().get()));
        streams.pop_back();
    }
    {
        std::lock_guard<std::mutex> guard(LostLock());
        auto it = LostTable().find(m_handle);
        if (it != LostTable().end() && it->second == this) LostTable().erase(it);
    }
    Vantor::GevStatus status = Vantor::GEVClose(m_handle);
    if (status != Vantor::kGevOk) ReportError(*m_errorEvent, "Error GEVClose.", status);
    CLibraryController::Instance().ForgetModule(this);
    CLibraryController::Instance().ForgetModule(m_remotePort.get());
    // The library closed the message channel first: no handler call can come now.
    m_errorEvent.reset();
    m_remoteEvent.reset();
    m_moduleEvent.reset();
}

void CDevice::BuildRegisterMap() {
    CRegisterMap& map = m_registerMap;
    map.DefineRegister(kRegStreamCount, kAccessRO, 1, false);
    map.DefineRegister(kRegStreamSelector, kAccessRW, 0, false, &OnWrite, this, &OnAccess);
    map.DefineString(kRegStreamID, kAccessRO, "DS0", 128, false);
    map.DefineString(kRegDeviceID, kAccessRO, m_record->GetID(), 256, false);
    map.DefineString(kRegVendor, kAccessRO, m_record->vendorName, 32, false);
    map.DefineString(kRegModel, kAccessRO, m_record->modelName, 32, false);
    // Host order, so that the little-endian registers read as the dotted address.
    map.DefineRegister(kRegIPAddress, kAccessRO, Platform::NetworkToHost32(m_record->ipAddress),
                       false);
    map.DefineRegister(kRegSubnetMask, kAccessRO, Platform::NetworkToHost32(m_record->subnetMask),
                       false);
    map.DefineRegister(kRegGateway, kAccessRO, Platform::NetworkToHost32(m_record->gateway), false);
    map.DefineRegister64(kRegMAC, kAccessRO, m_record->macValue, false, false, nullptr, this,
                         &OnAccess);
    map.DefineRegister(kRegTLType, kAccessRO, 2, false);

    uint32_t heartbeat = 0;
    Vantor::GEVGetHeartbeatRate(m_handle, &heartbeat);
    Vantor::GevChannelParameters parameters{};
    Vantor::GEVGetChannelParameter(m_handle, &parameters);
    map.DefineRegister(kRegHeartbeatTimeout, kAccessRW, heartbeat, false, &OnWrite, this,
                       &OnAccess);
    map.DefineRegister(kRegAckTimeout, kAccessRW, parameters.commandTimeout, false, &OnWrite, this,
                       &OnAccess);
    map.DefineRegister(kRegRetryCount, kAccessRW, parameters.retryCount, false, &OnWrite, this,
                       &OnAccess);
    map.DefineRegister(kRegEventSelector, kAccessRW, kEventDeviceLost, false);
    map.DefineRegister(kRegEventNotification, kAccessRW, kNotificationOn, false, &OnWrite, this);
    map.DefineString(kRegDisplayName, kAccessRO, m_record->GetDisplayName(), 256, false);
    map.DefineString(kRegStreamDisplayName, kAccessRO, "Stream DS0", 256, false);

    PlaceXml(kXmlResourceNumber, kXmlResourceType, kRegXmlAddress);
}

// ---- Register hooks ----------------------------------------------------------

void CDevice::OnAccess(uint64_t address, uint32_t* value, void* context) {
    auto* self = static_cast<CDevice*>(context);
    switch (address) {
        case kRegHeartbeatTimeout: {
            uint32_t timeout = 0;
            Vantor::GevStatus status = Vantor::GEVGetHeartbeatRate(self->m_handle, &timeout);
            if (status == Vantor::kGevOk)
                *value = timeout;
            else
                ReportError(*self->m_errorEvent, "Error GEVGetHeartbeatRate.", status);
            break;
        }
        case kRegAckTimeout:
        case kRegRetryCount: {
            Vantor::GevChannelParameters parameters{};
            Vantor::GevStatus status = Vantor::GEVGetChannelParameter(self->m_handle, &parameters);
            if (status != Vantor::kGevOk) {
                ReportError(*self->m_errorEvent, "Error GEVGetChannelParameter.", status);
                break;
            }
            *value = address == kRegAckTimeout ? parameters.commandTimeout : parameters.retryCount;
            break;
        }
        case kRegMAC:
            *value = static_cast<uint32_t>(self->m_record->macValue >> 32);
            break;
        case kRegMAC + 4:
            *value = Platform::NetworkToHost32(static_cast<uint32_t>(self->m_record->macValue));
            break;
        case kRegStreamSelector:
            self->SelectStream(*value);
            break;
        default:
            break;
    }
}

void CDevice::OnWrite(uint64_t address, uint32_t* value, void* context) {
    auto* self = static_cast<CDevice*>(context);
    switch (address) {
        case kRegHeartbeatTimeout: {
            Vantor::GevStatus status = Vantor::GEVSetHeartbeatRate(self->m_handle, *value);
            if (status != Vantor::kGevOk)
                ReportError(*self->m_errorEvent, "Error GEVSetHeartbeatRate.", status);
            break;
        }
        case kRegAckTimeout:
        case kRegRetryCount: {
            Vantor::GevChannelParameters parameters{};
            Vantor::GevStatus status = Vantor::GEVGetChannelParameter(self->m_handle, &parameters);
            if (status != Vantor::kGevOk) {
                ReportError(*self->m_errorEvent, "Error GEVGetChannelParameter.", status);
                break;
            }
            if (address == kRegAckTimeout)
                parameters.commandTimeout = *value;
            else
                parameters.retryCount = static_cast<uint8_t>(*value);
            status = Vantor::GEVSetChannelParameter(self->m_handle, &parameters);
            if (status != Vantor::kGevOk)
                ReportError(*self->m_errorEvent, "Error GEVSetChannelParameter.", status);
            break;
        }
        case kRegStreamSelector:
            self->SelectStream(*value);
            break;
        case kRegEventNotification:
            // DeviceLost is the only event to select.
            self->m_lostNotification = *value == kNotificationOn;
            break;
        default:
            break;
    }
}

// ---- Port ------------------------------------------------------------------

void CDevice::GetURL(char* sURL, size_t* piSize) {
    char work[kURLWorkArea] = {};
    std::string url = FormatLocalURL(kURLFormat, kRegXmlAddress, m_xmlSize);
    url.pop_back();
    std::memcpy(work, url.c_str(), std::min(url.size(), kURLWorkArea - 2));
    // The text and two zero bytes.
    CopyInfoRaw(nullptr, sURL, piSize, INFO_DATATYPE_STRING, work, url.size() + 2);
}

void CDevice::GetPortInfo(PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                          size_t* piSize) {
    AnswerPortInfo(
        {m_record->GetID(), "TLDevice", "DevicePort", FormatVersion(GetLibraryVersion())}, iInfoCmd,
        piType, pBuffer, piSize);
}

void CDevice::GetURLInfo(uint32_t iURLIndex, URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                         void* pBuffer, size_t* piSize) {
    AnswerOwnURLInfo(kURLFormat, kRegXmlAddress, iURLIndex, iInfoCmd, piType, pBuffer, piSize);
}

// ---- Events ----------------------------------------------------------------

void CDevice::RegisterEvent(EVENT_TYPE iEventID, CEventObj** ppEvent) {
    m_requestedEventType = iEventID;
    if (iEventID == EVENT_ERROR) {
        m_errorEvent->Register();
        *ppEvent = m_errorEvent.get();
    } else if (iEventID == EVENT_REMOTE_DEVICE) {
        m_remoteEvent->Register();
        *ppEvent = m_remoteEvent.get();
    } else if (iEventID == EVENT_MODULE) {
        m_moduleEvent->Register();
        *ppEvent = m_moduleEvent.get();
    } else {
        throw implementation_exception(
            Format("Requested iID is not implemented; iID = %d.", iEventID));
    }
}

void CDevice::UnregisterEvent(EVENT_TYPE iEventID) {
    m_requestedEventType = iEventID;
    if (iEventID == EVENT_ERROR) {
        m_errorEvent->Unregister();
    } else if (iEventID == EVENT_REMOTE_DEVICE) {
        m_remoteEvent->Unregister();
    } else if (iEventID == EVENT_MODULE) {
        m_moduleEvent->Unregister();
    } else {
        throw implementation_exception(
            Format("Requested iID is not implemented; iID = %d.", iEventID));
    }
}

void CDevice::PrepareLostHandler() {
    LostLock();
    LostTable();
}

void CDevice::LostHandler(uint8_t handle) {
    std::lock_guard<std::mutex> guard(LostLock());
    auto it = LostTable().find(handle);
    if (it != LostTable().end()) it->second->OnLost();
}

void CDevice::OnLost() {
    m_errorEvent->Report(GC_ERR_ERROR,
                         "The device was lost: it answered nothing for longer than its heartbeat "
                         "time-out.");
    if (!m_lostNotification) return;
    ModuleEventEntry entry;
    entry.eventId = CEventModule::kDeviceLostId;
    entry.timestamp = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                std::chrono::system_clock::now().time_since_epoch())
                                                .count());
    m_moduleEvent->Push(entry);
}

ICommonBase* CDevice::GetParent() {
    return m_parent;
}

// ---- Device queries ----------------------------------------------------------

void CDevice::GetInfo(DEVICE_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                      size_t* piSize) {
    switch (iInfoCmd) {
        case DEVICE_INFO_ACCESS_STATUS:
            return CopyInfoInt32(piType, pBuffer, piSize, AccessStatus());
        case DEVICE_INFO_TIMESTAMP_FREQUENCY: {
            const uint64_t frequency = TickFrequency();
            if (frequency == 0)
                throw not_available_exception("The camera's time-stamp frequency is not known.");
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_UINT64, frequency);
        }
        default:
            if (m_record->CopyInfo(iInfoCmd, piType, pBuffer, piSize)) return;
            throw implementation_exception(
                Format("Requested iID is not implemented; iID = %d.", iInfoCmd));
    }
}

uint64_t CDevice::TickFrequency() const {
    uint32_t high = 0, low = 0;
    if (Vantor::GEVReadRegister(m_handle, kTickFrequencyHighRegister, 1, &high) != Vantor::kGevOk ||
        Vantor::GEVReadRegister(m_handle, kTickFrequencyLowRegister, 1, &low) != Vantor::kGevOk)
        return 0;
    return (uint64_t{high} << 32) | low;
}

DEVICE_ACCESS_STATUS CDevice::AccessStatus() const {
    return m_accessFlags == DEVICE_ACCESS_CONTROL || m_accessFlags == DEVICE_ACCESS_EXCLUSIVE
               ? DEVICE_ACCESS_STATUS_OPEN_READWRITE
               : DEVICE_ACCESS_STATUS_OPEN_READONLY;
}

uint32_t CDevice::GetNumDataStreams() {
    uint32_t channels = 0;
    Vantor::GevStatus status =
        Vantor::GEVReadRegister(m_handle, kStreamChannelsRegister, 1, &channels);
    if (status != Vantor::kGevOk) {
        // The last known count stands.
        ReportError(*m_errorEvent, "Error GEVReadRegister address 0x0904.", status);
        return m_streamChannelCount;
    }
    m_streamChannelCount = channels;
    return channels;
}

// ---- Data streams ------------------------------------------------------------

void CDevice::SelectStream(uint32_t index) {
    std::lock_guard<std::mutex> guard(m_streamsLock);
    if (index >= m_streams.size()) return;
    m_registerMap.PokeString(kRegStreamID, m_streams[index]->ID());
    m_registerMap.PokeString(kRegStreamDisplayName, m_streams[index]->DisplayName());
}

std::shared_ptr<CDataStream> CDevice::OpenDataStream(const std::string& id) {
    std::lock_guard<std::mutex> guard(m_streamsLock);
    for (const auto& stream : m_streams)
        if (stream->ID() == id) throw resource_in_use_exception("Data stream already open");
    m_streams.push_back(std::make_shared<CDataStream>(shared_from_this(), id));
    std::shared_ptr<CDataStream> stream = m_streams.back();
    const uint32_t count = static_cast<uint32_t>(m_streams.size());
    m_registerMap.Poke(kRegStreamCount, count);
    m_registerMap.Poke(kRegStreamSelector, m_registerMap.Peek(kRegStreamCount) - 1);
    m_registerMap.PokeString(kRegStreamID, stream->ID());
    m_registerMap.PokeString(kRegStreamDisplayName, stream->DisplayName());
    return stream;
}

void CDevice::Close() {
    std::vector<std::shared_ptr<CDataStream>> streams;
    {
        std::lock_guard<std::mutex> guard(m_streamsLock);
        streams.swap(m_streams);
    }
    for (const auto& stream : streams) {
        CLibraryController::Instance().TakeDataStream(ToHandle(stream.get()));
        stream->Close();
    }
}

void CDevice::CloseDataStream(CDataStream* stream) {
    std::shared_ptr<CDataStream> closing;
    {
        std::lock_guard<std::mutex> guard(m_streamsLock);
        auto it = std::find_if(m_streams.begin(), m_streams.end(),
                               [&](const auto& entry) { return entry.get() == stream; });
        if (it == m_streams.end()) {
            throw invalid_parameter_exception(
                Format("Specified iIndex is invalid: iIndex = 0x%p.", stream));
        }
        closing = std::move(*it);
        m_streams.erase(it);
    }
    // Stopped now, whoever else still holds it: its camera channel is released
    // when the last call on it returns.
    closing->Close();
}

}  // namespace GenTL
