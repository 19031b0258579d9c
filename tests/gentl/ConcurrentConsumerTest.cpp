// Several consumer threads share one producer and two streaming cameras and
// call it in random interleavings: open, stream, read ports, wait for
// buffers, close at every level, unload and initialise again, each thread
// with whatever handles the others left behind. Every call must return (the
// whole run is bounded), with an error code a consumer can act on, and once
// the threads are done and the library closed both cameras must have been
// let go. The sanitizer builds check that no call touched freed memory or raced.
//
//   GEVTLKRV_STRESS_SEED=n      first seed (default 1)
//   GEVTLKRV_STRESS_ROUNDS=n    rounds, each with a seed of its own (default 2)
//   GEVTLKRV_STRESS_STEPS=n     calls per thread and round (default 150)
//   GEVTLKRV_STRESS_MINUTES=m   rounds until m minutes passed (the long run)
#include <array>
#include <atomic>
#include <cstdlib>
#include <future>
#include <map>
#include <mutex>
#include <random>

#include "GenTLFixture.h"

using namespace GenTLTest;

namespace {

constexpr int kThreads = 4;
constexpr int kCameras = 2;
constexpr int kBuffers = 3;
constexpr uint32_t kAcquisitionStartRegister = 0x00010020;
constexpr uint32_t kAcquisitionStopRegister = 0x00010024;
constexpr uint32_t kPrivilegeRegister = 0x0A00;

// What a consumer may be told by a call whose handles another thread may
// have closed, or whose library another thread may have closed.
bool IsAcceptable(GC_ERROR result) {
    switch (result) {
        case GC_ERR_SUCCESS:
        case GC_ERR_INVALID_HANDLE:
        case GC_ERR_NOT_INITIALIZED:
        case GC_ERR_RESOURCE_IN_USE:
        case GC_ERR_BUSY:
        case GC_ERR_ABORT:
        case GC_ERR_TIMEOUT:
        case GC_ERR_INVALID_PARAMETER:
        case GC_ERR_INVALID_ID:
        case GC_ERR_ACCESS_DENIED:
        case GC_ERR_NO_DATA:
        case GC_ERR_NOT_AVAILABLE:
        case GC_ERR_INVALID_INDEX:
        case GC_ERR_INVALID_BUFFER:
        // A camera access or a start refused by the protocol library while
        // another thread closes the same camera.
        case GC_ERR_ERROR:
            return true;
        default:
            return false;
    }
}

// The handles the threads share: any thread may replace or close any of them.
struct SharedHandles {
    std::atomic<void*> system{nullptr};
    std::atomic<void*> iface{nullptr};
    std::array<std::atomic<void*>, kCameras> device{};
    std::array<std::atomic<void*>, kCameras> remote{};
    std::array<std::atomic<void*>, kCameras> stream{};
    std::array<std::atomic<void*>, kCameras> event{};
    std::array<std::array<std::atomic<void*>, kBuffers>, kCameras> buffers{};
};

class ConcurrentConsumers : public GenTLCameraTest {
protected:
    void SetUp() override {
        GenTLCameraTest::SetUp();
        if (IsSkipped()) return;
        for (int k = 0; k < kCameras; ++k) {
            GevSim::CameraConfig config;
            config.address = k == 0 ? "127.0.0.2" : "127.0.0.3";
            config.serial = k == 0 ? "STRESS-A" : "STRESS-B";
            config.mac = {0x02, 0x00, 0x5E, 0x10, 0x00, static_cast<uint8_t>(k + 1)};
            config.width = 64;
            config.height = 48;
            config.frameRate = 200.0f;
            cameras.push_back(std::make_unique<GevSim::Camera>(config));
            std::string error;
            ASSERT_TRUE(cameras.back()->Start(&error)) << error;
        }
        ASSERT_EQ(Discover(), 2u);
        for (int k = 0; k < kCameras; ++k) ids[k] = IDOfSerial(cameras[k]->config().serial);
        shared.system = system;
        shared.iface = iface;
    }

    // One call's result: acceptable ones are counted, others recorded.
    void Note(const char* call, GC_ERROR result) {
        std::lock_guard<std::mutex> guard(resultsLock);
        ++results[{call, result}];
        if (!IsAcceptable(result))
            unexpected.push_back(std::string(call) + " " + std::to_string(result));
    }

    void Step(std::mt19937& random);
    void RunThread(uint32_t seed, uint64_t steps);

