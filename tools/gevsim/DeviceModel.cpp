#include "DeviceModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "Bootstrap.h"
#include "EmbeddedXml.h"
#include "GvcpWire.h"

namespace GevSim {

namespace B = Bootstrap;
namespace U = UserRegister;

namespace {

constexpr uint32_t kDefaultMctt = 300;  // ms
constexpr uint32_t kDefaultMcrc = 2;
constexpr uint32_t kPendingTimeoutMs = 1000;
constexpr float kDefaultFrameRate = 30.0f;
constexpr uint32_t kMinImageSize = 16;
constexpr uint32_t kWidthIncrement = 4;

uint32_t FloatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float BitsFloat(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

uint32_t DefaultMask(uint32_t ip) {
    return (ip >> 24) == 127 ? 0xFF000000u : 0xFFFFFF00u;
}

bool IsKnownPayloadType(uint32_t type) {
    return type == 0x0001 || type == 0x0002 || type == 0x0004 || type == 0x0006 || type == 0x000A ||
           type == 0x000B || type == 0x4001;
}

bool IsKnownPixelFormat(uint32_t format) {
    return format == U::kMono8 || format == U::kMono10 || format == U::kMono12 ||
           format == U::kMono16;
}

}  // namespace

DeviceModel::DeviceModel(const CameraConfig& config) : config_(config) {
    std::lock_guard<std::mutex> lock(mutex_);
    BuildLocked();
}

void DeviceModel::MapString(uint32_t address, uint32_t size, const std::string& text,
                            Access access) {
    memory_.Map(address, size, access);
    // Strings are NUL-terminated unless they fill the field.
    memory_.Poke(address, reinterpret_cast<const uint8_t*>(text.data()),
                 std::min<size_t>(text.size(), size));
}

void DeviceModel::BuildLocked() {
    memory_.Clear();
    privilege_.Release();
    timestampEpoch_ = Clock::now();
    const auto ro = Access::ReadOnly;
    const auto rw = Access::ReadWrite;
    const auto wo = Access::WriteOnly;
    auto word = [this](uint32_t address, Access access, uint32_t value) {
        memory_.Map(address, 4, access);
        memory_.Poke32(address, value);
    };
    const auto& mac = config_.mac;
    word(B::kVersion, ro, static_cast<uint32_t>(config_.versionMajor) << 16 | config_.versionMinor);
    word(B::kDeviceMode, ro, B::kDeviceModeBigEndianUtf8);
    word(B::kMacHigh, ro, static_cast<uint32_t>(mac[0]) << 8 | mac[1]);
    word(B::kMacLow, ro, Gvcp::Get32(&mac[2]));
    word(B::kSupportedIpConfig, ro, B::kIpConfigPersistent | B::kIpConfigDhcp | B::kIpConfigLla);
    word(B::kCurrentIpConfig, rw, B::kIpConfigDhcp | B::kIpConfigLla);
    word(B::kCurrentIp, ro, 0);
    word(B::kSubnetMask, ro, 0);
    word(B::kGateway, ro, config_.gateway);
    MapString(B::kManufacturer, B::kStringSize, config_.manufacturer, ro);
    MapString(B::kModel, B::kStringSize, config_.model, ro);
    MapString(B::kDeviceVersion, B::kStringSize, config_.deviceVersion, ro);
    MapString(B::kManufacturerInfo, B::kManufacturerInfoSize, config_.manufacturerInfo, ro);
    MapString(B::kSerial, B::kShortStringSize, config_.serial, ro);
    MapString(B::kUserName, B::kShortStringSize, config_.userName, rw);
    char url[B::kUrlSize];
    std::snprintf(url, sizeof url, "Local:gevsim.xml;%x;%zx", B::kXmlAddress, EmbeddedXml().size());
    MapString(B::kFirstUrl, B::kUrlSize, url, ro);
    MapString(B::kSecondUrl, B::kUrlSize, "", ro);
    word(B::kNetworkInterfaces, ro, 1);
    word(B::kPersistentIp, rw, 0);
    word(B::kPersistentMask, rw, 0);
    word(B::kPersistentGateway, rw, 0);
    word(B::kLinkSpeed, ro, config_.linkSpeedMbps);
    word(B::kMessageChannels, ro, std::min<uint32_t>(config_.messageChannels, 1));
    word(B::kStreamChannels, ro, std::min<uint32_t>(config_.streamChannels, 1));
    word(B::kActionSignals, ro, 0);
    word(B::kActiveLinks, ro, 1);
    word(B::kGvspCapability, ro, B::kSourcePortSupported | B::kGvsp64BitBlockIdSupported);
    word(B::kGvspConfig, rw, config_.extendedIds ? B::kGvspConfig64BitBlockIds : 0);
    word(B::kMessageCapability, ro, B::kSourcePortSupported);
    word(B::kGvcpCapability, ro, config_.gvcpCapability);
    word(B::kHeartbeatTimeout, rw, std::max(config_.heartbeatTimeoutMs, B::kMinHeartbeatTimeoutMs));
    word(B::kTickFrequencyHigh, ro, static_cast<uint32_t>(B::kTickFrequency >> 32));
    word(B::kTickFrequencyLow, ro, static_cast<uint32_t>(B::kTickFrequency));
    word(B::kTimestampControl, wo, 0);
    word(B::kTimestampHigh, ro, 0);
    word(B::kTimestampLow, ro, 0);
    word(B::kGvcpConfig, rw, 0);
    word(B::kPendingTimeout, ro, kPendingTimeoutMs);
    word(B::kCcp, rw, 0);
    if (config_.messageChannels > 0) {
        word(B::kMcp, rw, 0);
        word(B::kMcda, rw, 0);
        word(B::kMctt, rw, kDefaultMctt);
        word(B::kMcrc, rw, kDefaultMcrc);
        word(B::kMcsp, ro, 0);
    }
    if (config_.streamChannels > 0) {
        word(B::kScp0, rw, 0);
        word(B::kScps0, rw, std::clamp(config_.packetSize, B::kMinPacketSize, B::kMaxPacketSize));
        word(B::kScpd0, rw, 0);
        word(B::kScda0, rw, 0);
        word(B::kScsp0, ro, 0);
        word(B::kScc0, ro, 0);
        word(B::kSccfg0, rw, 0);
    }

    word(U::kWidth, rw, config_.width);
    word(U::kHeight, rw, config_.height);
    word(U::kPixelFormat, rw, config_.pixelFormat);
    word(U::kTestPattern, rw, config_.testPattern);
    word(U::kPayloadSize, ro, 0);
    word(U::kAcquisitionMode, rw, 0);
    word(U::kAcquisitionStart, wo, 0);
    word(U::kAcquisitionStop, wo, 0);
    word(U::kAcquisitionFrameCount, rw, 1);
    word(U::kAcquisitionFrameRate, rw,
         FloatBits(config_.frameRate >= 1.0f && config_.frameRate <= 100.0f ? config_.frameRate
                                                                            : kDefaultFrameRate));
    word(U::kWidthMax, ro, config_.widthMax);
    word(U::kHeightMax, ro, config_.heightMax);
    word(U::kTLParamsLocked, rw, 0);
    word(U::kAcquisitionActive, ro, 0);
    word(U::kPayloadType, rw,
         IsKnownPayloadType(config_.payloadType) ? config_.payloadType : uint32_t{0x0001});
    word(U::kTestEventGenerate, wo, 0);
    testPackets_ = testEvents_ = 0;
    UpdatePayloadSizeLocked();

    // The XML, zero-padded to whole words since READMEM counts are multiples of 4.
    const std::string_view xml = EmbeddedXml();
    memory_.Map(B::kXmlAddress, static_cast<uint32_t>((xml.size() + 3) & ~size_t{3}), ro);
    memory_.Poke(B::kXmlAddress, reinterpret_cast<const uint8_t*>(xml.data()), xml.size());
}

uint16_t DeviceModel::ReadRegister(const Host& host, uint32_t address, uint32_t* value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!privilege_.MayRead(host)) return Gvcp::kStatusAccessDenied;
    if (address % 4 != 0) return Gvcp::kStatusBadAlignment;
    uint8_t bytes[4];
    const uint16_t status = memory_.Read(address, bytes, sizeof bytes);
    if (status == Gvcp::kStatusSuccess) *value = Gvcp::Get32(bytes);
    return status;
}

uint16_t DeviceModel::WriteRegister(const Host& host, uint32_t address, uint32_t value) {
    uint16_t status = Gvcp::kStatusBadAlignment;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (address % 4 == 0) status = WriteWordLocked(host, address, value);
    }
    NotifyStream();
    return status;
}

