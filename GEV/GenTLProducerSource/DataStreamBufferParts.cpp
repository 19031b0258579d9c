// What a data stream tells about the parts of a multi-part buffer: their count
// and, part by part, the GenTL part info.
#include "DataStream.h"
#include "Exceptions.h"
#include "InfoCopy.h"
#include "StringFormat.h"

namespace GenTL {

using Platform::Format;

namespace {

constexpr const char* kInvalidBuffer = "Specified hBuffer is invalid: hBuffer = 0x%p.";

}  // namespace

uint32_t CDataStream::NumBufferParts(ICommonBase* hBuffer) {
    CBufferInfo* buffer = AsBufferRecord(hBuffer, kInvalidBuffer);
    // The delivery thread writes the record under the queue lock.
    std::lock_guard<std::mutex> guard(m_queueLock);
    return static_cast<uint32_t>(buffer->parts.size());
}

void CDataStream::GetBufferPartInfo(ICommonBase* hBuffer, uint32_t iPartIndex,
                                    BUFFER_PART_INFO_CMD iInfoCmd, INFO_DATATYPE* piType,
                                    void* pBuffer, size_t* piSize) {
    CBufferInfo* buffer = AsBufferRecord(hBuffer, kInvalidBuffer);
    std::lock_guard<std::mutex> guard(m_queueLock);
    // A buffer that holds no multi-part data has no part to ask about.
    if (iPartIndex >= buffer->parts.size())
        throw invalid_index_exception(
            Format("Specified iPartIndex is invalid: iPartIndex = %u, parts = %u.", iPartIndex,
                   static_cast<unsigned>(buffer->parts.size())));
    const CBufferPart& part = buffer->parts[iPartIndex];
    auto size = [&](uint64_t value) {
        CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_SIZET, static_cast<size_t>(value));
    };
    auto uint64 = [&](uint64_t value) {
        CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_UINT64, value);
    };
    switch (iInfoCmd) {
        case BUFFER_PART_INFO_BASE: {
            // A part the buffer holds none of has no address in it.
            void* base = part.size != 0 ? buffer->Memory() + part.offset : nullptr;
            return CopyInfoValue(piType, pBuffer, piSize, INFO_DATATYPE_PTR, base);
        }
        case BUFFER_PART_INFO_DATA_SIZE:
            return size(part.size);
        case BUFFER_PART_INFO_DATA_TYPE:
            return size(part.dataType);
        case BUFFER_PART_INFO_DATA_FORMAT:
            return uint64(part.dataFormat);
        case BUFFER_PART_INFO_DATA_FORMAT_NAMESPACE:
            return uint64(part.dataFormatNamespace);
        case BUFFER_PART_INFO_WIDTH:
            return size(part.width);
        case BUFFER_PART_INFO_HEIGHT:
            return size(part.height);
        case BUFFER_PART_INFO_XOFFSET:
            return size(part.offsetX);
        case BUFFER_PART_INFO_YOFFSET:
            return size(part.offsetY);
        case BUFFER_PART_INFO_XPADDING:
            return size(part.paddingX);
        case BUFFER_PART_INFO_SOURCE_ID:
            return uint64(part.sourceId);
        case BUFFER_PART_INFO_DELIVERED_IMAGEHEIGHT:
            return size(part.deliveredHeight);
        case BUFFER_PART_INFO_REGION_ID:
            return uint64(part.regionId);
        case BUFFER_PART_INFO_DATA_PURPOSE_ID:
            return uint64(part.dataPurposeId);
        default:
            throw implementation_exception(
                Format("Requested iInfoCmd is not implemented; iInfoCmd = %d.", iInfoCmd));
    }
}

}  // namespace GenTL