    std::array<std::string, kCameras> ids;
    SharedHandles shared;
    std::mutex resultsLock;
    std::map<std::pair<std::string, GC_ERROR>, uint64_t> results;
    std::vector<std::string> unexpected;
};

uint32_t BigEndian(uint32_t value) {
    return ((value & 0xFF) << 24) | ((value & 0xFF00) << 8) | ((value >> 8) & 0xFF00) |
           (value >> 24);
}

void ConcurrentConsumers::Step(std::mt19937& random) {
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); };
    const int k = pick(kCameras);
    switch (pick(31)) {
        case 0:
        case 1: {
            Note("GCInitLib", cti.GCInitLib());
            TL_HANDLE opened = nullptr;
            if (cti.TLOpen(&opened) == GC_ERR_SUCCESS) shared.system = opened;
            IF_HANDLE iface = nullptr;
            const GC_ERROR result = cti.TLOpenInterface(shared.system, "GigE", &iface);
            Note("TLOpenInterface", result);
            if (result == GC_ERR_SUCCESS || result == GC_ERR_RESOURCE_IN_USE) shared.iface = iface;
            break;
        }
        case 2: {
            bool8_t changed = 0;
            Note("IFUpdateDeviceList", cti.IFUpdateDeviceList(shared.iface, &changed, 100));
            break;
        }
        case 3:
        case 4:
        case 5: {
            DEV_HANDLE opened = nullptr;
            const GC_ERROR result =
                cti.IFOpenDevice(shared.iface, ids[k].c_str(), DEVICE_ACCESS_CONTROL, &opened);
            Note("IFOpenDevice", result);
            if (result == GC_ERR_SUCCESS) {
                shared.device[k] = opened;
                PORT_HANDLE port = nullptr;
                if (cti.DevGetPort(opened, &port) == GC_ERR_SUCCESS) shared.remote[k] = port;
            }
            break;
        }
        case 6:
        case 7: {
            uint32_t value = 0;
            size_t size = sizeof value;
            Note("GCReadPort", cti.GCReadPort(shared.remote[k], 0x0938, &value, &size));
            break;
        }
        case 8: {
            const uint32_t one = BigEndian(1);
            size_t size = sizeof one;
            const uint32_t address =
                pick(3) == 0 ? kAcquisitionStopRegister : kAcquisitionStartRegister;
            Note("GCWritePort", cti.GCWritePort(shared.remote[k], address, &one, &size));
            break;
        }
        case 9:
        case 10:
        case 11: {
            DS_HANDLE opened = nullptr;
            const GC_ERROR result = cti.DevOpenDataStream(shared.device[k], "DS0", &opened);
            Note("DevOpenDataStream", result);
            if (result != GC_ERR_SUCCESS) break;
            shared.stream[k] = opened;
            for (auto& slot : shared.buffers[k]) {
                BUFFER_HANDLE buffer = nullptr;
                if (cti.DSAllocAndAnnounceBuffer(opened, 64 * 48, nullptr, &buffer) ==
                    GC_ERR_SUCCESS) {
                    slot = buffer;
                    cti.DSQueueBuffer(opened, buffer);
                }
            }
            EVENT_HANDLE event = nullptr;
            if (cti.GCRegisterEvent(opened, EVENT_NEW_BUFFER, &event) == GC_ERR_SUCCESS)
                shared.event[k] = event;
            break;
        }
        case 12:
        case 13:
        case 14: {
            const GC_ERROR result =
                cti.DSStartAcquisition(shared.stream[k], ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE);
            Note("DSStartAcquisition", result);
            if (result == GC_ERR_SUCCESS) {
                const uint32_t one = BigEndian(1);
                size_t size = sizeof one;
                cti.GCWritePort(shared.remote[k], kAcquisitionStartRegister, &one, &size);
            }
            break;
        }
        case 15:
        case 16:
        case 17:
        case 18:
        case 19: {
            uint8_t data[16] = {};
            size_t size = sizeof data;
            const GC_ERROR result = cti.EventGetData(shared.event[k], data, &size, 30);
            Note("EventGetData", result);
            if (result == GC_ERR_SUCCESS) {
                BUFFER_HANDLE buffer = nullptr;
                std::memcpy(&buffer, data, sizeof buffer);
                Note("DSQueueBuffer", cti.DSQueueBuffer(shared.stream[k], buffer));
            }
            break;
        }
        case 20: {
            size_t size = 8;
            uint64_t value = 0;
            INFO_DATATYPE type = 0;
            Note("DSGetBufferInfo",
                 cti.DSGetBufferInfo(shared.stream[k], shared.buffers[k][pick(kBuffers)],
                                     BUFFER_INFO_SIZE_FILLED, &type, &value, &size));
            break;
        }
        case 21:
            Note("DSStopAcquisition",
                 cti.DSStopAcquisition(shared.stream[k], ACQ_STOP_FLAGS_DEFAULT));
            break;
        case 22:
            Note("DSFlushQueue",
                 cti.DSFlushQueue(shared.stream[k], static_cast<ACQ_QUEUE_TYPE>(pick(5))));
            break;
        case 23:
            Note("DSRevokeBuffer",
                 cti.DSRevokeBuffer(shared.stream[k], shared.buffers[k][pick(kBuffers)], nullptr,
                                    nullptr));
            break;
        case 24:
            Note("EventKill", cti.EventKill(shared.event[k]));
            break;
        case 25:
            Note("DSClose", cti.DSClose(shared.stream[k]));
            break;
        case 26: {
            char text[256] = {};
            size_t size = sizeof text;
            INFO_DATATYPE type = 0;
            Note("DevGetInfo",
                 cti.DevGetInfo(shared.device[k], DEVICE_INFO_ID, &type, text, &size));
            break;
        }
        case 27:
            if (pick(2) == 0) Note("DevClose", cti.DevClose(shared.device[k]));
            break;
        case 28:
            if (pick(4) == 0) Note("IFClose", cti.IFClose(shared.iface));
            break;
        case 29:
            if (pick(6) == 0) Note("TLClose", cti.TLClose(shared.system));
            break;
        case 30:
            if (pick(8) == 0) Note("GCCloseLib", cti.GCCloseLib());
            break;
    }
}

