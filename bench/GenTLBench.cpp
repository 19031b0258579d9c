// GenTL benchmarks: the whole consumer path through the built GEVTLKRV.cti.
//   gentl_bench throughput [--seconds S] [--rounds N]
//       gevsim sending as fast as it can over loopback (the stream of stream_bench
//       loopback, SCPS 1500 and 9000), received by the protocol library alone and
//       through GenTL (EventGetData/DSQueueBuffer), in copy and zero-copy delivery,
//       N rounds of S seconds each (default 3 of 5 s); then the GenTL layer's cost
//       against the library's: the medians of CPU time per frame and frames/s.
//   gentl_bench soak [--minutes M] [--loss R] [--seed S] [--zero-copy] [--fps N|max]
//                    [--link-speed MBPS] [--packet-size B] [--width W] [--height H]
//                    [--resend-count N]
//       one lossy stream through GenTL with packet resend for M minutes: every frame
//       must be complete, hold the test pattern and follow its predecessor's ID;
//       VmRSS at the start, every minute and at the end. Exit status 1 when a frame
//       was lost, incomplete, corrupt or delivered twice; a frame delivered after a
//       later one is counted and shown, as nothing of it is lost.
// Run both inside tests/netns/netns-run. Lines: what, frames, seconds, frames/s, MB/s.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CtiLibrary.h"
#include "GevSimCamera.h"
#include "Socket.h"
#include "VantorLib.h"

using Clock = std::chrono::steady_clock;

namespace {

using namespace GenTL;

constexpr const char* kCameraAddress = "127.0.0.2";
// The simulator's registers (gevsim.xml) and the bootstrap packet size register.
constexpr uint64_t kPayloadSizeRegister = 0x00010018;
constexpr uint64_t kAcquisitionStartRegister = 0x00010020;
constexpr uint64_t kAcquisitionStopRegister = 0x00010024;
constexpr uint64_t kStreamPacketSizeRegister = 0x0D04;
// The data stream module's registers (KRDS.xml).
constexpr uint64_t kStreamPacketResend = 0x10;
constexpr uint64_t kStreamPacketResendCount = 0x14;
constexpr uint64_t kStreamRingBufferCount = 0x28;
constexpr uint64_t kStreamUseUserBuffer = 0x224;
constexpr size_t kAnnouncedBuffers = 8;
// Ring slots of the library in copy delivery, as stream_bench gives its receiver.
constexpr uint32_t kCopyRingSlots = 16;
constexpr uint32_t kWidth = 2048, kHeight = 1536;

struct Measurement {
    uint64_t frames = 0;      // complete
    uint64_t incomplete = 0;  // delivered with packets missing
    double seconds = 0;
    double cpuSeconds = 0;  // this process, user + system, over the window
    uint32_t payload = 0;
    double CpuPerFrameUs() const {
        const uint64_t delivered = frames + incomplete;
        return delivered > 0 ? cpuSeconds / delivered * 1e6 : 0.0;
    }
    double Fps() const { return seconds > 0 ? frames / seconds : 0.0; }
};

void Report(const char* what, uint64_t frames, double seconds, uint64_t frameBytes) {
    std::printf("%-34s frames %7llu  %6.2f s  %9.1f fps  %8.1f MB/s\n", what,
                static_cast<unsigned long long>(frames), seconds, frames / seconds,
                frames * double(frameBytes) / seconds / 1e6);
}

void Report(const char* what, const Measurement& m) {
    Report(what, m.frames, m.seconds, m.payload);
    std::printf("%-34s incomplete %llu, CPU %.1f us per frame\n", "",
                static_cast<unsigned long long>(m.incomplete), m.CpuPerFrameUs());
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// VmRSS of this process in kB, 0 when /proc does not tell.
long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return 0;
}

// Waits up to `limit` for `fd` to become readable.
bool Readable(int fd, std::chrono::milliseconds limit) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, static_cast<int>(limit.count())) > 0;
}

