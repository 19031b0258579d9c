// The data stream's register map with its hooks into the protocol library,
// its port face, its events and the stream info queries.
#include <cstring>

#include "DataStream.h"
#include "Device.h"
#include "ErrorReport.h"
#include "Exceptions.h"
#include "FilterDriver.h"
#include "GEVTLKRVInfo.h"
#include "InfoCopy.h"
#include "LibraryInfo.h"
#include "ModuleInfo.h"
#include "PortInfo.h"
#include "RegisterMapPort.h"
#include "StringFormat.h"

namespace GenTL {

using Platform::Format;

namespace {

constexpr int kXmlResourceNumber = 121;
constexpr const char* kXmlResourceType = "DSREGS";
constexpr const char* kURLFormat = "Local:KRDS.xml;%x;%x;";
constexpr uint32_t kStreamPacketSizeRegister = 0x0D04;
// What the packet size register counts beyond the payload of a packet.
constexpr uint32_t kPacketOverhead = 36;
constexpr uint32_t kTestHeartbeatMs = 30000;
constexpr uint16_t kTestMinimum = 0, kTestMaximum = 20000, kTestStep = 4;
constexpr const char* kFilterDriverOff = "Filter driver not enabled";

}  // namespace

void CDataStream::BuildRegisterMap() {
    CRegisterMap& map = m_registerMap;
    map.DefineRegister(kRegRefresh, kAccessWO, 0, false, &OnWrite, this);
    map.DefineRegister(kRegAnnouncedCount, kAccessRO, 0, false, nullptr, this, &OnRead);
    map.DefineRegister(kRegTLType, kAccessRO, 2, false);
    map.DefineRegister(kRegAwaitDelivery, kAccessRO, 0, false, nullptr, this, &OnRead);
    map.DefineRegister(kRegPacketResend, kAccessRW, 0, false, &OnWrite, this, &OnRead);
    Vantor::GevChannelParameters parameters{};
    Vantor::GEVGetChannelParameter(m_handle, &parameters);
    map.DefineRegister(kRegResendCount, kAccessRW, parameters.resendCount, false, &OnWrite, this,
                       &OnRead);
    map.DefineRegister(kRegPacketTimeout, kAccessRW, parameters.packetTimeout, false, &OnWrite,
                       this, &OnRead);
    map.DefineRegister(kRegImageTimeout, kAccessRW, parameters.streamTimeout, false, &OnWrite, this,
                       &OnRead);
    map.DefineRegister(kRegPacketSize, kAccessRO, m_packetSize, false, nullptr, this, &OnRead);
    map.DefineRegister(kRegFindMaxPacketSize, kAccessWO, 0, false, &OnWrite, this);
    map.DefineRegister(kRegRingBufferCount, kAccessRW, 0, false, &OnWrite, this, &OnRead);
    map.DefineRegister(kRegFilterDriver, kAccessRW, 0, false, &OnWrite, this);
    map.DefineRegister(kRegFramesToAcquire, kAccessRW, 0, false, &OnWrite, this, &OnRead);
    map.DefineRegister(kRegPayloadSize, kAccessRO, static_cast<uint32_t>(m_payloadSize.load()),
                       false);
    map.DefineRegister(kRegAnnounceMinimum, kAccessRO, 1, false);
    map.DefineRegister(kRegGrabbing, kAccessRO, 0, false);
    map.DefineString(kRegStreamID, kAccessRO, m_id, 64, false);
    map.DefineString(kRegDisplayName, kAccessRO, DisplayName(), 256, false);
    map.DefineRegister(kRegBufferHandlingMode, kAccessRW, kOldestFirst, false, &OnWrite, this);
    map.DefineString(kRegFilterDriverVersion, kAccessRO, kFilterDriverOff, 32, false);
    map.DefineRegister(kRegUseUserBuffer, kAccessRW, 0, false, &OnWrite, this);
    for (uint64_t address = kRegStartedFrames; address < kRegInputCount; address += 8)
        map.DefineRegister64(address, kAccessRO, 0, false, true, nullptr, this, &OnRead);
    map.DefineRegister(kRegInputCount, kAccessRO, 0, false, nullptr, this, &OnRead);
    PlaceXml(kXmlResourceNumber, kXmlResourceType, kRegXmlAddress);
}

// ---- Register hooks ----------------------------------------------------------

void CDataStream::OnRead(uint64_t address, uint32_t* value, void* context) {
    auto* self = static_cast<CDataStream*>(context);
    switch (address) {
        case kRegAnnouncedCount:
            *value = static_cast<uint32_t>(self->NumAnnounced());
            break;
        case kRegAwaitDelivery:
            *value = static_cast<uint32_t>(self->AwaitingDelivery());
            break;
        case kRegPacketResend:
            *value = self->m_packetResend;
            break;
        case kRegResendCount:
        case kRegPacketTimeout:
        case kRegImageTimeout:
            *value = self->ReadChannelField(address);
            break;
        case kRegPacketSize:
            *value = self->ReadPacketSize();
            break;
        case kRegRingBufferCount: {
            uint16_t count = 0;
            if (Vantor::GEVGetBufferCount(self->m_handle, &count) == Vantor::kGevOk) *value = count;
            break;
        }
        case kRegFramesToAcquire:
            *value = self->m_framesRemaining;
            break;
        case kRegInputCount: {
            std::lock_guard<std::mutex> guard(self->m_queueLock);
            *value = static_cast<uint32_t>(self->m_inputPool.size());
            break;
        }
        default:
            if (address >= kRegStartedFrames && address < kRegInputCount) {
                // A 64-bit read takes the low word first: the high word is of the
                // same value, even when the counter moved in between.
                std::lock_guard<std::mutex> guard(self->m_counterLock);
                const uint64_t low = address & ~uint64_t{7};
                if (address == low || self->m_snapshotAddress != low)
                    self->m_counterSnapshot = self->CounterValue(low);
                self->m_snapshotAddress = address == low ? low : 0;
                *value = static_cast<uint32_t>(address == low ? self->m_counterSnapshot
                                                              : self->m_counterSnapshot >> 32);
            }
            break;
    }
}

uint64_t CDataStream::CounterValue(uint64_t address) {
    Vantor::GevStreamStatistics statistics{};
    switch (address) {
        case kRegStartedFrames:
            return Counters().started;
        case kRegDeliveredFrames:
            return m_delivered;
        case kRegUnderrunFrames:
            return Counters().underrun;
        case kRegIncompleteFrames:
            return m_incompleteDelivered;
        case kRegDiscardedFrames:
            return m_discarded;
        case kRegLostFrames:
            return Counters().lost;
        default:
            // Packets: of the running or last acquisition, as the library counts them.
            Vantor::GEVGetStreamStatistics(m_handle, &statistics);
            if (address == kRegResendRequested) return statistics.resendRequested;
            if (address == kRegResentPackets) return statistics.resentPackets;
            return statistics.lostPackets;
    }
}

void CDataStream::OnWrite(uint64_t address, uint32_t* value, void* context) {
    auto* self = static_cast<CDataStream*>(context);
    switch (address) {
        case kRegRefresh:
            self->m_registerMap.Poke(kRegAnnouncedCount,
                                     static_cast<uint32_t>(self->NumAnnounced()));
            self->m_registerMap.Poke(kRegAwaitDelivery,
                                     static_cast<uint32_t>(self->AwaitingDelivery()));
            break;
        case kRegPacketResend: {
            const Vantor::GevStatus status =
                Vantor::GEVSetPacketResend(self->m_handle, (*value & 0xFF) != 0);
            if (status == Vantor::kGevOk) {
                self->m_packetResend = *value;
            } else {
                self->Report("Error GEVSetPacketResend.", status);
                *value = self->m_packetResend;
            }
            break;
        }
        case kRegResendCount:
        case kRegPacketTimeout:
        case kRegImageTimeout:
            self->WriteChannelField(address, *value);
            *value = self->ReadChannelField(address);
            break;
        case kRegFindMaxPacketSize: {
            // The test drains the stream socket and rewrites the packet size under
            // a running receiver: it runs as starts, stops and the close do, one at
            // a time with them, so that no start comes in the middle of it.
            std::lock_guard<std::mutex> life(self->m_lifeLock);
            if (self->m_acquiring) throw busy_exception("The acquisition process is running now.");
            *value = self->RunPacketSizeTest(true);
            break;
        }
        case kRegRingBufferCount: {
            const Vantor::GevStatus status =
                Vantor::GEVSetBufferCount(self->m_handle, static_cast<uint16_t>(*value));
            if (status != Vantor::kGevOk) self->Report("Error GEVSetBufferCount.", status);
            break;
        }
        case kRegFilterDriver:
            self->SwitchFilterDriver(*value);
            *value = self->m_registerMap.Peek(kRegFilterDriver);
            break;
        case kRegFramesToAcquire:
            self->m_framesRemaining = *value;
            break;
        case kRegBufferHandlingMode:
            try {
                self->SetHandlingMode(*value);
            } catch (...) {
                *value = self->m_handlingMode;
                throw;
            }
            break;
        case kRegUseUserBuffer:
            if (self->m_acquiring) {
                // The delivery thread works in one mode from start to stop.
                *value = self->m_userBufferMode ? 1 : 0;
                throw busy_exception("The acquisition process is running now.");
            }
            self->m_userBufferMode = *value != 0;
            break;
        default:
            break;
    }
}

uint32_t CDataStream::ReadChannelField(uint64_t address) {
    Vantor::GevChannelParameters parameters{};
    const Vantor::GevStatus status = Vantor::GEVGetChannelParameter(m_handle, &parameters);
    if (status != Vantor::kGevOk) {
        Report("Error GEVGetChannelParameter.", status);
        return m_registerMap.Peek(address);
    }
    switch (address) {
        case kRegResendCount:
            return parameters.resendCount;
        case kRegPacketTimeout:
            return parameters.packetTimeout;
        default:
            return parameters.streamTimeout;
    }
}

void CDataStream::WriteChannelField(uint64_t address, uint32_t value) {
    Vantor::GevChannelParameters parameters{};
    Vantor::GevStatus status = Vantor::GEVGetChannelParameter(m_handle, &parameters);
    if (status != Vantor::kGevOk) {
        Report("Error GEVGetChannelParameter.", status);
        return;
    }
    if (address == kRegResendCount)
        parameters.resendCount = static_cast<uint8_t>(value);
    else if (address == kRegPacketTimeout)
        parameters.packetTimeout = value;
    else
        parameters.streamTimeout = value;
    status = Vantor::GEVSetChannelParameter(m_handle, &parameters);
    if (status != Vantor::kGevOk) Report("Error GEVSetChannelParameter.", status);
}

uint32_t CDataStream::ReadPacketSize() {
    uint32_t packetSize = 0;
    if (Vantor::GEVReadRegister(m_handle, kStreamPacketSizeRegister, 1, &packetSize) ==
            Vantor::kGevOk &&
        (packetSize & 0xFFFF) > kPacketOverhead) {
        m_packetSize = (packetSize & 0xFFFF) - kPacketOverhead;
    }
    return m_packetSize;
}

// The search runs with a long heartbeat time-out: the camera must not drop
// the control channel while the host is busy testing. `fromRegister`: run by
// the consumer, whose failures are reported and whose result is stored.
uint32_t CDataStream::RunPacketSizeTest(bool fromRegister) {
    const bool reportFailures = fromRegister;
    uint32_t heartbeat = 0;
    Vantor::GevStatus status = Vantor::GEVGetHeartbeatRate(m_handle, &heartbeat);
    if (status != Vantor::kGevOk && reportFailures) Report("Error GEVGetHeartbeatRate.", status);
    status = Vantor::GEVSetHeartbeatRate(m_handle, kTestHeartbeatMs);
    if (status != Vantor::kGevOk && reportFailures) Report("Error GEVSetHeartbeatRate.", status);
    uint16_t size = 0;
    status =
        Vantor::GEVTestFindMaxPacketSize(m_handle, &size, kTestMinimum, kTestMaximum, kTestStep);
    uint32_t result = m_packetSize;
    if (status == Vantor::kGevOk && size != 0) {
        result = ReadPacketSize();
        if (fromRegister) m_registerMap.Poke(kRegPacketSize, result);
    } else if (reportFailures) {
        Report("Error GEVTestFindMaxPacketSize.", status);
    }
    status = Vantor::GEVSetHeartbeatRate(m_handle, heartbeat);
    if (status != Vantor::kGevOk && reportFailures) Report("Error GEVSetHeartbeatRate.", status);
    return result;
}

void CDataStream::SwitchFilterDriver(uint32_t value) {
    std::string version;
    if (value != 1) {
        const Vantor::GevStatus status = Vantor::GEVDisableFilterDriver(m_handle);
        if (status != Vantor::kGevOk) Report("Can't get krvGEVFilter driver.", status);
        version = "Filter driver not enabled.";
    } else if (Vantor::GevStatus status = Vantor::GEVInitFilterDriver(m_handle)) {
        value = 0;
        version = "Can't open krvGEVFilter driver.";
        Report(
            "Can't open krvGEVFilter driver. Check if driver is installed or you don't have "
            "administrator privileges.",
            status);
    } else {
        uint8_t major = 0, packed = 0;
        status = Vantor::GEVGetFilterDriverVersion(m_handle, &major, &packed);
        if (status == Vantor::kGevOk) {
            version = Format("Use Filter Driver V%d.%d.%d", major, packed >> 4, packed & 0xF);
        } else {
            version = "Can't get krvGEVFilter driver version.";
            Report(version, status);
        }
    }
    m_registerMap.PokeString(kRegFilterDriverVersion, version);
    m_registerMap.Poke(kRegFilterDriver, value);
}

// ---- Port ------------------------------------------------------------------

int64_t CDataStream::ReadBlock(uint64_t address, void* pBuffer, size_t* piSize) {
    if (*piSize >= 5) return CRegisterMapModule::ReadBlock(address, pBuffer, piSize);
    // A missing buffer fails as on every other port, not as a read of nothing.
    if (pBuffer == nullptr) return CRegisterMapModule::ReadBlock(address, pBuffer, piSize);
    const uint32_t value = m_registerMap.Read(address);
    std::memcpy(pBuffer, &value, *piSize);
    return static_cast<int64_t>(*piSize);
}

int64_t CDataStream::WriteBlock(uint64_t address, const void* pBuffer, size_t* piSize) {
    if (*piSize >= 5) return CRegisterMapModule::WriteBlock(address, pBuffer, piSize);
    // A missing buffer fails as on every other port, not as a write of zero.
    if (pBuffer == nullptr) return CRegisterMapModule::WriteBlock(address, pBuffer, piSize);
    uint32_t value = 0;
    std::memcpy(&value, pBuffer, *piSize);
    m_registerMap.Write(address, value);
    return static_cast<int64_t>(*piSize);
}

void CDataStream::GetURL(char* sURL, size_t* piSize) {
    if (piSize == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified iSize is invalid: iSize = 0x%p.", piSize));
    }
    const size_t prepared = *piSize;
    if (!CopyOwnURL(kURLFormat, kRegXmlAddress, sURL, piSize)) {
        const size_t required = FormatLocalURL(kURLFormat, kRegXmlAddress, m_xmlSize).size() + 1;
        throw invalid_parameter_exception(
            Format("Invalid Buffer Size; Rquired = %d, Prepared = %d.", required, prepared));
    }
}

void CDataStream::GetPortInfo(PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                              size_t* piSize) {
    AnswerPortInfo({"DS" + std::to_string(m_streamIndex), "TLDataStream", "StreamPort",
                    FormatVersion(GetLibraryVersion())},
                   iInfoCmd, piType, pBuffer, piSize);
}

void CDataStream::GetURLInfo(uint32_t iURLIndex, URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                             void* pBuffer, size_t* piSize) {
    AnswerOwnURLInfo(kURLFormat, kRegXmlAddress, iURLIndex, iInfoCmd, piType, pBuffer, piSize);
}

// ---- Events ----------------------------------------------------------------

void CDataStream::RegisterEvent(EVENT_TYPE iEventID, CEventObj** ppEvent) {
    if (dynamic_cast<CDevice*>(m_device) == nullptr) {
        throw invalid_handle_exception(
            Format("Specified hDev is not a nullptr but invalid: hDev = 0x%p.", m_device));
    }
    m_requestedEventType = iEventID;
    if (iEventID == EVENT_ERROR) {
        m_errorEvent->Register();
        *ppEvent = m_errorEvent.get();
    } else if (iEventID == EVENT_NEW_BUFFER) {
        m_newBufferEvent->Register();
        *ppEvent = m_newBufferEvent.get();
    } else {
        throw implementation_exception(
            Format("Requested iID is not implemented; iID = %d.", iEventID));
    }
}

void CDataStream::UnregisterEvent(EVENT_TYPE iEventID) {
    m_requestedEventType = iEventID;
    if (iEventID == EVENT_ERROR) {
        m_errorEvent->Unregister();
    } else if (iEventID == EVENT_NEW_BUFFER) {
        m_newBufferEvent->Unregister();
    } else {
        throw implementation_exception(
            Format("Requested iID is not implemented; iID = %d.", iEventID));
    }
}

// ---- Stream info -------------------------------------------------------------

void CDataStream::GetInfo(STREAM_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                          size_t* piSize) {
    auto size = [&](size_t value) {
        CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_SIZET, value);
    };
    auto uint64 = [&](uint64_t value) {
        CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_UINT64, value);
    };
    switch (iInfoCmd) {
        case STREAM_INFO_ID:
            // The ID DevGetDataStreamID gives and the description's StreamID shows.
            return CopyInfoString(piType, pBuffer, piSize, m_id);
        case STREAM_INFO_NUM_DELIVERED:
            return uint64(m_delivered);
        case STREAM_INFO_NUM_STARTED:
            return uint64(Counters().started);
        case STREAM_INFO_NUM_UNDERRUN:
            return uint64(Counters().underrun);
        case STREAM_INFO_NUM_ANNOUNCED:
            return size(NumAnnounced());
        case STREAM_INFO_NUM_QUEUED: {
            size_t queued = 0;
            {
                std::lock_guard<std::mutex> guard(m_queueLock);
                queued = m_inputPool.size();
            }
            return size(queued);
        }
        case STREAM_INFO_NUM_AWAIT_DELIVERY:
            return size(AwaitingDelivery());
        case STREAM_INFO_PAYLOAD_SIZE:
            return size(static_cast<size_t>(m_payloadSize.load()));
        case STREAM_INFO_IS_GRABBING:
            return CopyInfoBool(piType, pBuffer, piSize, m_registerMap.Peek(kRegGrabbing) != 0);
        case STREAM_INFO_DEFINES_PAYLOADSIZE:
            // Never: the camera defines the payload size. When its PayloadSize could
            // be read, the stream's value is that; when not, the stream's is only a
            // stand-in (the largest buffer), and the consumer's own GenApi reading
            // of the camera's PayloadSize is the better source.
            return CopyInfoBool(piType, pBuffer, piSize, false);
        case STREAM_INFO_TLTYPE:
            return CopyInfoString(piType, pBuffer, piSize, kTLType);
        case STREAM_INFO_NUM_CHUNKS_MAX:
            // The camera's chunk layout decides; the producer cannot know it beforehand.
            throw not_available_exception("The largest number of chunks is not known.");
        case STREAM_INFO_BUF_ALIGNMENT:
            // Any buffer address will do: images are copied or assembled byte-wise.
            return size(1);
        case STREAM_INFO_BUF_ANNOUNCE_MIN:
            return size(1);
        case STREAM_INFO_FLOW_TABLE:
            NumFlows();
            return CopyInfoRaw(piType, pBuffer, piSize, INFO_DATATYPE_BUFFER, m_flowTable.data(),
                               m_flowTable.size());
        case STREAM_INFO_GENDC_DESCRIPTOR: {
            const std::vector<uint8_t> descriptor = GenDCDescriptor();
            return CopyInfoRaw(piType, pBuffer, piSize, INFO_DATATYPE_BUFFER, descriptor.data(),
                               descriptor.size());
        }
        case STREAM_INFO_GENDC_PREFIX_PRESENT:
            // Buffers hold the payload as the camera sent it, with no GenDC prefix added.
            return CopyInfoBool(piType, pBuffer, piSize, false);
        case STREAM_INFO_GEVTLKRV_RESEND_REQUESTED:
        case STREAM_INFO_GEVTLKRV_LOST_PACKETS: {
            Vantor::GevStreamStatistics statistics{};
            Vantor::GEVGetStreamStatistics(m_handle, &statistics);
            return uint64(iInfoCmd == STREAM_INFO_GEVTLKRV_RESEND_REQUESTED
                              ? statistics.resendRequested
                              : statistics.lostPackets);
        }
        case STREAM_INFO_GEVTLKRV_LOST_FRAMES:
            return uint64(Counters().lost);
        case STREAM_INFO_GEVTLKRV_INCOMPLETE_FRAMES:
            return uint64(m_incompleteDelivered);
        case STREAM_INFO_GEVTLKRV_DISCARDED_FRAMES:
            return uint64(m_discarded);
        case STREAM_INFO_GEVTLKRV_RESENT_PACKETS:
            return uint64(CounterValue(kRegResentPackets));
        default:
            throw implementation_exception(
                Format("Requested iCmd is not implemented; iCmd = %d.", iInfoCmd));
    }
}

}  // namespace GenTL