uint16_t DeviceModel::ReadMemory(const Host& host, uint32_t address, uint8_t* out, size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!privilege_.MayRead(host)) return Gvcp::kStatusAccessDenied;
    if (address % 4 != 0) return Gvcp::kStatusBadAlignment;
    return memory_.Read(address, out, size);
}

uint16_t DeviceModel::WriteMemory(const Host& host, uint32_t address, const uint8_t* data,
                                  size_t size, size_t* written) {
    struct NotifyAfter {
        const DeviceModel& model;
        ~NotifyAfter() { model.NotifyStream(); }
    } notify{*this};  // runs after the lock below is released
    std::lock_guard<std::mutex> lock(mutex_);
    *written = 0;
    if (address % 4 != 0 || size % 4 != 0) return Gvcp::kStatusBadAlignment;
    for (size_t offset = 0; offset < size; offset += 4) {
        const uint64_t at = uint64_t{address} + offset;
        if (at > UINT32_MAX) return Gvcp::kStatusInvalidAddress;
        const uint16_t status =
            WriteWordLocked(host, static_cast<uint32_t>(at), Gvcp::Get32(data + offset));
        if (status != Gvcp::kStatusSuccess) return status;
        *written = offset + 4;
    }
    return Gvcp::kStatusSuccess;
}

