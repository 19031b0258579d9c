// Stream benchmarks.
//   stream_bench assembly   block assembly alone: datagrams fed from memory
//   stream_bench loopback [--seconds S] [--rounds N]
//                           the raw ceiling (sendmmsg -> recvmmsg, datagrams of SCPS
//                           1500 and 9000; copied, and read scattered), then the
//                           receive path against gevsim sending as fast as it can over
//                           loopback, beside a bare receiver and Aravis's on the same
//                           stream, as ratios to the ceiling; N rounds of S seconds each (default
//                           3 of 3 s), medians (run inside tests/netns/netns-run)
// Prints one line per measurement: what, frames, seconds, frames/s, MB/s.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "BenchReport.h"
#include "LoopbackStreams.h"
#include "Socket.h"
#include "StreamInternal.h"
#include "StreamReceiver.h"
#include "VantorLib.h"

using namespace Vantor;
using Bench::Report;
using Clock = std::chrono::steady_clock;

namespace {

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

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "assembly";
    if (mode == "assembly") return Assembly();
    if (mode == "loopback") {
        if (std::getenv("GEVTLKRV_NETNS_HOST") == nullptr) {
            std::printf("loopback: skipped (run inside tests/netns/netns-run)\n");
            return 0;
        }
        double seconds = 3;
        int rounds = 3;
        for (int i = 2; i + 1 < argc; i += 2) {
            if (std::string(argv[i]) == "--seconds") seconds = std::atof(argv[i + 1]);
            if (std::string(argv[i]) == "--rounds") rounds = std::atoi(argv[i + 1]);
        }
        if (seconds <= 0 || seconds > 60 || rounds < 1 || rounds > 20) {
            std::fprintf(stderr, "stream_bench loopback: bad options\n");
            return 2;
        }
        try {
            return Bench::LoopbackStreams(seconds, rounds);
        } catch (const std::exception& e) {
            std::printf("loopback: %s\n", e.what());
            return 1;
        }
    }
    std::fprintf(stderr, "usage: stream_bench assembly | loopback [--seconds S] [--rounds N]\n");
    return 2;
}
