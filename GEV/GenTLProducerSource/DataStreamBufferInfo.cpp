// What a data stream tells about its buffers: buffer info, the chunk walk,
// composite segments, and the GenDC flow table and descriptor of the camera.
#include <cstring>

#include "ChunkData.h"
#include "DataStream.h"
#include "DebugOutput.h"
#include "Exceptions.h"
#include "InfoCopy.h"
#include "LastError.h"
#include "LibraryInfo.h"
#include "ModuleInfo.h"
#include "StringFormat.h"

namespace GenTL {

using Platform::Format;

namespace {

// GigE Vision bootstrap registers of GenDC streaming.
constexpr uint32_t kGenDCCapabilityRegister = 0x0D20;
constexpr uint32_t kGenDCConfigurationRegister = 0x0D24;
constexpr uint32_t kExtendedBootstrapRegister = 0x0D3C;  // SCEBA
constexpr uint32_t kGenDCBit = 0x80;
// Relative to SCEBA.
constexpr uint32_t kDescriptorAddressOffset = 0;  // SCGDA
constexpr uint32_t kDescriptorSizeOffset = 4;     // SCGDS
constexpr uint32_t kFlowTableAddressOffset = 8;
constexpr uint32_t kFlowTableSizeOffset = 12;
// Inside the flow table.
constexpr size_t kFlowCountOffset = 12;
constexpr size_t kFlowSizesOffset = 16;
// Far above any real descriptor or flow table; the camera picks the size.
constexpr uint32_t kMaxGenDCTable = 1u << 20;

}  // namespace

CBufferInfo* CDataStream::AsBufferRecord(ICommonBase* hBuffer, const char* format) {
    auto* buffer = dynamic_cast<CBufferInfo*>(hBuffer);
    if (buffer == nullptr) throw invalid_parameter_exception(Format(format, hBuffer));
    return buffer;
}

void CDataStream::GetBufferInfo(ICommonBase* hBuffer, BUFFER_INFO_CMD iInfoCmd,
                                INFO_DATATYPE* piType, void* pBuffer, size_t* piSize) {
    if (iInfoCmd == BUFFER_INFO_FRAMEID && m_delivered == 0)
        throw not_available_exception("No acquired image available");
    CBufferInfo* buffer =
        AsBufferRecord(hBuffer, "Specified hB is not a nullptr but invalid: hB = 0x%p.");
    // The delivery thread writes the record under the queue lock.
    std::lock_guard<std::mutex> guard(m_queueLock);
    auto size = [&](uint64_t value) {
        CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_SIZET, static_cast<size_t>(value));
    };
    auto uint64 = [&](uint64_t value) {
        CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_UINT64, value);
    };
    auto pointer = [&](void* value) {
        CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_PTR, value);
    };
    auto flag = [&](bool value) { CopyInfoBool(piType, pBuffer, piSize, value); };
    switch (iInfoCmd) {
        case BUFFER_INFO_BASE:
            return pointer(buffer->Memory());
        case BUFFER_INFO_SIZE:
            return size(buffer->Size());
        case BUFFER_INFO_SIZE_FILLED:
            return size(buffer->sizeFilled);
        case BUFFER_INFO_DATA_SIZE:
            return size(buffer->dataSize);
        case BUFFER_INFO_DATA_LARGER_THAN_BUFFER:
            return flag(buffer->dataLargerThanBuffer);
        case BUFFER_INFO_TIMESTAMP_NS:
            if (!buffer->timestampNsKnown)
                throw not_available_exception("The camera's time-stamp frequency is not known.");
            return uint64(buffer->timestampNs);
        case BUFFER_INFO_PIXEL_ENDIANNESS:
            // GigE Vision sends multi-byte pixels little-endian.
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_INT32,
                                 static_cast<int32_t>(PIXELENDIANNESS_LITTLE));
        case BUFFER_INFO_USER_PTR:
            return pointer(buffer->PrivateData());
        case BUFFER_INFO_TIMESTAMP:
            return uint64(buffer->timestamp);
        case BUFFER_INFO_NEW_DATA:
            return flag(buffer->newData);
        case BUFFER_INFO_IS_QUEUED:
            return flag(buffer->IsQueued());
        case BUFFER_INFO_IS_ACQUIRING:
            return flag(buffer->IsAcquiring());
        case BUFFER_INFO_IS_INCOMPLETE:
            return flag(buffer->incomplete);
        case BUFFER_INFO_TLTYPE:
            return CopyInfoString(piType, pBuffer, piSize, kTLType);
        case BUFFER_INFO_WIDTH:
            return size(buffer->width);
        case BUFFER_INFO_HEIGHT:
            return size(buffer->height);
        case BUFFER_INFO_XOFFSET:
            return size(buffer->offsetX);
        case BUFFER_INFO_YOFFSET:
            return size(buffer->offsetY);
        case BUFFER_INFO_XPADDING:
            return size(buffer->paddingX);
        case BUFFER_INFO_YPADDING:
            return size(buffer->paddingY);
        case BUFFER_INFO_FRAMEID:
            return uint64(buffer->frameId);
        case BUFFER_INFO_IMAGEPRESENT:
            return flag(buffer->imagePresent);
        case BUFFER_INFO_IMAGEOFFSET:
            return size(buffer->imageOffset);
        case BUFFER_INFO_PAYLOADTYPE:
            return size(buffer->payloadType);
        case BUFFER_INFO_PIXELFORMAT:
            return uint64(buffer->pixelFormat);
        case BUFFER_INFO_PIXELFORMAT_NAMESPACE:
            return uint64(buffer->pixelFormatNamespace);
        case BUFFER_INFO_DELIVERED_IMAGEHEIGHT:
            return size(buffer->deliveredImageHeight);
        case BUFFER_INFO_DELIVERED_CHUNKPAYLOADSIZE:
            return size(buffer->deliveredChunkPayloadSize);
        case BUFFER_INFO_CHUNKLAYOUTID:
            return uint64(buffer->chunkLayoutId);
        case BUFFER_INFO_FILENAME:
            return CopyInfoString(piType, pBuffer, piSize, "ImageFileName.img");
        case BUFFER_INFO_CONTAINS_CHUNKDATA:
            return flag(buffer->containsChunkData);
        case BUFFER_INFO_IS_COMPOSITE:
            return flag(buffer->composite);
        default:
            throw implementation_exception(
                Format("Requested iInfoCmd is not implemented; iInfoCmd = %d.", iInfoCmd));
    }
}