// Reads exactly `size` bytes unless the writer goes away or `limit` passes.
bool ReadAll(int fd, void* data, size_t size, std::chrono::milliseconds limit) {
    auto* bytes = static_cast<uint8_t*>(data);
    const auto end = Clock::now() + limit;
    size_t done = 0;
    while (done < size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0 || !Readable(fd, left)) return false;
        const ssize_t got = read(fd, bytes + done, size - done);
        if (got <= 0) return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

class Pipe {
public:
    Pipe() {
        if (pipe2(m_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int ReadEnd() const { return m_fds[0]; }
    int WriteEnd() const { return m_fds[1]; }
    void CloseRead() { Close(m_fds[0]); }
    void CloseWrite() { Close(m_fds[1]); }

private:
    static void Close(int& fd) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    int m_fds[2] = {-1, -1};
};

// A child process stopped with SIGTERM (SIGKILL when it does not end) and reaped.
class Child {
public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { Stop(); }
    void Adopt(pid_t pid) { m_pid = pid; }
    void Terminate() {
        if (m_pid > 0) kill(m_pid, SIGTERM);
    }
    void Stop() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
};

// The `gevsim` program as its own process, so that the CPU time measured here is
// the receiver's; ready once it says it serves.
class GevsimProgram {
public:
    explicit GevsimProgram(uint32_t packetSize, const std::string& serial) {
        std::vector<std::string> arguments = {GEVSIM_PATH,
                                              "--address",
                                              kCameraAddress,
                                              "--fps",
                                              "max",
                                              "--link-speed",
                                              "100000",
                                              "--width",
                                              std::to_string(kWidth),
                                              "--height",
                                              std::to_string(kHeight),
                                              "--packet-size",
                                              std::to_string(packetSize),
                                              "--serial",
                                              serial};
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::fflush(stdout);
        const pid_t pid = fork();
        if (pid < 0) throw std::runtime_error("fork failed");
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            dup2(m_output.WriteEnd(), STDOUT_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        m_child.Adopt(pid);
        m_output.CloseWrite();
        char line[128] = {};
        if (!ReadAll(m_output.ReadEnd(), line, 8, std::chrono::seconds(5)) ||
            std::strncmp(line, "gevsim: ", 8) != 0)
            throw std::runtime_error(std::string("gevsim did not start: ") + GEVSIM_PATH);
    }

private:
    Pipe m_output;  // kept open: gevsim must not meet a closed stdout
    Child m_child;
};

// The simulator in a child process of its own that tells its stream counters
// (packets dropped, resend requests, packets resent) when it is stopped. Made
// before this process starts any thread, so the child may run the camera's.
class SimulatorProcess {
public:
    SimulatorProcess(const GevSim::CameraConfig& config, double lossRatio, uint64_t seed) {
        std::fflush(stdout);
        const pid_t pid = fork();
        if (pid < 0) throw std::runtime_error("fork failed");
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            m_ready.CloseRead();
            m_statistics.CloseRead();
            _exit(Serve(config, lossRatio, seed));
        }
        m_child.Adopt(pid);
        m_ready.CloseWrite();
        m_statistics.CloseWrite();
        char started = 0;
        if (!ReadAll(m_ready.ReadEnd(), &started, 1, std::chrono::seconds(5)) || started != 1)
            throw std::runtime_error("the simulator did not start");
    }

    // Stops the simulator; its counters, when it told them.
    bool Stop(GevSim::StreamStatistics* statistics) {
        m_child.Terminate();
        const bool told = ReadAll(m_statistics.ReadEnd(), statistics, sizeof *statistics,
                                  std::chrono::seconds(5));
        m_child.Stop();
        return told;
    }

private:
    int Serve(const GevSim::CameraConfig& config, double lossRatio, uint64_t seed) {
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGTERM);
        sigaddset(&signals, SIGINT);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        GevSim::StreamStatistics statistics;
        {
            GevSim::Camera camera(config);
            if (lossRatio > 0) camera.faults().Stream().DropRatio(lossRatio, seed);
            std::string error;
            const char started = camera.Start(&error) ? 1 : 0;
            if (!started) std::fprintf(stderr, "simulator: %s\n", error.c_str());
            if (write(m_ready.WriteEnd(), &started, 1) != 1 || !started) return 1;
            int received = 0;
            sigwait(&signals, &received);
            statistics = camera.StreamStats();
        }
        return write(m_statistics.WriteEnd(), &statistics, sizeof statistics) ==
                       static_cast<ssize_t>(sizeof statistics)
                   ? 0
                   : 1;
    }

    Pipe m_ready, m_statistics;
    Child m_child;
};

// A GenTL consumer: the producer loaded and initialised, one camera open with its
// data stream, buffers of its own memory announced; everything closed in reverse.
class Consumer {
public:
    Consumer() {
        try {
            Check(cti.GCInitLib(), "GCInitLib");
            m_initialised = true;
            Check(cti.TLOpen(&m_system), "TLOpen");
            Check(cti.TLOpenInterface(m_system, "GigE", &m_interface), "TLOpenInterface");
        } catch (...) {
            Close();
            throw;
        }
    }
    Consumer(const Consumer&) = delete;
    Consumer& operator=(const Consumer&) = delete;
    ~Consumer() { Close(); }

    // Discovers the camera with serial number `serial`, opens it and its stream "DS0".
    void OpenCamera(const std::string& serial) {
        bool8_t changed = 0;
        Check(cti.IFUpdateDeviceList(m_interface, &changed, 1000), "IFUpdateDeviceList");
        uint32_t count = 0;
        Check(cti.IFGetNumDevices(m_interface, &count), "IFGetNumDevices");
        std::string id;
        for (uint32_t i = 0; i < count && id.empty(); ++i) {
            char text[512] = {};
            size_t size = sizeof text;
            Check(cti.IFGetDeviceID(m_interface, i, text, &size), "IFGetDeviceID");
            char found[64] = {};
            size = sizeof found;
            INFO_DATATYPE type = 0;
            if (cti.IFGetDeviceInfo(m_interface, text, DEVICE_INFO_SERIAL_NUMBER, &type, found,
                                    &size) == GC_ERR_SUCCESS &&
                serial == found)
                id = text;
        }
        if (id.empty()) throw std::runtime_error("camera " + serial + " not discovered");
        Check(cti.IFOpenDevice(m_interface, id.c_str(), DEVICE_ACCESS_CONTROL, &m_device),
              "IFOpenDevice");
        Check(cti.DevGetPort(m_device, &m_remote), "DevGetPort");
        Check(cti.DevOpenDataStream(m_device, "DS0", &m_stream), "DevOpenDataStream");
    }

    // The camera's registers: big-endian through the remote port.
    void WriteCamera(uint64_t address, uint32_t value) {
        const uint32_t wire = Platform::HostToNetwork32(value);
        size_t size = sizeof wire;
        Check(cti.GCWritePort(m_remote, address, &wire, &size), "GCWritePort (camera)");
    }
    uint32_t ReadCamera(uint64_t address) {
        uint32_t wire = 0;
        size_t size = sizeof wire;
        Check(cti.GCReadPort(m_remote, address, &wire, &size), "GCReadPort (camera)");
        return Platform::NetworkToHost32(wire);
    }
    // The data stream module's registers: little-endian through its own port.
    void WriteStream(uint64_t address, uint32_t value) {
        size_t size = sizeof value;
        Check(cti.GCWritePort(m_stream, address, &value, &size), "GCWritePort (stream)");
    }
    uint32_t ReadStream(uint64_t address) {
        uint32_t value = 0;
        size_t size = sizeof value;
        Check(cti.GCReadPort(m_stream, address, &value, &size), "GCReadPort (stream)");
        return value;
    }

    void AnnounceAndQueue(size_t count, size_t size) {
        for (size_t i = 0; i < count; ++i) {
            m_memory.emplace_back(size);
            BUFFER_HANDLE buffer = nullptr;
            Check(cti.DSAnnounceBuffer(m_stream, m_memory.back().data(), size,
                                       reinterpret_cast<void*>(i + 1), &buffer),
                  "DSAnnounceBuffer");
            m_buffers.push_back(buffer);
            Check(cti.DSQueueBuffer(m_stream, buffer), "DSQueueBuffer");
        }
    }

    // The new-buffer event, the stream's acquisition, then the camera's.
    void Start() {
        Check(cti.GCRegisterEvent(m_stream, EVENT_NEW_BUFFER, &m_newBuffer), "GCRegisterEvent");
        Check(cti.DSStartAcquisition(m_stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
              "DSStartAcquisition");
        m_acquiring = true;
        WriteCamera(kAcquisitionStartRegister, 1);
    }

    void Stop() {
        m_acquiring = false;
        const GC_ERROR cameraStop = WriteCameraStatus(kAcquisitionStopRegister, 1);
        Check(cti.DSStopAcquisition(m_stream, ACQ_STOP_FLAGS_DEFAULT), "DSStopAcquisition");
        Check(cti.DSFlushQueue(m_stream, ACQ_QUEUE_ALL_DISCARD), "DSFlushQueue");
        Check(cti.GCUnregisterEvent(m_stream, EVENT_NEW_BUFFER), "GCUnregisterEvent");
        m_newBuffer = nullptr;
        Check(cameraStop, "AcquisitionStop");
    }

    // EventGetData on the new-buffer event: the buffer's handle, or null on time-out.
    BUFFER_HANDLE Next(uint64_t timeoutMs) {
        uint8_t data[16] = {};
        size_t size = sizeof data;
        const GC_ERROR result = cti.EventGetData(m_newBuffer, data, &size, timeoutMs);
        if (result == GC_ERR_TIMEOUT) return nullptr;
        Check(result, "EventGetData");
        if (size != sizeof data) throw std::runtime_error("EventGetData: short event data");
        BUFFER_HANDLE buffer = nullptr;
        std::memcpy(&buffer, data, sizeof buffer);
        return buffer;
    }

    void Queue(BUFFER_HANDLE buffer) {
        Check(cti.DSQueueBuffer(m_stream, buffer), "DSQueueBuffer");
    }

    template <class T>
    T BufferInfo(BUFFER_HANDLE buffer, BUFFER_INFO_CMD command) {
        T value{};
        size_t size = sizeof value;
        INFO_DATATYPE type = 0;
        Check(cti.DSGetBufferInfo(m_stream, buffer, command, &type, &value, &size),
              "DSGetBufferInfo");
        return value;
    }
    template <class T>
    T StreamInfo(STREAM_INFO_CMD command) {
        T value{};
        size_t size = sizeof value;
        INFO_DATATYPE type = 0;
        Check(cti.DSGetInfo(m_stream, command, &type, &value, &size), "DSGetInfo");
        return value;
    }

private:
    // Everything opened, in reverse; each handle once.
    void Close() {
        if (m_acquiring) {
            try {
                Stop();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "gentl_bench: %s\n", e.what());
            }
        }
        for (BUFFER_HANDLE buffer : m_buffers)
            cti.DSRevokeBuffer(m_stream, buffer, nullptr, nullptr);
        m_buffers.clear();
        if (m_stream != nullptr) cti.DSClose(m_stream);
        if (m_device != nullptr) cti.DevClose(m_device);
        if (m_interface != nullptr) cti.IFClose(m_interface);
        if (m_system != nullptr) cti.TLClose(m_system);
        if (m_initialised) cti.GCCloseLib();
        m_stream = m_device = m_interface = m_system = nullptr;
        m_initialised = false;
    }

    void Check(GC_ERROR result, const char* what) {
        if (result != GC_ERR_SUCCESS)
            throw std::runtime_error(std::string(what) + " failed (" + std::to_string(result) +
                                     "): " + cti.LastErrorText());
    }
    GC_ERROR WriteCameraStatus(uint64_t address, uint32_t value) {
        const uint32_t wire = Platform::HostToNetwork32(value);
        size_t size = sizeof wire;
        return cti.GCWritePort(m_remote, address, &wire, &size);
    }

    TestSupport::CtiLibrary cti{GEVTLKRV_CTI_PATH};
    bool m_initialised = false;
    bool m_acquiring = false;
    TL_HANDLE m_system = nullptr;
    IF_HANDLE m_interface = nullptr;
    DEV_HANDLE m_device = nullptr;
    PORT_HANDLE m_remote = nullptr;
    DS_HANDLE m_stream = nullptr;
    EVENT_HANDLE m_newBuffer = nullptr;
    std::vector<std::vector<uint8_t>> m_memory;
    std::vector<BUFFER_HANDLE> m_buffers;
};

// ---- Throughput --------------------------------------------------------------

// The protocol library alone, as stream_bench measures it: copy delivery into
// the consumer's buffer from a ring of 16, or zero-copy delivery from a ring of
// 8 consumer buffers handed back by slot.
Measurement MeasureLibrary(uint32_t packetSize, bool zeroCopy, double seconds) {
    using namespace Vantor;
    GevsimProgram simulator(packetSize, "GTLBENCH");
    GevOpenParams params{};
    params.cameraAddress = Platform::ParseAddress(kCameraAddress);
    params.hostAddress = Platform::ParseAddress("127.0.0.1");
    params.subnetMask = Platform::ParseAddress("255.0.0.0");
    std::strcpy(params.adapterName, "lo");
    if (GEVOpenDevice(1, &params, nullptr, 0, kAccessModeControl) != kGevOk)
        throw std::runtime_error("library: simulator not reachable");
    struct Closer {
        ~Closer() { GEVClose(1); }
    } closer;
    if (GEVOpenStreamChannel(1, 0, 0, 0) != kGevOk)
        throw std::runtime_error("library: no stream channel");
    uint32_t scps = 0;
    GEVReadRegister(1, kStreamPacketSizeRegister, 1, &scps);
    if ((scps & 0xFFFF) != packetSize) throw std::runtime_error("library: SCPS not as asked");
    uint32_t payload = 0;
    if (GEVReadRegister(1, kPayloadSizeRegister, 1, &payload) != kGevOk || payload == 0)
        throw std::runtime_error("library: no PayloadSize");
    GEVSetPacketResend(1, false);
    std::vector<std::vector<uint8_t>> memory(zeroCopy ? kAnnouncedBuffers : 1,
                                             std::vector<uint8_t>(payload));
    if (zeroCopy) {
        for (size_t i = 0; i < memory.size(); ++i) {
            GEVSetRingBuffer(1, i, memory[i].data());
            GEVQueueRingBuffer(1, i);
        }
    } else {
        GEVSetBufferCount(1, kCopyRingSlots);
    }
    if (GEVAcquisitionStartEx(1, 0, payload, 0, 0, 0) != kGevOk)
        throw std::runtime_error("library: acquisition did not start");
    const uint32_t start = 1, stop = 1;
    GEVWriteRegister(1, kAcquisitionStartRegister, 1, &start);

    Measurement m;
    m.payload = payload;
    bool measuring = false;
    double cpuBefore = 0;
    auto begin = Clock::now();
    const auto warmUpEnd = begin + std::chrono::seconds(3);
    while (true) {
        uint16_t slot = 0;
        const GevStatus status = zeroCopy ? GEVGetRingBufferImage(1, nullptr, &slot)
                                          : GEVGetImageBuffer(1, nullptr, memory[0].data());
        const bool delivered = status == kGevOk || status == kGevImageIncomplete;
        if (delivered && zeroCopy) GEVQueueRingBuffer(1, slot);
        if (!measuring) {
            // The window opens with the first frame, as the GenTL one does.
            if (delivered) {
                measuring = true;
                cpuBefore = CpuSeconds();
                begin = Clock::now();
            } else if (Clock::now() > warmUpEnd) {
                throw std::runtime_error("library: no first frame");
            }
            continue;
        }
        if (status == kGevOk) ++m.frames;
        if (status == kGevImageIncomplete) ++m.incomplete;
        if (Clock::now() - begin >= std::chrono::duration<double>(seconds)) break;
    }
    m.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    m.cpuSeconds = CpuSeconds() - cpuBefore;
    GEVWriteRegister(1, kAcquisitionStopRegister, 1, &stop);
    GEVAcquisitionStop(1);
    if (zeroCopy) GEVReleaseRingBuffer(1);
    return m;
}

// The same stream through GenTL: EventGetData, the incomplete flag, DSQueueBuffer.
Measurement MeasureGenTL(uint32_t packetSize, bool zeroCopy, double seconds,
                         uint32_t* scpsAfterOpen) {
    GevsimProgram simulator(packetSize, "GTLBENCH");
    Consumer consumer;
    consumer.OpenCamera("GTLBENCH");
    // Opening the data stream runs the producer's packet size search; the
    // benchmark's packet size is set again so both paths see the same stream.
    *scpsAfterOpen = consumer.ReadCamera(kStreamPacketSizeRegister) & 0xFFFF;
    consumer.WriteCamera(kStreamPacketSizeRegister, packetSize);
    if ((consumer.ReadCamera(kStreamPacketSizeRegister) & 0xFFFF) != packetSize)
        throw std::runtime_error("GenTL: SCPS not as asked");
    const uint32_t payload = consumer.ReadCamera(kPayloadSizeRegister);
    if (zeroCopy) {
        consumer.WriteStream(kStreamUseUserBuffer, 1);
    } else {
        consumer.WriteStream(kStreamRingBufferCount, kCopyRingSlots);
    }
    consumer.AnnounceAndQueue(kAnnouncedBuffers, payload);
    consumer.Start();
    BUFFER_HANDLE first = consumer.Next(3000);
    if (first == nullptr) throw std::runtime_error("GenTL: no first frame");
    consumer.Queue(first);

    Measurement m;
    m.payload = payload;
    const double cpuBefore = CpuSeconds();
    const auto begin = Clock::now();
    while (Clock::now() - begin < std::chrono::duration<double>(seconds)) {
        BUFFER_HANDLE buffer = consumer.Next(1000);
        if (buffer == nullptr) continue;
        if (consumer.BufferInfo<bool8_t>(buffer, BUFFER_INFO_IS_INCOMPLETE))
            ++m.incomplete;
        else
            ++m.frames;
        consumer.Queue(buffer);
    }
    m.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    m.cpuSeconds = CpuSeconds() - cpuBefore;
    consumer.Stop();
    return m;
}

double Percent(double value, double base) {
    return base > 0 ? (value - base) / base * 100.0 : 0.0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0.0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Rounds alternate which path goes first, so that a neighbour's load on the
// machine falls on both; the medians make the comparison.
int Throughput(double seconds, int rounds) {
    uint32_t scpsAfterOpen = 0;
    for (uint32_t packetSize : {1500u, 9000u}) {
        for (bool zeroCopy : {false, true}) {
            const char* mode = zeroCopy ? "zero-copy" : "copy";
            std::vector<double> cpu[2], fps[2];  // library, GenTL
            for (int round = 0; round < rounds; ++round) {
                for (int turn = 0; turn < 2; ++turn) {
                    const bool gentl = (turn == 0) == (round % 2 == 1);
                    const Measurement m =
                        gentl ? MeasureGenTL(packetSize, zeroCopy, seconds, &scpsAfterOpen)
                              : MeasureLibrary(packetSize, zeroCopy, seconds);
                    char what[64];
                    std::snprintf(what, sizeof what, "%s, SCPS %u, %s", gentl ? "GenTL" : "library",
                                  packetSize, mode);
                    Report(what, m);
                    cpu[gentl].push_back(m.CpuPerFrameUs());
                    fps[gentl].push_back(m.Fps());
                    std::fflush(stdout);
                }
            }
            const double cpuLibrary = Median(cpu[0]), cpuGenTL = Median(cpu[1]);
            const double fpsLibrary = Median(fps[0]), fpsGenTL = Median(fps[1]);
            std::printf(
                "%-34s GenTL over library, medians of %d: CPU per frame %.1f -> %.1f us "
                "(%+.1f %%), %.1f -> %.1f fps (%+.1f %%)\n",
                "", rounds, cpuLibrary, cpuGenTL, Percent(cpuGenTL, cpuLibrary), fpsLibrary,
                fpsGenTL, Percent(fpsGenTL, fpsLibrary));
            std::fflush(stdout);
        }
    }
    std::printf(
        "(DevOpenDataStream's packet size search leaves SCPS at %u; each GenTL run sets "
        "the benchmark's SCPS again)\n",
        scpsAfterOpen);
    return 0;
}

// ---- Soak --------------------------------------------------------------------

struct SoakOptions {
    double minutes = 10;
    double loss = 0.01;
    uint64_t seed = 7;
    bool zeroCopy = false;
    float fps = 0;  // 0: as fast as the link lets it
    uint32_t linkSpeed = 1000;
    uint32_t packetSize = 1500;
    uint32_t width = 640, height = 480;
    uint32_t resendCount = 0;  // packets asked for per block; 0: the library's own
};

// Frame IDs as they arrive, unwrapped into a sequence (16-bit block IDs go from
// 0xFFFF to 1): tells frames never delivered, delivered twice and delivered after
// a later one apart. An ID is settled as lost once the stream is a window past it.
class FrameSequence {
public:
    enum Arrival { kInOrder, kLate, kDuplicate };

    Arrival Add(uint64_t frameId) {
        const int64_t number = Unwrap(frameId);
        Arrival arrival = kInOrder;
        if (number < m_floor || m_seen[Slot(number)] == number) {
            // Before the window: taken as delivered already, the sender never goes back that far.
            arrival = kDuplicate;
        } else {
            if (number < m_highest) arrival = kLate;
            m_seen[Slot(number)] = number;
        }
        m_highest = std::max(m_highest, number);
        while (m_highest - m_floor >= kWindow / 2) Settle();
        return arrival;
    }
    // IDs never delivered: settled ones, plus the open window's holes when `final`.
    uint64_t Lost(bool final) {
        if (final)
            while (m_floor <= m_highest) Settle();
        return m_lost;
    }
    // The ID of the latest frame so far, 0 before the first.
    uint64_t LatestId() const {
        return m_highest <= 0 ? 0 : static_cast<uint64_t>((m_highest - 1) % kRing + 1);
    }

private:
    static constexpr int64_t kWindow = 4096;
    static constexpr int64_t kRing = 0xFFFF;  // IDs 1..0xFFFF

    static size_t Slot(int64_t number) { return static_cast<size_t>(number % kWindow); }
    // The sequence number nearest to the highest one that carries `frameId`.
    int64_t Unwrap(uint64_t frameId) const {
        // The first frame, and 64-bit IDs, need no unwrapping.
        if (m_highest == 0 || frameId > 0xFFFF) return static_cast<int64_t>(frameId);
        const int64_t highestId = (m_highest - 1) % kRing + 1;
        int64_t delta = (static_cast<int64_t>(frameId) - highestId + kRing) % kRing;
        if (delta > kRing / 2) delta -= kRing;
        return m_highest + delta;
    }
    void Settle() {
        if (m_seen[Slot(m_floor)] != m_floor && ++m_lost <= 10) {
            std::printf("soak: frame %lld never delivered\n",
                        static_cast<long long>((m_floor - 1) % kRing + 1));
        }
        ++m_floor;
    }

    std::vector<int64_t> m_seen = std::vector<int64_t>(kWindow, -1);
    int64_t m_floor = 1;  // the first block has ID 1
    int64_t m_highest = 0;
    uint64_t m_lost = 0;
};

// Mono8 test pattern, (x + y + block ID) & 0xFF, sampled across the whole image.
bool HoldsPattern(const uint8_t* image, size_t width, size_t height, uint64_t frameId) {
    const size_t size = width * height;
    auto holds = [&](size_t at) {
        return image[at] == static_cast<uint8_t>(at % width + at / width + frameId);
    };
    // A prime step lands on every packet of the block at changing columns.
    for (size_t at = 0; at < size; at += 997)
        if (!holds(at)) return false;
    return holds(size - 1);
}

struct SoakCounts {
    uint64_t frames = 0, incomplete = 0, wrongSize = 0, corrupt = 0, lost = 0, duplicates = 0,
             late = 0;
    // Frames lost or damaged; a late frame arrived whole.
    uint64_t Failures() const { return incomplete + wrongSize + corrupt + lost + duplicates; }
};

void PrintSoakLine(const char* when, double minutes, const SoakCounts& c, uint64_t windowFrames,
                   double windowSeconds) {
    std::printf(
        "soak %-5s %6.2f min  frames %9llu  %6.1f fps  incomplete %llu  lost %llu  "
        "duplicate %llu  late %llu  corrupt %llu  wrong size %llu  VmRSS %ld kB\n",
        when, minutes, static_cast<unsigned long long>(c.frames),
        windowSeconds > 0 ? windowFrames / windowSeconds : 0.0,
        static_cast<unsigned long long>(c.incomplete), static_cast<unsigned long long>(c.lost),
        static_cast<unsigned long long>(c.duplicates), static_cast<unsigned long long>(c.late),
        static_cast<unsigned long long>(c.corrupt), static_cast<unsigned long long>(c.wrongSize),
        ResidentKb());
    std::fflush(stdout);
}

int Soak(const SoakOptions& options) {
    GevSim::CameraConfig config;
    config.address = kCameraAddress;
    config.serial = "GTLSOAK";
    config.width = options.width;
    config.height = options.height;
    config.frameRate = options.fps;
    config.linkSpeedMbps = options.linkSpeed;
    config.packetSize = options.packetSize;
    char rate[32] = "max";
    if (options.fps > 0) std::snprintf(rate, sizeof rate, "%g", options.fps);
    std::printf(
        "soak: %ux%u Mono8, fps %s, link %u Mbit/s, SCPS %u, loss %g (seed %llu), %s "
        "delivery, packet resend on, %g min\n",
        options.width, options.height, rate, options.linkSpeed, options.packetSize, options.loss,
        static_cast<unsigned long long>(options.seed), options.zeroCopy ? "zero-copy" : "copy",
        options.minutes);
    std::printf("soak VmRSS before loading the producer: %ld kB\n", ResidentKb());
    // Forked first: this process has no thread yet.
    SimulatorProcess simulator(config, options.loss, options.seed);

    SoakCounts counts;
    GevSim::StreamStatistics statistics;
    uint64_t delivered = 0, underruns = 0;
    double totalSeconds = 0;
    long rssStart = 0, rssEnd = 0;
    bool stalled = false;
    {
        Consumer consumer;
        consumer.OpenCamera(config.serial);
        consumer.WriteCamera(kStreamPacketSizeRegister, options.packetSize);
        const uint32_t payload = consumer.ReadCamera(kPayloadSizeRegister);
        consumer.WriteStream(kStreamPacketResend, 1);
        if (consumer.ReadStream(kStreamPacketResend) != 1)
            throw std::runtime_error("packet resend not enabled");
        if (options.resendCount != 0) {
            consumer.WriteStream(kStreamPacketResendCount, options.resendCount);
            if (consumer.ReadStream(kStreamPacketResendCount) != options.resendCount)
                throw std::runtime_error("packet resend count not taken");
        }
        if (options.zeroCopy) consumer.WriteStream(kStreamUseUserBuffer, 1);
        consumer.AnnounceAndQueue(kAnnouncedBuffers, payload);
        consumer.Start();

        const auto begin = Clock::now();
        const auto end = begin + std::chrono::duration<double>(options.minutes * 60.0);
        auto nextReport = begin + std::chrono::minutes(1);
        auto lastFrame = begin;
        FrameSequence sequence;
        uint64_t windowFrames = 0;
        uint64_t reported[3] = {};  // by arrival
        auto windowStart = begin;
        rssStart = ResidentKb();
        PrintSoakLine("start", 0, counts, 0, 0);
        while (Clock::now() < end) {
            BUFFER_HANDLE buffer = consumer.Next(500);
            const auto now = Clock::now();
            if (buffer != nullptr) {
                lastFrame = now;
                ++counts.frames;
                ++windowFrames;
                const uint64_t id = consumer.BufferInfo<uint64_t>(buffer, BUFFER_INFO_FRAMEID);
                const uint64_t latestBefore = sequence.LatestId();
                const FrameSequence::Arrival arrival = sequence.Add(id);
                const char* problem = nullptr;
                if (arrival == FrameSequence::kDuplicate) {
                    ++counts.duplicates;
                    problem = "delivered again";
                } else if (arrival == FrameSequence::kLate) {
                    ++counts.late;
                    problem = "delivered after a later frame";
                }
                const bool incomplete =
                    consumer.BufferInfo<bool8_t>(buffer, BUFFER_INFO_IS_INCOMPLETE) != 0;
                if (incomplete) {
                    ++counts.incomplete;
                    if (problem == nullptr) problem = "incomplete";
                } else if (consumer.BufferInfo<size_t>(buffer, BUFFER_INFO_SIZE_FILLED) !=
                           payload) {
                    ++counts.wrongSize;
                    if (problem == nullptr) problem = "with a wrong size";
                } else if (!HoldsPattern(consumer.BufferInfo<uint8_t*>(buffer, BUFFER_INFO_BASE),
                                         options.width, options.height, id)) {
                    ++counts.corrupt;
                    if (problem == nullptr) problem = "without the test pattern";
                }
                counts.lost = sequence.Lost(false);
                // The first few of each kind in full; the counters tell the rest.
                if (problem != nullptr && ++reported[arrival] <= 10)
                    std::printf("soak: frame %llu %s%s, latest frame before it %llu\n",
                                static_cast<unsigned long long>(id), problem,
                                arrival == FrameSequence::kInOrder ? ""
                                : incomplete                       ? ", incomplete"
                                                                   : ", complete",
                                static_cast<unsigned long long>(latestBefore));
                consumer.Queue(buffer);
            } else if (now - lastFrame > std::chrono::seconds(10)) {
                std::printf("soak: no frame for 10 s, stopping\n");
                stalled = true;
                break;
            }
            if (now >= nextReport && now < end) {
                const double window = std::chrono::duration<double>(now - windowStart).count();
                PrintSoakLine("", std::chrono::duration<double>(now - begin).count() / 60, counts,
                              windowFrames, window);
                windowFrames = 0;
                windowStart = now;
                nextReport += std::chrono::minutes(1);
            }
        }
        totalSeconds = std::chrono::duration<double>(Clock::now() - begin).count();
        rssEnd = ResidentKb();
        counts.lost = sequence.Lost(true);
        PrintSoakLine("end", totalSeconds / 60, counts, counts.frames, totalSeconds);
        delivered = consumer.StreamInfo<uint64_t>(STREAM_INFO_NUM_DELIVERED);
        underruns = consumer.StreamInfo<uint64_t>(STREAM_INFO_NUM_UNDERRUN);
        consumer.Stop();
    }
    const bool told = simulator.Stop(&statistics);
    Report(options.zeroCopy ? "soak, GenTL zero-copy" : "soak, GenTL copy", counts.frames,
           totalSeconds, static_cast<uint64_t>(options.width) * options.height);
    std::printf(
        "soak totals: delivered %llu (producer), underruns %llu, incomplete %llu, lost %llu, "
        "duplicate %llu, late %llu, corrupt %llu, wrong size %llu\n",
        static_cast<unsigned long long>(delivered), static_cast<unsigned long long>(underruns),
        static_cast<unsigned long long>(counts.incomplete),
        static_cast<unsigned long long>(counts.lost),
        static_cast<unsigned long long>(counts.duplicates),
        static_cast<unsigned long long>(counts.late),
        static_cast<unsigned long long>(counts.corrupt),
        static_cast<unsigned long long>(counts.wrongSize));
    std::printf("soak VmRSS: %ld kB at start, %ld kB at end (%+ld kB), %ld kB after closing\n",
                rssStart, rssEnd, rssEnd - rssStart, ResidentKb());
    if (told) {
        std::printf(
            "soak simulator: blocks sent %llu, packets %llu, dropped %llu, resend "
            "requests %llu, packets resent %llu, unavailable %llu\n",
            static_cast<unsigned long long>(statistics.blocksSent),
            static_cast<unsigned long long>(statistics.packetsSent),
            static_cast<unsigned long long>(statistics.packetsDropped),
            static_cast<unsigned long long>(statistics.resendRequests),
            static_cast<unsigned long long>(statistics.packetsResent),
            static_cast<unsigned long long>(statistics.packetsUnavailable));
    } else {
        std::printf("soak simulator: counters not received\n");
    }
    const bool passed = counts.Failures() == 0 && !stalled && counts.frames > 0;
    std::printf("soak: %s (%llu frames delivered after a later one)\n", passed ? "PASS" : "FAIL",
                static_cast<unsigned long long>(counts.late));
    return passed ? 0 : 1;
}

bool ParseSoak(int argc, char** argv, SoakOptions* options) {
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--zero-copy") {
            options->zeroCopy = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* value = argv[++i];
        if (option == "--minutes")
            options->minutes = std::atof(value);
        else if (option == "--loss")
            options->loss = std::atof(value);
        else if (option == "--seed")
            options->seed = std::strtoull(value, nullptr, 10);
        else if (option == "--fps")
            options->fps =
                std::string(value) == "max" ? 0.0f : static_cast<float>(std::atof(value));
        else if (option == "--resend-count")
            options->resendCount = static_cast<uint32_t>(std::atoi(value));
        else if (option == "--link-speed")
            options->linkSpeed = static_cast<uint32_t>(std::atoi(value));
        else if (option == "--packet-size")
            options->packetSize = static_cast<uint32_t>(std::atoi(value));
        else if (option == "--width")
            options->width = static_cast<uint32_t>(std::atoi(value));
        else if (option == "--height")
            options->height = static_cast<uint32_t>(std::atoi(value));
        else
            return false;
    }
    // Bounded: a soak ends by itself within a day.
    return options->minutes > 0 && options->minutes <= 24 * 60 && options->loss >= 0 &&
           options->loss < 1 && options->width > 0 && options->height > 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode != "throughput" && mode != "soak") {
        std::fprintf(stderr,
                     "usage: gentl_bench throughput [--seconds S] [--rounds N]\n"
                     "       gentl_bench soak [--minutes M] [--loss R] [--seed S] [--zero-copy]\n"
                     "                        [--fps N|max] [--link-speed MBPS] [--packet-size B]\n"
                     "                        [--width W] [--height H] [--resend-count N]\n");
        return 2;
    }
    if (std::getenv("GEVTLKRV_NETNS_HOST") == nullptr) {
        std::printf("gentl_bench %s: skipped (run inside tests/netns/netns-run)\n", mode.c_str());
        return 0;
    }
    try {
        if (mode == "throughput") {
            double seconds = 5;
            int rounds = 3;
            for (int i = 2; i + 1 < argc; i += 2) {
                if (std::string(argv[i]) == "--seconds") seconds = std::atof(argv[i + 1]);
                if (std::string(argv[i]) == "--rounds") rounds = std::atoi(argv[i + 1]);
            }
            if (seconds <= 0 || seconds > 60 || rounds < 1 || rounds > 20) {
                std::fprintf(stderr, "gentl_bench throughput: bad options\n");
                return 2;
            }
            return Throughput(seconds, rounds);
        }
        SoakOptions options;
        if (!ParseSoak(argc, argv, &options)) {
            std::fprintf(stderr, "gentl_bench soak: bad options\n");
            return 2;
        }
        return Soak(options);
    } catch (const std::exception& e) {
        std::printf("gentl_bench %s: %s\n", mode.c_str(), e.what());
        return 1;
    }
}