void ConcurrentConsumers::RunThread(uint32_t seed, uint64_t steps) {
    std::mt19937 random(seed);
    for (uint64_t i = 0; i < steps; ++i) Step(random);
}

}  // namespace

TEST_F(ConcurrentConsumers, RandomInterleavingsReturnAndReleaseTheCameras) {
    const uint64_t firstSeed = EnvNumber("GEVTLKRV_STRESS_SEED", 1);
    const uint64_t steps = EnvNumber("GEVTLKRV_STRESS_STEPS", 150);
    const uint64_t minutes = EnvNumber("GEVTLKRV_STRESS_MINUTES", 0);
    const uint64_t rounds = minutes > 0 ? UINT64_MAX : EnvNumber("GEVTLKRV_STRESS_ROUNDS", 2);
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(minutes);
    uint64_t round = 0;
    for (; round < rounds; ++round) {
        if (minutes > 0 && std::chrono::steady_clock::now() >= end) break;
        const uint64_t seed = firstSeed + round;
        std::vector<std::future<void>> threads;
        for (int t = 0; t < kThreads; ++t) {
            const auto threadSeed = static_cast<uint32_t>(seed * 131 + static_cast<uint64_t>(t));
            threads.push_back(std::async(
                std::launch::async, [this, threadSeed, steps] { RunThread(threadSeed, steps); }));
        }
        // Generous: every exchange is bounded, a hang is a fault.
        for (auto& thread : threads)
            ASSERT_EQ(thread.wait_for(std::chrono::minutes(3)), std::future_status::ready)
                << "a call never returned; seed " << seed;

        // Closing the library lets everything go; both cameras are free again.
        cti.GCCloseLib();
        for (int k = 0; k < kCameras; ++k) {
            EXPECT_TRUE(WaitFor([&] { return cameras[k]->Register(kPrivilegeRegister) == 0; }))
                << "camera " << k << " still held after the library closed; seed " << seed;
        }
        EXPECT_TRUE(unexpected.empty()) << "seed " << seed << ": " << unexpected.front();
        if (HasFailure()) break;
        // The next round starts from a freshly opened library.
        ASSERT_EQ(cti.GCInitLib(), GC_ERR_SUCCESS);
        TL_HANDLE opened = nullptr;
        ASSERT_EQ(cti.TLOpen(&opened), GC_ERR_SUCCESS);
        system = opened;
        ASSERT_EQ(cti.TLOpenInterface(system, "GigE", &iface), GC_ERR_SUCCESS);
        ASSERT_EQ(Discover(), 2u);
        shared.system = system;
        shared.iface = iface;
    }
    uint64_t calls = 0, successes = 0;
    for (const auto& entry : results) {
        calls += entry.second;
        if (entry.first.second == GC_ERR_SUCCESS) successes += entry.second;
    }
    std::printf("[ stress   ] %llu rounds of %d threads x %llu steps: %llu calls, %llu succeeded\n",
                static_cast<unsigned long long>(round), kThreads,
                static_cast<unsigned long long>(steps), static_cast<unsigned long long>(calls),
                static_cast<unsigned long long>(successes));
    if (EnvNumber("GEVTLKRV_STRESS_VERBOSE", 0) != 0) {
        for (const auto& entry : results)
            std::printf("  %-20s %6d  %llu\n", entry.first.first.c_str(), entry.first.second,
                        static_cast<unsigned long long>(entry.second));
    }
    // The run must have done real work, not only refusals. Not EventGetData: whether a
    // frame comes within its 30 ms wait depends on the scheduler (under the sanitizers
    // on a loaded machine none may), and delivery has tests of its own.
    for (const char* call :
         {"IFOpenDevice", "DevOpenDataStream", "DSStartAcquisition", "DevClose", "DSClose"}) {
        const uint64_t succeeded = results[{call, GC_ERR_SUCCESS}];
        EXPECT_GT(succeeded, 0u) << call << " never succeeded";
    }
}