GC_ERROR CDataStream::GetBufferChunkData(ICommonBase* hBuffer, SINGLE_CHUNK_DATA* pChunkData,
                                         size_t* piNumChunks) {
    auto* buffer = dynamic_cast<CBufferInfo*>(hBuffer);
    if (buffer == nullptr) {
        throw invalid_parameter_exception(
            Format("Specified hBuffer is invalid: hBuffer = 0x%p.", hBuffer));
    }
    ChunkWalk walk;
    {
        std::lock_guard<std::mutex> guard(m_queueLock);
        if (!buffer->containsChunkData) {
            RecordLastError(GC_ERR_NO_DATA, "GC_ERR_NO_DATA");
            return GC_ERR_NO_DATA;
        }
        walk = WalkChunks(buffer->Memory(), buffer->Size(), buffer->deliveredChunkPayloadSize);
    }
    if (!walk.Ok()) {
        RecordLastError(GC_ERR_PARSING_CHUNK_DATA, walk.error.c_str());
        return GC_ERR_PARSING_CHUNK_DATA;
    }
    if (pChunkData == nullptr) {
        *piNumChunks = walk.chunks.size();
        return GC_ERR_SUCCESS;
    }
    if (walk.chunks.size() > *piNumChunks) {
        *piNumChunks = walk.chunks.size();
        RecordLastError(GC_ERR_BUFFER_TOO_SMALL,
                        "GetBufferChunkData: the buffer is not sufficient for the complete chunk "
                        "data.");
        return GC_ERR_BUFFER_TOO_SMALL;
    }
    std::copy(walk.chunks.begin(), walk.chunks.end(), pChunkData);
    *piNumChunks = walk.chunks.size();
    return GC_ERR_SUCCESS;
}

uint32_t CDataStream::NumBufferSegments(ICommonBase* hBuffer) {
    CBufferInfo* buffer = AsBufferRecord(hBuffer, "Specified hBuffer is invalid: hBuffer = 0x%p.");
    return static_cast<uint32_t>(buffer->segmentCount);
}

void CDataStream::GetBufferSegmentInfo(ICommonBase* hBuffer, uint32_t iSegmentIndex,
                                       SEGMENT_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                                       void* pBuffer, size_t* piSize) {
    CBufferInfo* buffer =
        AsBufferRecord(hBuffer, "Specified hB is not a nullptr but invalid: hB = 0x%p.");
    if (iSegmentIndex >= buffer->segmentCount) {
        throw invalid_index_exception(
            Format("Specified iSegemntIndex is invalid: iSegemntIndex = 0x%p.", iSegmentIndex));
    }
    std::lock_guard<std::mutex> guard(m_queueLock);
    const uint64_t segmentSize =
        buffer->composite ? buffer->segmentSizes[iSegmentIndex] : buffer->Size();
    // The filled-state queries need a running stream and a delivered image.
    auto requireImage = [&](const char* name) {
        if (!m_acquiring) throw not_available_exception(std::string(name) + " is not available.");
        if (!buffer->imagePresent)
            throw not_initialized_exception(std::string(name) + " is not initialized.");
    };
    switch (iInfoCmd) {
        case SEGMENT_INFO_BASE:
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_PTR,
                                 static_cast<void*>(buffer->Memory()));
        case SEGMENT_INFO_SIZE:
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_SIZET,
                                 static_cast<size_t>(segmentSize));
        case SEGMENT_INFO_IS_INCOMPLETE:
            requireImage("SEGMENT_INFO_IS_INCOMPLETE");
            return CopyInfoBool(piType, pBuffer, piSize, buffer->incomplete);
        case SEGMENT_INFO_SIZE_FILLED:
            requireImage("SEGMENT_INFO_SIZE_FILLED");
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_SIZET,
                                 static_cast<size_t>(segmentSize));
        case SEGMENT_INFO_DATA_SIZE:
            requireImage("SEGMENT_INFO_DATA_SIZE");
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_SIZET,
                                 static_cast<size_t>(segmentSize));
        default:
            throw implementation_exception(
                Format("Requested iInfoCmd is not implemented; iInfoCmd = %d.", iInfoCmd));
    }
}