uint16_t DeviceModel::WriteWordLocked(const Host& host, uint32_t address, uint32_t value) {
    const auto now = Clock::now();
    if (address == B::kCcp) {
        const uint16_t status = privilege_.Write(host, value, now);
        if (status == Gvcp::kStatusSuccess && privilege_.Ccp() == 0) CloseChannelsLocked();
        memory_.Poke32(B::kCcp, privilege_.Ccp());
        return status;
    }
    if (!privilege_.MayWrite(host)) return Gvcp::kStatusAccessDenied;
    const MemoryMap::Range* range = memory_.Find(address);
    if (range == nullptr) return Gvcp::kStatusInvalidAddress;
    if (range->access == Access::ReadOnly) return Gvcp::kStatusWriteProtect;
    switch (address) {
        case B::kHeartbeatTimeout:
            value = std::max(value, B::kMinHeartbeatTimeoutMs);
            break;
        case B::kTimestampControl:
            if (value & B::kTimestampReset) timestampEpoch_ = now;
            if (value & B::kTimestampLatch) {
                const auto ticks = static_cast<uint64_t>(
                    std::chrono::duration_cast<std::chrono::nanoseconds>(now - timestampEpoch_)
                        .count());
                memory_.Poke32(B::kTimestampHigh, static_cast<uint32_t>(ticks >> 32));
                memory_.Poke32(B::kTimestampLow, static_cast<uint32_t>(ticks));
            }
            return Gvcp::kStatusSuccess;  // a command, nothing to store
        case B::kCurrentIpConfig:
            // Link-local addressing is always on.
            value = (value & (B::kIpConfigPersistent | B::kIpConfigDhcp)) | B::kIpConfigLla;
            break;
        case B::kMcp:
        case B::kScp0:
            value &= 0xFFFF;  // one network interface: only the host port is kept
            break;
        case B::kGvspConfig:
            value &= B::kGvspConfig64BitBlockIds;
            break;
        case B::kScps0:
            if (value & B::kScpsFireTestPacket) ++testPackets_;  // sent by the stream thread
            value &= ~B::kScpsFireTestPacket;                    // self-clearing
            value = (value & ~B::kScpsPacketSizeMask) |
                    RoundPacketSize(std::clamp(value & B::kScpsPacketSizeMask, B::kMinPacketSize,
                                               B::kMaxPacketSize));
            break;
        default:
            if (address >= U::kBase && address <= U::kLast)
                return WriteUserRegisterLocked(address, value);
            break;
    }
    memory_.Poke32(address, value);
    return Gvcp::kStatusSuccess;
}

