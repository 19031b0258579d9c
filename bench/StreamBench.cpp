// Stream benchmarks.
//   stream_bench assembly   block assembly alone: datagrams fed from memory
//   stream_bench loopback   the receive path against gevsim sending as fast as it
//                           can over loopback, SCPS 1500 and 9000, beside Aravis's
//                           receiver on the same stream (run inside tests/netns/netns-run);
//                           further arguments go to gevsim, e.g. --send-mode gso
// Prints one line per measurement: what, frames, seconds, frames/s, MB/s.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Socket.h"
#include "StreamInternal.h"
#include "StreamReceiver.h"
#include "VantorLib.h"

using namespace Vantor;
using Clock = std::chrono::steady_clock;

namespace {

void Report(const char* what, uint64_t frames, double seconds, uint64_t frameBytes) {
    std::printf("%-34s frames %7llu  %6.2f s  %9.1f fps  %8.1f MB/s\n", what,
                static_cast<unsigned long long>(frames), seconds, frames / seconds,
                frames * double(frameBytes) / seconds / 1e6);
}

void Put(std::vector<uint8_t>& b, size_t at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b[at + i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

int Assembly() {
    constexpr uint32_t width = 2048, height = 1536, packetData = 8952;
    const uint32_t payload = width * height;
    StreamState state;
    state.settings.payloadSize = payload;
    state.settings.packetDataSize = packetData;
    state.settings.packetsPerBlock = (payload + packetData - 1) / packetData;
    state.bufferCount = 8;
    if (!BuildRing(state)) return 1;
    StreamReceiver receiver(0, state, [](uint64_t, uint32_t, uint32_t, bool) { return true; });

    std::vector<uint8_t> leader(8 + 36, 0), data(8 + packetData, 0x77), trailer(8 + 8, 0);
    Put(leader, 4, 0x01000000, 4);
    Put(leader, 8 + 2, 1, 2);
    Put(leader, 8 + 12, 0x01080001, 4);
    Put(leader, 8 + 16, width, 4);
    Put(leader, 8 + 20, height, 4);
    Put(trailer, 8 + 2, 1, 2);
    Put(trailer, 8 + 4, height, 4);
    const uint32_t frames = 400;
    const auto start = Clock::now();
    for (uint32_t block = 1; block <= frames; ++block) {
        Put(leader, 2, block, 2);
        receiver.HandlePacket(leader.data(), leader.size());
        for (uint32_t p = 1; p <= state.settings.packetsPerBlock; ++p) {
            Put(data, 2, block, 2);
            Put(data, 4, (0x03u << 24) | p, 4);
            receiver.HandlePacket(data.data(), data.size());
        }
        Put(trailer, 2, block, 2);
        Put(trailer, 4, (0x02u << 24) | (state.settings.packetsPerBlock + 1), 4);
        receiver.HandlePacket(trailer.data(), trailer.size());
        while (GevBufferDescriptor* slot = state.delivered.TakeHead()) state.queued.Append(slot);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Report("assembly, 3 MP Mono8, 9000 B packets", frames, seconds, payload);
    return 0;
}

// Further gevsim options from the command line, e.g. --send-mode gso.
std::string g_simulatorOptions;

// Runs `gevsim` as its own process, so that the CPU time measured here is the receiver's.
class Simulator {
public:
    explicit Simulator(uint32_t packetSize, const char* extra) {
        const std::string command = std::string(GEVSIM_PATH) +
                                    " --address 127.0.0.2 --fps max --link-speed 100000"
                                    " --width 2048 --height 1536 --packet-size " +
                                    std::to_string(packetSize) + " " + extra;
        m_pid = fork();
        if (m_pid == 0) {
            execl("/bin/sh", "sh", "-c", ("exec " + command + " >/dev/null").c_str(), nullptr);
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
    ~Simulator() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }

private:
    pid_t m_pid = -1;
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int Loopback(uint32_t packetSize, double lossRatio) {
    char what[64];
    std::snprintf(what, sizeof what, "ours, SCPS %u%s", packetSize,
                  lossRatio > 0 ? ", 1 % loss, resend" : "");
    std::string extra =
        lossRatio > 0 ? "--loss-ratio " + std::to_string(lossRatio) + " --seed 5" : "";
    extra += g_simulatorOptions;
    Simulator simulator(packetSize, extra.c_str());
    GevOpenParams params{};
    params.cameraAddress = Platform::ParseAddress("127.0.0.2");
    params.hostAddress = Platform::ParseAddress("127.0.0.1");
    params.subnetMask = Platform::ParseAddress("255.0.0.0");
    std::strcpy(params.adapterName, "lo");
    if (GEVOpenDevice(1, &params, nullptr, 0, kAccessModeControl) != kGevOk ||
        GEVOpenStreamChannel(1, 0, 0, 0) != kGevOk) {
        std::printf("%s: simulator not reachable\n", what);
        return 1;
    }
    GEVSetPacketResend(1, lossRatio > 0);
    GEVSetBufferCount(1, 16);
    const uint32_t payload = 2048 * 1536;
    if (GEVAcquisitionStartEx(1, 0, payload, 0, 0, 0) != kGevOk) return 1;
    const uint32_t start = 1;
    GEVWriteRegister(1, 0x00010020, 1, &start);  // the simulator's AcquisitionStart
    std::vector<uint8_t> image(payload);
    uint64_t frames = 0, incomplete = 0;
    const double cpuBefore = CpuSeconds();
    const auto begin = Clock::now();
    while (Clock::now() - begin < std::chrono::seconds(3)) {
        GevStatus status = GEVGetImageBuffer(1, nullptr, image.data());
        if (status == kGevOk) ++frames;
        if (status == kGevImageIncomplete) ++incomplete;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    const double cpu = CpuSeconds() - cpuBefore;
    GEVAcquisitionStop(1);
    GEVClose(1);
    Report(what, frames, seconds, payload);
    const double gigabytes = (frames + incomplete) * double(payload) / 1e9;
    std::printf("%-34s incomplete %llu, CPU %.2f s per GB received\n", "",
                static_cast<unsigned long long>(incomplete), gigabytes > 0 ? cpu / gigabytes : 0.0);
    return 0;
}

// Aravis's receiver in socket mode against the same simulator.
void Aravis(uint32_t packetSize) {
    Simulator simulator(packetSize, g_simulatorOptions.c_str());
    const std::string command =
        "bash -c 'TIMEFORMAT=\"cpu %U %S\"; time timeout 20 arv-camera-test-0.8 --no-packet-socket "
        "-n 127.0.0.2 --duration 3' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return;
    char line[256];
    unsigned long long completed = 0, failures = 0, bytes = 0;
    double user = 0, system = 0;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::sscanf(line, "n_completed_buffers = %llu", &completed);
        std::sscanf(line, "n_failures = %llu", &failures);
        std::sscanf(line, "n_transferred_bytes = %llu", &bytes);
        std::sscanf(line, "cpu %lf %lf", &user, &system);
    }
    if (pclose(pipe) != 0 && completed == 0) {
        std::printf("aravis, SCPS %u: arv-camera-test-0.8 not available\n", packetSize);
        return;
    }
    char what[64];
    std::snprintf(what, sizeof what, "aravis (socket), SCPS %u", packetSize);
    Report(what, completed, 3.0, completed ? bytes / completed : 0);
    std::printf("%-34s failures %llu, CPU %.2f s per GB received\n", "", failures,
                bytes > 0 ? (user + system) / (bytes / 1e9) : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "assembly";
    if (mode == "assembly") return Assembly();
    if (mode == "loopback") {
        for (int i = 2; i < argc; ++i) g_simulatorOptions += std::string(" ") + argv[i];
        if (std::getenv("GEVTLKRV_NETNS_HOST") == nullptr) {
            std::printf("loopback: skipped (run inside tests/netns/netns-run)\n");
            return 0;
        }
        for (uint32_t packetSize : {1500u, 9000u}) {
            if (int status = Loopback(packetSize, 0.0)) return status;
            Aravis(packetSize);
        }
        return Loopback(9000, 0.01);
    }
    std::fprintf(stderr, "usage: stream_bench assembly|loopback [gevsim options]\n");
    return 2;
}