// ---- GenDC -----------------------------------------------------------------

namespace {

// Reads one bootstrap register; false when the read fails.
bool ReadBootstrap(uint8_t handle, uint32_t address, uint32_t* value) {
    return Vantor::GEVReadRegister(handle, address, 1, value) == Vantor::kGevOk;
}

// The extended bootstrap address of a camera streaming GenDC; no_data otherwise.
uint32_t GenDCBase(uint8_t handle, const char* operation) {
    uint32_t value = 0;
    if (!ReadBootstrap(handle, kGenDCCapabilityRegister, &value) || (value & kGenDCBit) == 0)
        throw no_data_exception(std::string(operation) + ": GenDC is not supported");
    const std::string notEnabled = std::string(operation) + ": GenDC is not enabled";
    if (!ReadBootstrap(handle, kGenDCConfigurationRegister, &value) || (value & kGenDCBit) == 0)
        throw no_data_exception(notEnabled);
    uint32_t base = 0;
    if (!ReadBootstrap(handle, kExtendedBootstrapRegister, &base))
        throw no_data_exception(notEnabled);
    return base;
}

// A table whose address and size the camera gives; no_data when there is none,
// when reading fails or when the camera's size is out of bounds or moving.
void ReadTable(uint8_t handle, uint32_t addressRegister, uint32_t sizeRegister,
               const char* operation, std::vector<uint8_t>* table) {
    const Vantor::GevStatus status =
        Vantor::GEVReadDeviceTable(handle, addressRegister, sizeRegister, kMaxGenDCTable, table);
    if (status == Vantor::kGevBadDeviceSize)
        throw no_data_exception(std::string(operation) +
                                ": the camera's GenDC size is out of bounds or changing");
    if (status != Vantor::kGevOk)
        throw no_data_exception(std::string(operation) + ": GenDC is not enabled");
}

}  // namespace

uint32_t CDataStream::NumFlows() {
    const uint32_t base = GenDCBase(m_handle, "GetNumFlows");
    m_flowSizes.clear();
    ReadTable(m_handle, base + kFlowTableAddressOffset, base + kFlowTableSizeOffset, "GetNumFlows",
              &m_flowTable);
    // The table comes from the camera: only the flows it really holds are read.
    uint32_t count = 0;
    if (m_flowTable.size() >= kFlowCountOffset + 4)
        std::memcpy(&count, &m_flowTable[kFlowCountOffset], 4);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = kFlowSizesOffset + size_t{8} * i;
        if (at + 8 > m_flowTable.size()) break;
        uint64_t flowSize = 0;
        std::memcpy(&flowSize, &m_flowTable[at], 8);
        m_flowSizes.push_back(flowSize);
    }
    return static_cast<uint32_t>(m_flowSizes.size());
}

void CDataStream::GetFlowInfo(uint32_t iFlowIndex, FLOW_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                              void* pBuffer, size_t* piSize) {
    if (m_flowSizes.empty() || iFlowIndex >= m_flowSizes.size())
        throw no_data_exception("GetNumFlows: GenDC is not enabled");
    if (iInfoCmd != FLOW_INFO_SIZE)
        throw no_data_exception("GetFlowInfo: Unknown flow info command requested");
    CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_SIZET,
                  static_cast<size_t>(m_flowSizes[iFlowIndex]));
}

std::vector<uint8_t> CDataStream::GenDCDescriptor() {
    const uint32_t base = GenDCBase(m_handle, "GetGenDCDescriptor");
    Platform::DebugOutput(Format("uSCEBA: %08X", base));
    std::vector<uint8_t> descriptor;
    ReadTable(m_handle, base + kDescriptorAddressOffset, base + kDescriptorSizeOffset,
              "GetGenDCDescriptor", &descriptor);
    Platform::DebugOutput(Format("uSCGDS: %08X", static_cast<uint32_t>(descriptor.size())));
    return descriptor;
}

}  // namespace GenTL
