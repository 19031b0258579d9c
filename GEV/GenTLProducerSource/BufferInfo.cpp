#include "BufferInfo.h"

#include <cstring>
#include <new>
#include <numeric>
#include <stdexcept>

#include "Exceptions.h"
#include "GvspPayloadTypes.h"
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

namespace {

// GenTL's payload type for a GigE Vision one; the extended-chunk variants
// (bit 0x4000) are their base type with chunk data.
uint64_t PayloadTypeOf(uint16_t type) {
    using namespace Vantor::Gvsp;
    if (type == kImageWithChunk) return PAYLOAD_TYPE_CHUNK_DATA;
    if (type & kPayloadDeviceSpecificBit) return PAYLOAD_TYPE_DEVICE_SPECIFIC;
    switch (type & ~kPayloadChunkBit) {
        case kImage:
        case kMultiZoneImage:
            return PAYLOAD_TYPE_IMAGE;
        case kRawData:
            return PAYLOAD_TYPE_RAW_DATA;
        case kFile:
            return PAYLOAD_TYPE_FILE;
        case kChunk:
        case kExtendedChunk:
            return PAYLOAD_TYPE_CHUNK_ONLY;
        case kJpeg:
            return PAYLOAD_TYPE_JPEG;
        case kJpeg2000:
            return PAYLOAD_TYPE_JPEG2000;
        case kH264:
            return PAYLOAD_TYPE_H264;
        case kMultiPart:
            return PAYLOAD_TYPE_MULTI_PART;
        case kGenDC:
            return PAYLOAD_TYPE_GENDC;
        default:
            return PAYLOAD_TYPE_UNKNOWN;
    }
}

bool CarriesChunks(uint16_t type) {
    using namespace Vantor::Gvsp;
    return (type & kPayloadDeviceSpecificBit) == 0 &&
           ((type & kPayloadChunkBit) != 0 || type == kChunk || type == kExtendedChunk);
}

}  // namespace

void CBufferInfo::Deliver(const Vantor::GevImageInfo& info, const Vantor::GevImageExtent& extent,
                          bool incompleteImage, uint64_t tickFrequency) {
    const uint16_t type = info.payloadType;
    payloadType = PayloadTypeOf(type);
    const bool image = payloadType == PAYLOAD_TYPE_IMAGE || type == Vantor::Gvsp::kImageWithChunk;
    // What is no image has no geometry: 0, never the library's marker for "no width".
    width = image ? info.sizeX : 0;
    height = deliveredImageHeight = image ? info.sizeY : 0;
    offsetX = image ? info.offsetX : 0;
    offsetY = image ? info.offsetY : 0;
    paddingX = image ? info.paddingX : 0;
    paddingY = image ? info.paddingY : 0;
    pixelFormat = info.pixelFormat;
    // GigE Vision pixel formats are PFNC's 32-bit values.
    pixelFormatNamespace = pixelFormat != 0 ? PIXELFORMAT_NAMESPACE_PFNC_32BIT : 0;
    frameId = info.blockId;
    incomplete = incompleteImage;
    sizeFilled = extent.filledSize;
    dataSize = extent.dataSize;
    dataLargerThanBuffer = extent.largerThanBuffer;
    parts = PartsOf(extent.parts, m_size);
    containsChunkData = CarriesChunks(type);
    deliveredChunkPayloadSize = containsChunkData ? info.chunkDataLength : 0;
    chunkLayoutId = containsChunkData ? info.chunkLayoutId : 0;
    timestamp = info.timestamp;
    timestampNsKnown = tickFrequency != 0;
    if (timestampNsKnown) {
        // Ticks times 10^9 overflows 64 bits after 18 s at 1 GHz: computed in parts.
        const uint64_t seconds = timestamp / tickFrequency;
        const uint64_t rest = timestamp % tickFrequency;
        timestampNs = seconds * 1000000000ULL + rest * 1000000000ULL / tickFrequency;
    }
    m_registerMap.Poke64(kRegTimestamp, timestamp, true);
}

void CBufferInfo::OnQueued() {
    m_place = BufferPlace::InputPool;
    newData = imagePresent = incomplete = false;
}

void CBufferInfo::OnTaken() {
    m_place = BufferPlace::Filling;
}

void CBufferInfo::OnReturned() {
    m_place = BufferPlace::InputPool;
}

void CBufferInfo::OnDelivered() {
    m_place = BufferPlace::OutputQueue;
    newData = imagePresent = true;
}

void CBufferInfo::OnEventData() {
    // New data only if it was filled: a buffer flushed to the output queue unfilled has none.
    m_place = BufferPlace::Consumer;
}

void CBufferInfo::OnDiscarded() {
    m_place = BufferPlace::Consumer;
}

void CBufferInfo::OnFlushedToOutput() {
    m_place = BufferPlace::OutputQueue;
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
    AnswerOwnURLInfo(kURLFormat, kRegXmlAddress, iURLIndex, iInfoCmd, piType, pBuffer, piSize);
}

void CBufferInfo::RegisterEvent(EVENT_TYPE iEventID, CEventObj** /*ppEvent*/) {
    throw implementation_exception(Format("Requested iID is not implemented; iID = %d.", iEventID));
}

void CBufferInfo::UnregisterEvent(EVENT_TYPE iEventID) {
    throw implementation_exception(Format("Requested iID is not implemented; iID = %d.", iEventID));
}

}  // namespace GenTL
