// Stream benchmarks.
//   stream_bench assembly   block assembly alone: datagrams fed from memory
//   stream_bench loopback   the receive thread against the camera simulator at full
//                           speed over loopback (run inside tests/netns/netns-run)
// Prints one line per measurement: what, frames, seconds, frames/s, MB/s.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "GevSimCamera.h"
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

int Loopback(double lossRatio, const char* what) {
    if (std::getenv("GEVTLKRV_NETNS_HOST") == nullptr) {
        std::printf("%s: skipped (run inside tests/netns/netns-run)\n", what);
        return 0;
    }
    constexpr uint32_t width = 1280, height = 1024;
    GevSim::CameraConfig config;
    config.address = "127.0.0.2";
    config.width = width;
    config.height = height;
    config.frameRate = 0.0f;  // as fast as it can
    config.packetSize = 8192;
    GevSim::Camera camera(config);
    std::string error;
    if (!camera.Start(&error)) {
        std::printf("%s: simulator failed: %s\n", what, error.c_str());
        return 1;
    }
    GevOpenParams params{};
    params.cameraAddress = Platform::ParseAddress("127.0.0.2");
    params.hostAddress = Platform::ParseAddress("127.0.0.1");
    params.subnetMask = Platform::ParseAddress("255.0.0.0");
    std::strcpy(params.adapterName, "lo");
    if (GEVOpenDevice(1, &params, nullptr, 0, kAccessModeControl) != kGevOk ||
        GEVOpenStreamChannel(1, 0, 0, 0) != kGevOk)
        return 1;
    if (lossRatio > 0) {
        GEVSetPacketResend(1, true);
        camera.faults().Stream().DropRatio(lossRatio, 11);
    }
    GEVSetBufferCount(1, 16);
    const uint32_t payload = width * height;
    if (GEVAcquisitionStartEx(1, 0, payload, 0, 0, 0) != kGevOk) return 1;
    camera.StartStreaming();
    std::vector<uint8_t> image(payload);
    uint64_t frames = 0, incomplete = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(3)) {
        GevStatus status = GEVGetImageBuffer(1, nullptr, image.data());
        if (status == kGevOk) ++frames;
        if (status == kGevImageIncomplete) ++incomplete;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    camera.StopStreaming();
    GEVAcquisitionStop(1);
    GEVClose(1);
    Report(what, frames, seconds, payload);
    std::printf("%-34s incomplete %llu, camera sent %llu blocks, resend requests %llu\n", "",
                static_cast<unsigned long long>(incomplete),
                static_cast<unsigned long long>(camera.StreamStats().blocksSent),
                static_cast<unsigned long long>(camera.StreamStats().resendRequests));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "assembly";
    if (mode == "assembly") return Assembly();
    if (mode == "loopback") {
        int status = Loopback(0.0, "loopback, 1.3 MP Mono8, no loss");
        return status != 0 ? status : Loopback(0.01, "loopback, 1 % loss, resend on");
    }
    std::fprintf(stderr, "usage: stream_bench assembly|loopback\n");
    return 2;
}
