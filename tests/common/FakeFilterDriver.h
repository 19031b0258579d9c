// A stand-in for the krvGEVFilter packet filter driver: it honours the driver's
// control records and reads, remembers what it received, and fails on request.
// Its byte offsets are written out here on purpose rather than taken from the
// library's codec, so tests compare the library against an independent reading.
//
// Threads: every field of FakeDriverState is guarded by its lock while the
// library calls in; tests read the state between calls.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "DriverDevice.h"
#include "VantorLib.h"

namespace FakeFilter {

// Control codes.
constexpr uint32_t kAdapterControl = 0x12C808;
constexpr uint32_t kStart = 0x12C814;
constexpr uint32_t kStop = 0x12C818;
constexpr uint32_t kPacketResend = 0x12C81C;
constexpr uint32_t kVersion = 0x12C824;
constexpr uint32_t kImageRecord = 0x12C828;
constexpr uint32_t kStatistics = 0x12C82C;
constexpr uint32_t kBufferCount = 0x12C830;
constexpr uint32_t kOutOfOrder = 0x12C834;
constexpr uint32_t kAnnounce = 0x12C83C;
constexpr uint32_t kRelease = 0x12C840;
constexpr uint32_t kQueue = 0x12C844;
// Keys of scripted failures that are no control code of their own.
constexpr uint32_t kAdapterQuery = 0xF0000002;  // adapter control in query mode
constexpr uint32_t kRead = 0xF0000001;

// System error numbers the double answers with when a record is wrong.
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotReady = 21;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInsufficientBuffer = 122;

struct ControlCall {
    uint32_t code;
    std::vector<uint8_t> in;
    size_t outSize;
};

struct FakeDriverState {
    std::mutex lock;

    // Opening the device file.
    bool openFails = false;
    std::vector<std::string> openedPaths;
    int liveDevices = 0;

    // Everything received, in order.
    std::vector<ControlCall> calls;
    std::vector<size_t> readSizes;
    std::vector<uint8_t> readIndexes;  // first byte of each read buffer

    // Adapter: the code answered to enable/disable, then the states answered
    // to queries: `stateScript` first, then 4 (ready) while enabled, else 0.
    uint32_t adapterAnswer = 0;
    std::deque<uint8_t> stateScript;
    int stateQueries = 0;
    bool adapterEnabled = false;
    std::u16string adapterName;
    std::vector<uint32_t> adapterModes;

    // Scripted failures per code (or kAdapterQuery / kRead), consumed in order.
    std::map<uint32_t, std::deque<uint32_t>> failures;
    void Fail(uint32_t code, uint32_t error, int times = 1) {
        for (int i = 0; i < times; ++i) failures[code].push_back(error);
    }

    // Acquisition, per device handle.
    std::map<uint8_t, std::vector<uint8_t>> startRecords;
    std::set<uint8_t> acquiring;
    std::map<uint8_t, uint16_t> bufferCounts;
    std::map<uint8_t, uint8_t> outOfOrderTolerance;
    std::map<uint8_t, bool> resend;
    std::map<uint8_t, std::vector<uint64_t>> announced;
    std::map<uint8_t, std::vector<uint64_t>> queued;
    int releases = 0;

    // Answers.
    uint8_t versionMajor = 3, versionMinorPacked = 0x25;
    uint32_t frames = 0, missingFrames = 0, lostPackets = 0, windowFrames = 0, discarded = 0;
    uint64_t windowMs = 0;
    size_t statisticsAnswerSize = 40;  // older drivers: 32
    Vantor::GevImageInfo lastImage{};
    uint8_t resendRequested = 0, resendReceived = 0;
    size_t imageAnswerSize = 72;
    uint16_t nextSlot = 0;

    static uint8_t PatternByte(size_t i) { return static_cast<uint8_t>(i * 31 + 7); }