uint16_t DeviceModel::WriteUserRegisterLocked(uint32_t address, uint32_t value) {
    const bool locked = memory_.Peek32(U::kTLParamsLocked) != 0;
    bool valid = true;
    switch (address) {
        case U::kWidth:
        case U::kHeight:
        case U::kPixelFormat:
            if (locked) return Gvcp::kStatusWriteProtect;
            if (address == U::kWidth)
                valid = value >= kMinImageSize && value <= memory_.Peek32(U::kWidthMax) &&
                        value % kWidthIncrement == 0;
            else if (address == U::kHeight)
                valid = value >= kMinImageSize && value <= memory_.Peek32(U::kHeightMax);
            else
                valid = IsKnownPixelFormat(value);
            break;
        case U::kTestPattern:
            valid = value <= 3;
            break;
        case U::kAcquisitionMode:
            valid = value <= 2;
            break;
        case U::kPayloadType:
            if (locked) return Gvcp::kStatusWriteProtect;
            valid = IsKnownPayloadType(value);
            break;
        case U::kAcquisitionStart:
            StartAcquisitionLocked();
            return Gvcp::kStatusSuccess;
        case U::kTestEventGenerate:
            ++testEvents_;  // sent by the camera once the write is done
            return Gvcp::kStatusSuccess;
        case U::kAcquisitionStop:
            memory_.Poke32(U::kAcquisitionActive, 0);
            return Gvcp::kStatusSuccess;
        case U::kAcquisitionFrameCount:
            valid = value >= 1 && value <= 0xFFFF;
            break;
        case U::kAcquisitionFrameRate: {
            const float rate = BitsFloat(value);
            valid = std::isfinite(rate) && rate >= 1.0f && rate <= 100.0f;
            break;
        }
        case U::kTLParamsLocked:
            valid = value <= 1;
            break;
        default:
            break;
    }
    if (!valid) return Gvcp::kStatusInvalidParameter;
    memory_.Poke32(address, value);
    UpdatePayloadSizeLocked();
    return Gvcp::kStatusSuccess;
}

StreamFormat DeviceModel::FormatLocked() const {
    StreamFormat format;
    format.payloadType = static_cast<uint16_t>(memory_.Peek32(U::kPayloadType));
    format.pixelFormat = memory_.Peek32(U::kPixelFormat);
    format.width = memory_.Peek32(U::kWidth);
    format.height = memory_.Peek32(U::kHeight);
    format.paddingX = format.payloadType == 0x0002 ? 0 : config_.paddingX;
    format.testPattern = memory_.Peek32(U::kTestPattern);
    format.parts = config_.multiPartParts;
    return format;
}

void DeviceModel::UpdatePayloadSizeLocked() {
    const uint64_t bytes = StreamPayload::PayloadSize(FormatLocked());
    memory_.Poke32(U::kPayloadSize, static_cast<uint32_t>(std::min<uint64_t>(bytes, UINT32_MAX)));
}

void DeviceModel::StartAcquisitionLocked() {
    if (memory_.Peek32(U::kAcquisitionActive) != 0) return;  // already running
    ++generation_;
    memory_.Poke32(U::kAcquisitionActive, 1);
}

void DeviceModel::StartAcquisition() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        StartAcquisitionLocked();
    }
    NotifyStream();
}

void DeviceModel::StopAcquisition() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        memory_.Poke32(U::kAcquisitionActive, 0);
    }
    NotifyStream();
}

void DeviceModel::EndAcquisition(uint64_t generation) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (generation == generation_) memory_.Poke32(U::kAcquisitionActive, 0);
}

uint32_t DeviceModel::TakeTestPacketRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(testPackets_, 0);
}

uint32_t DeviceModel::TakeTestEventRequests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(testEvents_, 0);
}

uint64_t DeviceModel::Timestamp() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - timestampEpoch_)
            .count());
}

DeviceModel::StreamState DeviceModel::Stream() const {
    std::lock_guard<std::mutex> lock(mutex_);
    StreamState state;
    if (config_.streamChannels == 0) return state;
    state.ip = memory_.Peek32(B::kScda0);
    state.port = static_cast<uint16_t>(memory_.Peek32(B::kScp0));
    const uint32_t scps = memory_.Peek32(B::kScps0);
    state.packetSize = scps & B::kScpsPacketSizeMask;
    state.doNotFragment = (scps & B::kScpsDoNotFragment) != 0;
    state.delayTicks = memory_.Peek32(B::kScpd0);
    state.extraPacket = (memory_.Peek32(B::kSccfg0) & B::kSccfgExtraPacket) != 0;
    state.extendedIds = (memory_.Peek32(B::kGvspConfig) & B::kGvspConfig64BitBlockIds) != 0;
    state.format = FormatLocked();
    state.acquiring = memory_.Peek32(U::kAcquisitionActive) != 0;
    state.generation = generation_;
    state.mode = memory_.Peek32(U::kAcquisitionMode);
    state.frameCount = memory_.Peek32(U::kAcquisitionFrameCount);
    const float rate = BitsFloat(memory_.Peek32(U::kAcquisitionFrameRate));
    state.frameRate = config_.frameRate <= 0 || !std::isfinite(rate) || rate < 0 ? 0 : rate;
    return state;
}

void DeviceModel::SetStreamListener(std::function<void()> listener) {
    streamListener_ = std::move(listener);
}

void DeviceModel::NotifyStream() const {
    if (streamListener_) streamListener_();
}

