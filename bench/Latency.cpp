// How a trailer's arrival is timed: the simulator runs as its own program and
// sends over loopback; a packet socket on `lo` with a kernel filter keeps only
// the trailers to the stream's port and has the kernel stamp each as it enters
// the receive path (SO_TIMESTAMPNS: netif_rx on loopback, the moment the
// producer's socket gets the same datagram). The socket is read only after the
// run, so no thread of this process wakes up beside the producer's; the stamps
// are kept in the socket until then. EventGetData's return is read on the same
// clock (CLOCK_REALTIME) right after it, and the two are matched by block ID.
// Each stream is measured first with a BareReceiver in the producer's place:
// the floor that the machine's own receive path sets on the same stream.
#include "Latency.h"

#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BareReceiver.h"
#include "BenchRegisters.h"
#include "BenchReport.h"
#include "Bootstrap.h"
#include "GenTLConsumer.h"
#include "GevsimSendModes.h"
#include "Simulators.h"
#include "TrailerSniffer.h"

namespace Bench {

namespace {

using namespace GenTL;
using Clock = std::chrono::steady_clock;

struct Delivery {
    uint64_t blockId;
    int64_t returnedNs;
    bool complete;
};

double Percentile(std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    const size_t at = std::min(sorted.size() - 1, static_cast<size_t>(p * sorted.size()));
    return sorted[at];
}

// Prints p50/p99/max of the time from each block's trailer arriving to its
// delivery (`returnedNs`). The latest trailer of the block before its delivery
// counts (a resent trailer is the block's arrival); deliveries from before the
// sniffer are skipped.
void Report(const char* what, const std::vector<Delivery>& deliveries,
            const std::vector<TrailerSniffer::Trailer>& trailers, uint64_t dropped) {
    std::map<uint64_t, std::vector<int64_t>> arrivals;
    for (const TrailerSniffer::Trailer& t : trailers) arrivals[t.blockId].push_back(t.arrivalNs);
    std::vector<double> latencies;
    uint64_t unmatched = 0, incomplete = 0;
    for (const Delivery& d : deliveries) {
        if (!d.complete) {
            ++incomplete;
            continue;
        }
        const auto found = arrivals.find(d.blockId);
        int64_t arrival = -1;
        if (found != arrivals.end())
            for (int64_t a : found->second)
                if (a <= d.returnedNs && d.returnedNs - a < 1000000000LL) arrival = a;
        if (arrival < 0) {
            ++unmatched;
            continue;
        }
        latencies.push_back((d.returnedNs - arrival) / 1e3);
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf(
        "%-62s frames %zu  p50 %7.1f us  p99 %7.1f us  max %7.1f us  (incomplete %llu, "
        "unmatched %llu, trailers dropped %llu)\n",
        what, latencies.size(), Percentile(latencies, 0.50), Percentile(latencies, 0.99),
        latencies.empty() ? 0.0 : latencies.back(), static_cast<unsigned long long>(incomplete),
        static_cast<unsigned long long>(unmatched), static_cast<unsigned long long>(dropped));
    std::fflush(stdout);
}

GevsimOptions LatencyGevsim(const std::string& fps, const std::string& sendMode,
                            uint32_t packetSize) {
    GevsimOptions options;
    options.packetSize = packetSize;
    options.serial = "GTLLATENCY";
    options.fps = fps;
    options.sendMode = sendMode;
    // A 10 GigE camera's pace: a block leaves as a paced train, not as one burst
    // larger than the socket's receive buffer.
    options.linkSpeedMbps = 10000;
    return options;
}

void Measure(const std::string& fps, const std::string& sendMode, uint32_t packetSize,
             double seconds, bool zeroCopy) {
    const GevsimOptions options = LatencyGevsim(fps, sendMode, packetSize);
    GevsimProgram simulator(options);
    Consumer consumer;
    consumer.OpenCamera(options.serial);
    consumer.WriteCamera(kStreamPacketSizeRegister, packetSize);
    const uint32_t payload = consumer.ReadCamera(kPayloadSizeRegister);
    if (zeroCopy) consumer.WriteStream(kStreamUseUserBuffer, 1);
    consumer.AnnounceAndQueue(kAnnouncedBuffers, payload);
    consumer.Start();
    const uint16_t port =
        static_cast<uint16_t>(consumer.ReadCamera(Vantor::Bootstrap::kStreamPort) & 0xFFFF);
    TrailerSniffer sniffer(port);
    std::vector<Delivery> deliveries;
    deliveries.reserve(static_cast<size_t>(seconds * 1000) + 16);
    const auto begin = Clock::now();
    while (Clock::now() - begin < std::chrono::duration<double>(seconds)) {
        BUFFER_HANDLE buffer = consumer.Next(1000);
        const int64_t returned = RealtimeNs();
        if (buffer == nullptr) continue;
        deliveries.push_back({consumer.BufferInfo<uint64_t>(buffer, BUFFER_INFO_FRAMEID), returned,
                              !consumer.BufferInfo<bool8_t>(buffer, BUFFER_INFO_IS_INCOMPLETE)});
        consumer.Queue(buffer);
    }
    consumer.Stop();
    const std::vector<TrailerSniffer::Trailer> trailers = sniffer.Drain();
    char what[80];
    std::snprintf(what, sizeof what, "latency, SCPS %u, %s fps, %s send, %s", packetSize,
                  fps.c_str(), sendMode.empty() ? "plain" : sendMode.c_str(),
                  zeroCopy ? "zero-copy" : "copy");
    Report(what, deliveries, trailers, sniffer.Dropped());
}

// The floor under Measure's figures, on the same stream: the camera opened
// through the producer, but pointed at a BareReceiver, whose read of each
// trailer stands for the delivery.
void MeasureBare(const std::string& fps, const std::string& sendMode, uint32_t packetSize,
                 double seconds) {
    const GevsimOptions options = LatencyGevsim(fps, sendMode, packetSize);
    GevsimProgram simulator(options);
    Consumer consumer;
    consumer.OpenCamera(options.serial);
    consumer.WriteCamera(kStreamPacketSizeRegister, packetSize);
    BareReceiver receiver(consumer.ReadCamera(kPayloadSizeRegister));
    TrailerSniffer sniffer(receiver.port());
    consumer.WriteCamera(Vantor::Bootstrap::kStreamDestination, INADDR_LOOPBACK);
    consumer.WriteCamera(Vantor::Bootstrap::kStreamPort, receiver.port());
    consumer.WriteCamera(kAcquisitionStartRegister, 1);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    consumer.WriteCamera(kAcquisitionStopRegister, 1);
    consumer.WriteCamera(Vantor::Bootstrap::kStreamPort, 0);
    std::vector<Delivery> deliveries;
    for (const BareReceiver::Trailer& t : receiver.Stop())
        deliveries.push_back({t.blockId, t.readNs, true});
    char what[80];
    std::snprintf(what, sizeof what, "latency, SCPS %u, %s fps, %s send, bare recvmmsg + copy",
                  packetSize, fps.c_str(), sendMode.empty() ? "plain" : sendMode.c_str());
    Report(what, deliveries, sniffer.Drain(), sniffer.Dropped());
}

}  // namespace

int Latency(double seconds, uint32_t packetSize, std::string mode) {
    // Unnamed, every fast mode: how soon the receiver is through a block's train
    // depends on how it is read (offload or not).
    std::vector<std::string> modes = mode.empty() ? GevsimSendModes() : std::vector{mode};
    for (std::string& m : modes)
        if (m == "plain") m.clear();
    for (const std::string& m : modes)
        for (const char* fps : {"100", "max"}) {
            MeasureBare(fps, m, packetSize, seconds);
            for (bool zeroCopy : {false, true}) Measure(fps, m, packetSize, seconds, zeroCopy);
        }
    return 0;
}

}  // namespace Bench