    std::vector<uint32_t> Codes() {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<uint32_t> codes;
        for (const ControlCall& call : calls) codes.push_back(call.code);
        return codes;
    }
};

namespace detail {

template <class T>
void Put(uint8_t* at, T value) {
    for (size_t i = 0; i < sizeof(T); ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}
template <class T>
T Get(const uint8_t* at) {
    T value = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        value |= static_cast<T>(static_cast<T>(at[i]) << (8 * i));
    return value;
}

// GevImageInfo as the driver writes it at byte 8 of its image record.
inline void PutImageInfo(uint8_t* at, const Vantor::GevImageInfo& info) {
    Put<uint64_t>(at + 0, info.blockId);
    Put<uint64_t>(at + 8, info.timestamp);
    Put<uint32_t>(at + 16, info.pixelFormat);
    Put<uint32_t>(at + 20, info.sizeX);
    Put<uint32_t>(at + 24, info.sizeY);
    Put<uint32_t>(at + 28, info.offsetX);
    Put<uint32_t>(at + 32, info.offsetY);
    Put<uint16_t>(at + 36, info.paddingX);
    Put<uint16_t>(at + 38, info.paddingY);
    Put<uint32_t>(at + 40, info.missingPackets);
    Put<uint16_t>(at + 44, info.payloadType);
    Put<uint16_t>(at + 46, info.reserved);
    Put<uint32_t>(at + 48, info.chunkDataLength);
    Put<uint32_t>(at + 52, info.chunkLayoutId);
}

}  // namespace detail

class FakeFilterDevice : public Platform::DriverDevice {
public:
    explicit FakeFilterDevice(std::shared_ptr<FakeDriverState> state) : state_(std::move(state)) {
        std::lock_guard<std::mutex> guard(state_->lock);
        ++state_->liveDevices;
    }
    ~FakeFilterDevice() override {
        std::lock_guard<std::mutex> guard(state_->lock);
        --state_->liveDevices;
    }

    bool Control(uint32_t code, const void* in, size_t inSize, void* out, size_t outSize,
                 size_t* returned, uint32_t* error) override {
        using detail::Get;
        using detail::Put;
        std::lock_guard<std::mutex> guard(state_->lock);
        FakeDriverState& s = *state_;
        const uint8_t* input = static_cast<const uint8_t*>(in);
        uint8_t* output = static_cast<uint8_t*>(out);
        s.calls.push_back({code, std::vector<uint8_t>(input, input + inSize), outSize});
        *returned = 0;
        auto fail = [&](uint32_t number) {
            *error = number;
            return false;
        };

        if (code == kAdapterControl) {
            if (inSize != 520) return fail(kErrorInvalidParameter);
            uint32_t length = Get<uint32_t>(input + 512), mode = Get<uint32_t>(input + 516);
            if (length > 510 || length % 2 != 0 || mode > 2) return fail(kErrorInvalidParameter);
            if (mode == 2) {
                ++s.stateQueries;
                if (uint32_t e = Scripted(kAdapterQuery)) return fail(e);
                if (outSize < 1) return fail(kErrorInsufficientBuffer);
                uint8_t state = s.adapterEnabled ? 4 : 0;
                if (!s.stateScript.empty()) {
                    state = s.stateScript.front();
                    s.stateScript.pop_front();
                }
                output[0] = state;
                *returned = 1;
                return true;
            }
            if (uint32_t e = Scripted(code)) return fail(e);
            if (outSize < 4) return fail(kErrorInsufficientBuffer);
            s.adapterModes.push_back(mode);
            Put<uint32_t>(output, s.adapterAnswer);
            *returned = 4;
            if (s.adapterAnswer == 0) {
                s.adapterEnabled = mode == 1;
                s.adapterName.clear();
                for (uint32_t i = 0; i < length; i += 2)
                    s.adapterName.push_back(static_cast<char16_t>(Get<uint16_t>(input + i)));
            }
            return true;
        }
        if (uint32_t e = Scripted(code)) return fail(e);
        if (code == kVersion) {
            if (inSize != 1) return fail(kErrorInvalidParameter);
            if (outSize < 2) return fail(kErrorInsufficientBuffer);
            output[0] = s.versionMajor;
            output[1] = s.versionMinorPacked;
            *returned = 2;
            return true;
        }
        // Every other request belongs to a device on an enabled adapter.
        if (!s.adapterEnabled) return fail(kErrorNotReady);
        const uint8_t handle = code == kStart || code == kStop ? (inSize > 32 ? input[32] : 0)
                                                               : (inSize > 0 ? input[0] : 0);
        if (handle < 1 || handle > Vantor::kMaxDevices) return fail(kErrorInvalidHandle);
        switch (code) {
            case kStart:
                if (inSize != 44) return fail(kErrorInvalidParameter);
                if (s.acquiring.count(handle) != 0) return fail(170);
                s.startRecords[handle].assign(input, input + inSize);
                s.acquiring.insert(handle);
                return true;
            case kStop:
                if (inSize != 44) return fail(kErrorInvalidParameter);
                s.acquiring.erase(handle);
                if (outSize >= 44) {
                    std::memcpy(output, input, 44);
                    *returned = 44;
                }
                return true;
            case kPacketResend:
                if (inSize != 2 || input[1] > 1) return fail(kErrorInvalidParameter);
                s.resend[handle] = input[1] == 1;
                return true;
            case kOutOfOrder:
                if (inSize != 2) return fail(kErrorInvalidParameter);
                s.outOfOrderTolerance[handle] = input[1];
                return true;
            case kBufferCount:
                if (inSize != 4) return fail(kErrorInvalidParameter);
                s.bufferCounts[handle] = Get<uint16_t>(input + 2);
                return true;
            case kImageRecord: {
                if (inSize != 72) return fail(kErrorInvalidParameter);
                if (outSize < 72) return fail(kErrorInsufficientBuffer);
                uint8_t record[72] = {};
                record[0] = handle;
                detail::PutImageInfo(record + 8, s.lastImage);
                record[64] = s.resendRequested;
                record[65] = s.resendReceived;
                std::memcpy(output, record, s.imageAnswerSize);
                *returned = s.imageAnswerSize;
                return true;
            }
            case kStatistics: {
                if (inSize != 40) return fail(kErrorInvalidParameter);
                if (outSize < 40) return fail(kErrorInsufficientBuffer);
                uint8_t record[40] = {};
                record[0] = handle;
                Put<uint32_t>(record + 4, s.frames);
                Put<uint32_t>(record + 8, s.missingFrames);
                Put<uint32_t>(record + 12, s.lostPackets);
                Put<uint32_t>(record + 16, s.windowFrames);
                Put<uint64_t>(record + 24, s.windowMs);
                Put<uint32_t>(record + 32, s.discarded);
                std::memcpy(output, record, s.statisticsAnswerSize);
                *returned = s.statisticsAnswerSize;
                return true;
            }
            case kAnnounce:
            case kRelease:
            case kQueue:
                if (inSize != 24) return fail(kErrorInvalidParameter);
                if (code == kAnnounce) s.announced[handle].push_back(Get<uint64_t>(input + 8));
                if (code == kQueue) s.queued[handle].push_back(Get<uint64_t>(input + 16));
                if (code == kRelease) {
                    s.announced.erase(handle);
                    ++s.releases;
                }
                return true;
            default:
                return fail(1);  // ERROR_INVALID_FUNCTION
        }
    }

