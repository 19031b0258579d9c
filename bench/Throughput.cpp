#include "Throughput.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "BenchRegisters.h"
#include "BenchReport.h"
#include "GenTLConsumer.h"
#include "LibraryCamera.h"
#include "Simulators.h"
#include "VantorLib.h"

namespace Bench {

namespace {

using namespace GenTL;
using Clock = std::chrono::steady_clock;

// The protocol library alone, as stream_bench measures it: copy delivery into
// the consumer's buffer from a ring of 16, or zero-copy delivery from a ring of
// 8 consumer buffers handed back by slot.
Measurement MeasureLibrary(uint32_t packetSize, bool zeroCopy, double seconds) {
    using namespace Vantor;
    GevsimProgram simulator(packetSize, "GTLBENCH");
    if (!OpenLibraryCamera()) throw std::runtime_error("library: simulator not reachable");
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

}  // namespace

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

}  // namespace Bench