void DeviceModel::CloseChannelsLocked() {
    // As a device does when its controlling application goes away.
    memory_.Poke32(B::kMcp, 0);
    memory_.Poke32(B::kMcda, 0);
    memory_.Poke32(B::kScp0, 0);
    memory_.Poke32(B::kScda0, 0);
    memory_.Poke32(U::kAcquisitionActive, 0);
    memory_.Poke32(U::kTLParamsLocked, 0);
}

void DeviceModel::DiscoveryPayload(uint8_t* out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    memory_.Peek(0, out, Gvcp::kDiscoveryPayloadSize);
}

void DeviceModel::NoteCommand(const Host& host, Clock::time_point now) {
    std::lock_guard<std::mutex> lock(mutex_);
    privilege_.Heartbeat(host, now);
}

bool DeviceModel::ExpireHeartbeat(Clock::time_point now) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if ((config_.gvcpCapability & Capability::kHeartbeatDisable) &&
            (memory_.Peek32(B::kGvcpConfig) & B::kGvcpConfigHeartbeatDisable))
            return false;
        const std::chrono::milliseconds timeout(memory_.Peek32(B::kHeartbeatTimeout));
        if (!privilege_.Expired(now, timeout)) return false;
        privilege_.Release();
        memory_.Poke32(B::kCcp, 0);
        CloseChannelsLocked();
    }
    NotifyStream();
    return true;
}

std::array<uint8_t, 6> DeviceModel::Mac() const {
    return config_.mac;
}

uint32_t DeviceModel::CurrentIp() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return memory_.Peek32(B::kCurrentIp);
}

void DeviceModel::SetNetwork(uint32_t ip, uint32_t mask, uint32_t gateway) {
    std::lock_guard<std::mutex> lock(mutex_);
    memory_.Poke32(B::kCurrentIp, ip);
    memory_.Poke32(B::kSubnetMask, mask != 0 ? mask : DefaultMask(ip));
    memory_.Poke32(B::kGateway, gateway);
}

uint32_t DeviceModel::GvcpCapability() const {
    return config_.gvcpCapability;
}

DeviceModel::MessageTarget DeviceModel::MessageChannel() const {
    std::lock_guard<std::mutex> lock(mutex_);
    MessageTarget target;
    if (config_.messageChannels == 0) return target;
    target.ip = memory_.Peek32(B::kMcda);
    target.port = static_cast<uint16_t>(memory_.Peek32(B::kMcp) & 0xFFFF);
    target.timeoutMs = memory_.Peek32(B::kMctt);
    target.retries = memory_.Peek32(B::kMcrc);
    return target;
}

void DeviceModel::SetSourcePorts(uint16_t messagePort, uint16_t streamPort) {
    std::lock_guard<std::mutex> lock(mutex_);
    memory_.Poke32(B::kMcsp, messagePort);
    memory_.Poke32(B::kScsp0, streamPort);
}

uint32_t DeviceModel::Peek(uint32_t address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return memory_.Peek32(address);
}

void DeviceModel::Poke(uint32_t address, uint32_t value) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        memory_.Poke32(address, value);
        UpdatePayloadSizeLocked();
    }
    NotifyStream();
}

void DeviceModel::Reboot() {
    struct NotifyAfter {
        const DeviceModel& model;
        ~NotifyAfter() { model.NotifyStream(); }
    } notify{*this};  // runs after the lock below is released
    std::lock_guard<std::mutex> lock(mutex_);
    uint8_t userName[B::kShortStringSize];
    memory_.Peek(B::kUserName, userName, sizeof userName);
    const uint32_t ip = memory_.Peek32(B::kCurrentIp);
    const uint32_t mask = memory_.Peek32(B::kSubnetMask);
    const uint32_t gateway = memory_.Peek32(B::kGateway);
    const uint32_t mcsp = memory_.Peek32(B::kMcsp);
    const uint32_t scsp = memory_.Peek32(B::kScsp0);
    BuildLocked();
    memory_.Poke(B::kUserName, userName, sizeof userName);
    memory_.Poke32(B::kCurrentIp, ip);
    memory_.Poke32(B::kSubnetMask, mask);
    memory_.Poke32(B::kGateway, gateway);
    memory_.Poke32(B::kMcsp, mcsp);
    memory_.Poke32(B::kScsp0, scsp);
}

uint32_t DeviceModel::RoundPacketSize(uint32_t size) const {
    const uint32_t granularity = std::max<uint32_t>(config_.packetSizeGranularity, 1);
    return std::max<uint32_t>(size / granularity * granularity, B::kMinPacketSize);
}

}  // namespace GevSim
