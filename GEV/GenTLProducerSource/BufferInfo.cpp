#include "BufferInfo.h"

#include <cstring>
#include <new>
#include <numeric>
#include <stdexcept>

#include "Exceptions.h"
#include "InfoCopy.h"
#include "LibraryController.h"
#include "ModuleInfo.h"
#include "PortInfo.h"
#include "RegisterMapPort.h"
#include "StringFormat.h"

namespace GenTL {

using Platform::Format;

namespace {

constexpr int kXmlResourceNumber = 120;
constexpr const char* kXmlResourceType = "BUFFREGS";
constexpr const char* kURLFormat = "Local:KRGEVTLBuf.xml;%x;%x;";
constexpr uint64_t kInitialRegisterSlots = 100;
constexpr uint16_t kGevImageWithChunk = 0x4001;
constexpr uint16_t kGevChunk = 0x0004;
constexpr uint16_t kGevGenDC = 0x000B;

}  // namespace

CBufferInfo::CBufferInfo(ICommonBase* stream, uint64_t size, void* privateData)
    : CRegisterMapModule(kInitialRegisterSlots),
      m_size(size),
      m_private(privateData),
      m_stream(stream) {}

CBufferInfo::CBufferInfo(ICommonBase* stream, void* buffer, uint64_t size, void* privateData)
    : CBufferInfo(stream, size, privateData) {
    m_memory = static_cast<uint8_t*>(buffer);
    BuildRegisterMap();
}

std::unique_ptr<CBufferInfo> CBufferInfo::Allocate(ICommonBase* stream, uint64_t size,
                                                   void* privateData) {
    std::unique_ptr<CBufferInfo> record(new CBufferInfo(stream, size, privateData));
    record->m_owned.reset(new (std::nothrow) uint8_t[size]);
    record->m_memory = record->m_owned.get();
    record->BuildRegisterMap();
    return record;
}

CBufferInfo::CBufferInfo(ICommonBase* stream, const std::vector<void*>& segments,
                         const std::vector<uint64_t>& sizes, void* privateData)
    : CBufferInfo(stream, std::accumulate(sizes.begin(), sizes.end(), uint64_t{0}), privateData) {
    segmentAddresses = segments;
    segmentSizes = sizes;
    segmentCount = sizes.size();
    composite = true;
    m_owned.reset(new (std::nothrow) uint8_t[m_size]);
    m_memory = m_owned.get();
    BuildRegisterMap();
}

CBufferInfo::~CBufferInfo() {
    // No registry keeps the buffer's handle once it is gone.
    CLibraryController::Instance().RemoveBuffer(static_cast<ICommonBase*>(this));
}

void CBufferInfo::BuildRegisterMap() {
    CRegisterMap& map = m_registerMap;
    map.DefineRegister64(kRegBase, kAccessRO, reinterpret_cast<uintptr_t>(m_memory), false, true);
    map.DefineRegister(kRegSize, kAccessRO, static_cast<uint32_t>(m_size), false);
    map.DefineRegister64(kRegTimestamp, kAccessRO, 0, false, true);
    PlaceXml(kXmlResourceNumber, kXmlResourceType, kRegXmlAddress);
}

uint8_t* CBufferInfo::Memory() const {
    if (m_memory == nullptr) throw std::runtime_error("Invalid Memory Buffer");
    return m_memory;
}

void CBufferInfo::Deliver(const Vantor::GevImageInfo& info, uint64_t hostTimestamp) {
    width = info.sizeX;
    height = info.sizeY;
    pixelFormat = info.pixelFormat;
    offsetX = info.offsetX;
    offsetY = info.offsetY;
    paddingX = info.paddingX;
    paddingY = info.paddingY;
    frameId = info.blockId;
    deliveredImageHeight = height;
    incomplete = info.missingPackets != 0;
    deliveredChunkPayloadSize = 0;
    chunkLayoutId = 0;
    containsChunkData = false;
    if (info.payloadType == kGevImageWithChunk || info.payloadType == kGevChunk) {
        payloadType = PAYLOAD_TYPE_CHUNK_DATA;
        deliveredChunkPayloadSize = info.chunkDataLength;
        chunkLayoutId = info.chunkLayoutId;
        containsChunkData = true;
    } else if (info.payloadType == kGevGenDC) {
        payloadType = PAYLOAD_TYPE_GENDC;
    } else {
        payloadType = PAYLOAD_TYPE_IMAGE;
    }
    timestamp = hostTimestamp;
    m_registerMap.Poke64(kRegTimestamp, hostTimestamp, true);
}

void CBufferInfo::OnQueued() {
    queued = true;
    awaitingDelivery = newData = imagePresent = acquiring = incomplete = false;
}

void CBufferInfo::OnTaken() {
    acquiring = true;
}

void CBufferInfo::OnDelivered() {
    queued = false;
    newData = awaitingDelivery = imagePresent = true;
    acquiring = false;
}

void CBufferInfo::OnEventData() {
    queued = awaitingDelivery = false;
    newData = true;
}

// ---- Port ------------------------------------------------------------------

void CBufferInfo::GetURL(char* sURL, size_t* piSize) {
    if (piSize == nullptr)
        throw invalid_parameter_exception(
            Format("Specified iSize is invalid: iSize = 0x%p.", piSize));
    if (!CopyOwnURL(kURLFormat, kRegXmlAddress, sURL, piSize))
        throw invalid_parameter_exception("Invalid Buffer Size; Required = , Prepared = ");
}

void CBufferInfo::GetPortInfo(PORT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType, void* pBuffer,
                              size_t* piSize) {
    AnswerPortInfo({"0", "TLBuffer", "BufferPort", "0.0"}, iInfoCmd, piType, pBuffer, piSize);
}

void CBufferInfo::GetURLInfo(uint32_t iURLIndex, URL_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                             void* pBuffer, size_t* piSize) {
    AnswerURLInfo(kURLFormat, kRegXmlAddress, 3, iURLIndex, iInfoCmd, piType, pBuffer, piSize);
}

void CBufferInfo::RegisterEvent(EVENT_TYPE iEventID, CEventObj** /*ppEvent*/) {
    throw implementation_exception(Format("Requested iID is not implemented; iID = %d.", iEventID));
}

void CBufferInfo::UnregisterEvent(EVENT_TYPE iEventID) {
    throw implementation_exception(Format("Requested iID is not implemented; iID = %d.", iEventID));
}

}  // namespace GenTL
