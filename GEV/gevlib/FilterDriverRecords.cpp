#include "FilterDriverRecords.h"

#include <algorithm>
#include <cstring>

namespace Vantor::FilterDriver {
namespace {

template <class T>
void PutLe(uint8_t* at, T value) {
    for (size_t i = 0; i < sizeof(T); ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

template <class T>
T GetLe(const uint8_t* at) {
    T value = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        value |= static_cast<T>(static_cast<T>(at[i]) << (8 * i));
    return value;
}

// Addresses are kept in network order in a uint32_t; their bytes go as they lie.
void PutNetworkOrder(uint8_t* at, uint32_t address) {
    std::memcpy(at, &address, 4);
}

// UTF-8 to UTF-16 code units; a malformed byte becomes U+FFFD.
std::u16string Utf16FromUtf8(const std::string& text) {
    std::u16string out;
    size_t i = 0;
    while (i < text.size()) {
        uint8_t lead = static_cast<uint8_t>(text[i]);
        size_t length = lead < 0x80         ? 1
                        : (lead >> 5) == 6  ? 2
                        : (lead >> 4) == 14 ? 3
                        : (lead >> 3) == 30 ? 4
                                            : 0;
        uint32_t code = length == 1   ? lead
                        : length == 2 ? lead & 0x1F
                        : length == 3 ? lead & 0x0F
                                      : lead & 0x07;
        bool valid = length != 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k) {
            uint8_t next = static_cast<uint8_t>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        if (!valid || code > 0x10FFFF) {
            out.push_back(u'\xFFFD');
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

}  // namespace

AdapterBytes BuildAdapterRecord(const std::string& deviceName, uint32_t mode) {
    AdapterBytes record{};
    std::u16string name = Utf16FromUtf8(deviceName);
    size_t units = std::min(name.size(), AdapterRecord::kMaxNameUnits);
    // A cut never leaves half a surrogate pair behind.
    if (units > 0 && units < name.size() && name[units - 1] >= 0xD800 && name[units - 1] < 0xDC00)
        --units;
    for (size_t i = 0; i < units; ++i)
        PutLe<uint16_t>(&record[AdapterRecord::kName + 2 * i], name[i]);
    PutLe<uint32_t>(&record[AdapterRecord::kNameLength], static_cast<uint32_t>(units * 2));
    PutLe<uint32_t>(&record[AdapterRecord::kMode], mode);
    return record;
}

std::string AdapterDeviceName(const std::string& adapterName) {
    return "\\DEVICE\\" + adapterName;
}

StartBytes BuildStartRecord(const StartParams& params, uint8_t deviceHandle) {
    StartBytes record{};
    PutLe<uint32_t>(&record[StartRecord::kWidth], params.width);
    PutLe<uint32_t>(&record[StartRecord::kHeight], params.height);
    PutNetworkOrder(&record[StartRecord::kCameraAddress], params.cameraAddress);
    PutLe<uint16_t>(&record[StartRecord::kStreamPort], params.streamPort);
    PutLe<uint16_t>(&record[StartRecord::kControlPort], params.controlPort);
    PutLe<uint32_t>(&record[StartRecord::kPixelFormat], params.pixelFormat);
    PutNetworkOrder(&record[StartRecord::kDestination], params.destination);
    PutLe<uint32_t>(&record[StartRecord::kPayloadSize], params.payloadSize);
    PutLe<uint16_t>(&record[StartRecord::kPacketDataSize], params.packetDataSize);
    record[StartRecord::kResendEnabled] = params.resendEnabled;
    record[StartRecord::kResendLimit] = params.resendLimit;
    record[StartRecord::kDeviceHandle] = deviceHandle;
    PutLe<uint32_t>(&record[StartRecord::kImageTimeout], params.imageTimeoutMs);
    record[StartRecord::kExtraPacket] = params.extraPacket;
    return record;
}

StartBytes BuildStopRecord(uint8_t deviceHandle) {
    StartBytes record{};
    record[StartRecord::kDeviceHandle] = deviceHandle;
    return record;
}

SwitchBytes BuildSwitchRecord(uint8_t deviceHandle, uint8_t value) {
    SwitchBytes record{};
    record[SwitchRecord::kDeviceHandle] = deviceHandle;
    record[SwitchRecord::kValue] = value;
    return record;
}

BufferCountBytes BuildBufferCountRecord(uint8_t deviceHandle, uint16_t count) {
    BufferCountBytes record{};
    record[BufferCountRecord::kDeviceHandle] = deviceHandle;
    PutLe<uint16_t>(&record[BufferCountRecord::kCount], count);
    return record;
}

ImageBytes BuildImageRequest(uint8_t deviceHandle) {
    ImageBytes record{};
    record[ImageRecord::kDeviceHandle] = deviceHandle;
    return record;
}

GevImageInfo ParseImageInfo(const uint8_t* bytes) {
    namespace L = ImageInfoLayout;
    GevImageInfo info{};
    info.blockId = GetLe<uint64_t>(bytes + L::kBlockId);
    info.timestamp = GetLe<uint64_t>(bytes + L::kTimestamp);
    info.pixelFormat = GetLe<uint32_t>(bytes + L::kPixelFormat);
    info.sizeX = GetLe<uint32_t>(bytes + L::kSizeX);
    info.sizeY = GetLe<uint32_t>(bytes + L::kSizeY);
    info.offsetX = GetLe<uint32_t>(bytes + L::kOffsetX);
    info.offsetY = GetLe<uint32_t>(bytes + L::kOffsetY);
    info.paddingX = GetLe<uint16_t>(bytes + L::kPaddingX);
    info.paddingY = GetLe<uint16_t>(bytes + L::kPaddingY);
    info.missingPackets = GetLe<uint32_t>(bytes + L::kMissingPackets);
    info.payloadType = GetLe<uint16_t>(bytes + L::kPayloadType);
    info.reserved = GetLe<uint16_t>(bytes + L::kReserved);
    info.chunkDataLength = GetLe<uint32_t>(bytes + L::kChunkDataLength);
    info.chunkLayoutId = GetLe<uint32_t>(bytes + L::kChunkLayoutId);
    return info;
}

ImageRecordData ParseImageRecord(const ImageBytes& bytes) {
    ImageRecordData data{};
    data.info = ParseImageInfo(&bytes[ImageRecord::kImageInfo]);
    data.requested = bytes[ImageRecord::kRequested];
    data.received = bytes[ImageRecord::kReceived];
    return data;
}

StatisticsBytes BuildStatisticsRequest(uint8_t deviceHandle) {
    StatisticsBytes record{};
    record[StatisticsRecord::kDeviceHandle] = deviceHandle;
    return record;
}

Statistics ParseStatistics(const StatisticsBytes& bytes, size_t returned) {
    namespace S = StatisticsRecord;
    Statistics statistics{};
    statistics.frames = GetLe<uint32_t>(&bytes[S::kFrames]);
    statistics.missingFrames = GetLe<uint32_t>(&bytes[S::kMissingFrames]);
    statistics.lostPackets = GetLe<uint32_t>(&bytes[S::kLostPackets]);
    statistics.windowFrames = GetLe<uint32_t>(&bytes[S::kWindowFrames]);
    statistics.windowMs = GetLe<uint64_t>(&bytes[S::kWindowMs]);
    statistics.haveDiscarded = returned >= S::kSize;
    if (statistics.haveDiscarded)
        statistics.discardedBlocks = GetLe<uint32_t>(&bytes[S::kDiscarded]);
    return statistics;
}

UserBufferBytes BuildAnnounceRecord(uint8_t deviceHandle, uint64_t address) {
    UserBufferBytes record{};
    record[UserBufferRecord::kDeviceHandle] = deviceHandle;
    PutLe<uint64_t>(&record[UserBufferRecord::kAddress], address);
    return record;
}

UserBufferBytes BuildReleaseRecord(uint8_t deviceHandle) {
    UserBufferBytes record{};
    record[UserBufferRecord::kDeviceHandle] = deviceHandle;
    return record;
}

UserBufferBytes BuildQueueRecord(uint8_t deviceHandle, uint64_t slot) {
    UserBufferBytes record{};
    record[UserBufferRecord::kDeviceHandle] = deviceHandle;
    PutLe<uint64_t>(&record[UserBufferRecord::kSlot], slot);
    return record;
}

uint16_t ParseSlotNumber(const uint8_t* bytes) {
    return GetLe<uint16_t>(bytes);
}

}  // namespace Vantor::FilterDriver