    // An image read fills the buffer with PatternByte(i); once user buffers
    // are announced, a read answers the next ring slot number instead.
    bool Read(void* buffer, size_t size, size_t* returned, uint32_t* error) override {
        std::lock_guard<std::mutex> guard(state_->lock);
        FakeDriverState& s = *state_;
        uint8_t* bytes = static_cast<uint8_t*>(buffer);
        *returned = 0;
        auto fail = [&](uint32_t number) {
            *error = number;
            return false;
        };
        s.readSizes.push_back(size);
        s.readIndexes.push_back(size > 0 ? bytes[0] : 0xFF);
        if (uint32_t e = Scripted(kRead)) return fail(e);
        if (size == 0 || bytes[0] >= Vantor::kMaxDevices) return fail(kErrorInvalidParameter);
        const uint8_t handle = static_cast<uint8_t>(bytes[0] + 1);
        if (s.acquiring.count(handle) == 0) return fail(kErrorNotReady);
        if (s.announced.count(handle) != 0) {
            if (size < 2) return fail(kErrorInsufficientBuffer);
            detail::Put<uint16_t>(bytes, s.nextSlot);
            *returned = 2;
            return true;
        }
        for (size_t i = 0; i < size; ++i) bytes[i] = FakeDriverState::PatternByte(i);
        *returned = size;
        return true;
    }

private:
    // The next scripted failure of `key`, or 0. Called with the lock held.
    uint32_t Scripted(uint32_t key) {
        auto it = state_->failures.find(key);
        if (it == state_->failures.end() || it->second.empty()) return 0;
        uint32_t number = it->second.front();
        it->second.pop_front();
        return number;
    }

    std::shared_ptr<FakeDriverState> state_;
};

// Installs the double as the way driver devices are opened, for its lifetime.
class FakeDriverInstall {
public:
    FakeDriverInstall() : state_(std::make_shared<FakeDriverState>()) {
        std::shared_ptr<FakeDriverState> state = state_;
        Platform::SetDriverDeviceFactory(
            [state](const std::string& path) -> std::unique_ptr<Platform::DriverDevice> {
                {
                    std::lock_guard<std::mutex> guard(state->lock);
                    state->openedPaths.push_back(path);
                    if (state->openFails) return nullptr;
                }
                return std::make_unique<FakeFilterDevice>(state);
            });
    }
    ~FakeDriverInstall() { Platform::SetDriverDeviceFactory(nullptr); }
    FakeDriverInstall(const FakeDriverInstall&) = delete;
    FakeDriverInstall& operator=(const FakeDriverInstall&) = delete;

    FakeDriverState& state() { return *state_; }
    FakeDriverState* operator->() { return state_.get(); }

private:
    std::shared_ptr<FakeDriverState> state_;
};

}  // namespace FakeFilter
