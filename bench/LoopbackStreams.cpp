#include "LoopbackStreams.h"

#include <netinet/in.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "BareReceiver.h"
#include "BenchRegisters.h"
#include "BenchReport.h"
#include "Bootstrap.h"
#include "ChildProcess.h"
#include "FrameSequence.h"
#include "GevsimSendModes.h"
#include "LibraryCamera.h"
#include "RawCeiling.h"
#include "VantorLib.h"

namespace Bench {

namespace {

using namespace Vantor;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kPayload = kWidth * kHeight;
constexpr uint32_t kIpUdpHeaders = 28;

// One receiver's round: complete frames in the window, what it cost.
struct StreamRound {
    double seconds = 0;
    uint64_t frames = 0;      // complete
    uint64_t incomplete = 0;  // delivered with packets missing, or failed
    uint64_t lost = 0;        // block IDs never delivered
    double cpuSeconds = 0;
    double bytes = 0;  // received: complete and incomplete frames
    double MBps() const { return seconds > 0 ? frames * double(kPayload) / seconds / 1e6 : 0; }
    double CpuPerGB() const { return bytes > 0 ? cpuSeconds / (bytes / 1e9) : 0; }
    double BadPercent() const {
        const double all = frames + incomplete + lost;
        return all > 0 ? (incomplete + lost) * 100.0 / all : 0;
    }
};

// `gevsim` as its own process, so that the CPU time measured here is the receiver's.
class Simulator {
public:
    Simulator(uint32_t packetSize, const std::string& sendMode,
              const std::vector<std::string>& extra)
        : m_child(Arguments(packetSize, sendMode, extra),
                  TestProcess::ChildProcess::Output::kDiscarded) {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }

private:
    static std::vector<std::string> Arguments(uint32_t packetSize, const std::string& sendMode,
                                              const std::vector<std::string>& extra) {
        // A still test pattern, drawn once: the sender's drawing must not set the rate.
        std::vector<std::string> arguments = {GEVSIM_PATH,
                                              "--address",
                                              "127.0.0.2",
                                              "--fps",
                                              "max",
                                              "--link-speed",
                                              "100000",
                                              "--width",
                                              "2048",
                                              "--height",
                                              "1536",
                                              "--packet-size",
                                              std::to_string(packetSize),
                                              "--test-pattern",
                                              "3"};
        if (!sendMode.empty()) arguments.insert(arguments.end(), {"--send-mode", sendMode});
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    }

    TestProcess::ChildProcess m_child;
};

std::string Label(const char* receiver, uint32_t packetSize, const std::string& sendMode,
                  const char* extra = "") {
    return std::string(receiver) + ", SCPS " + std::to_string(packetSize) + ", " +
           (sendMode.empty() ? "plain" : sendMode) + " send" + extra;
}

// How the images are taken from the library: from the ring, given back at once
// (the receiver's own cost, as the ceiling's one copy and Aravis's buffers), or
// copied out into an image of the caller's.
enum class Take { Ring, CopyOut };

// The simulator's test pattern: still (drawn once, the default here) or moving (drawn
// per block, which leaves the receiver a pause between blocks).
enum class Pattern { Still, Moving };

bool Ours(uint32_t packetSize, const std::string& sendMode, double lossRatio, double seconds,
          Take take, StreamRound* round, Pattern pattern = Pattern::Still) {
    std::vector<std::string> extra;
    if (lossRatio > 0) extra = {"--loss-ratio", std::to_string(lossRatio), "--seed", "5"};
    if (pattern == Pattern::Moving) extra.insert(extra.end(), {"--test-pattern", "0"});
    Simulator simulator(packetSize, sendMode, extra);
    if (!OpenLibraryCamera()) return false;
    struct Closer {
        ~Closer() { GEVClose(1); }
    } closer;
    if (GEVOpenStreamChannel(1, 0, 0, 0) != kGevOk) return false;
    GEVSetPacketResend(1, lossRatio > 0);
    GEVSetBufferCount(1, 16);
    if (GEVAcquisitionStartEx(1, 0, kPayload, 0, 0, 0) != kGevOk) return false;
    const uint32_t start = 1, stop = 1;
    GEVWriteRegister(1, kAcquisitionStartRegister, 1, &start);
    std::vector<uint8_t> image(kPayload);
    GevImageInfo info{};
    auto next = [&] {
        if (take == Take::CopyOut) return GEVGetImageBuffer(1, &info, image.data());
        uint16_t slot = 0;
        const GevStatus got = GEVGetRingBufferImage(1, &info, &slot);
        if (got == kGevOk || got == kGevImageIncomplete) GEVQueueRingBuffer(1, slot);
        return got;
    };
    // The window opens with the first frame delivered.
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    GevStatus status = kGevTimeout;
    while (status != kGevOk && status != kGevImageIncomplete && Clock::now() < deadline)
        status = next();
    if (status != kGevOk && status != kGevImageIncomplete) return false;
    uint64_t previous = info.blockId;
    const double cpuBefore = CpuSeconds();
    const auto begin = Clock::now();
    while (Clock::now() - begin < std::chrono::duration<double>(seconds)) {
        status = next();
        if (status != kGevOk && status != kGevImageIncomplete) continue;
        ++(status == kGevOk ? round->frames : round->incomplete);
        round->lost += MissingBetween(previous, info.blockId);
        previous = info.blockId;
    }
    round->seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    round->cpuSeconds = CpuSeconds() - cpuBefore;
    round->bytes = (round->frames + round->incomplete) * double(kPayload);
    GEVWriteRegister(1, kAcquisitionStopRegister, 1, &stop);
    GEVAcquisitionStop(1);
    return true;
}

// The bare path on the same stream, at the rate the simulator sets: the camera
// opened through the library but pointed at a BareReceiver. What a receiver
// costs per GB depends on how full each of its reads is, so ours is also
// compared with this at an equal rate, not only with the ceiling's sender.
bool Bare(uint32_t packetSize, const std::string& sendMode, double seconds, StreamRound* round) {
    Simulator simulator(packetSize, sendMode, {});
    if (!OpenLibraryCamera()) return false;
    struct Closer {
        ~Closer() { GEVClose(1); }
    } closer;
    BareReceiver receiver(kPayload);
    const uint32_t start = 1, stop = 1, off = 0, port = receiver.port();
    const uint32_t destination = INADDR_LOOPBACK, size = packetSize;
    if (GEVWriteRegister(1, Bootstrap::kStreamPacketSize, 1, &size) != kGevOk ||
        GEVWriteRegister(1, Bootstrap::kStreamDestination, 1, &destination) != kGevOk ||
        GEVWriteRegister(1, Bootstrap::kStreamPort, 1, &port) != kGevOk ||
        GEVWriteRegister(1, kAcquisitionStartRegister, 1, &start) != kGevOk)
        return false;
    // The window opens with the first trailer read.
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (receiver.Read().trailers == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const BareReceiver::Counters before = receiver.Read();
    const auto begin = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const BareReceiver::Counters after = receiver.Read();
    round->seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    GEVWriteRegister(1, kAcquisitionStopRegister, 1, &stop);
    GEVWriteRegister(1, Bootstrap::kStreamPort, 1, &off);
    if (after.trailers == 0) return false;
    round->frames = after.trailers - before.trailers;
    round->cpuSeconds = after.cpuSeconds - before.cpuSeconds;
    round->bytes = static_cast<double>(after.bytes - before.bytes);
    return true;
}

// Aravis's receiver in socket mode against the same simulator: its own counters,
// its CPU time from the shell's `time`.
bool Aravis(uint32_t packetSize, const std::string& sendMode, double seconds, StreamRound* round) {
    Simulator simulator(packetSize, sendMode, {});
    char duration[32];
    std::snprintf(duration, sizeof duration, "%g", seconds);
    const std::string command =
        std::string(
            "bash -c 'TIMEFORMAT=\"cpu %U %S\"; time timeout 30 arv-camera-test-0.8 "
            "--no-packet-socket -n 127.0.0.2 --duration ") +
        duration + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    char line[256];
    unsigned long long completed = 0, failures = 0, missing = 0, bytes = 0;
    double user = 0, system = 0;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::sscanf(line, "n_completed_buffers = %llu", &completed);
        std::sscanf(line, "n_failures = %llu", &failures);
        std::sscanf(line, "n_missing_frames = %llu", &missing);
        std::sscanf(line, "n_transferred_bytes = %llu", &bytes);
        std::sscanf(line, "cpu %lf %lf", &user, &system);
    }
    if (pclose(pipe) != 0 && completed == 0) return false;
    // Its CPU time includes finding and opening the camera; the window is its duration.
    round->seconds = seconds;
    round->frames = completed;
    round->incomplete = failures;
    round->lost = missing;
    round->cpuSeconds = user + system;
    round->bytes = static_cast<double>(bytes);
    return true;
}

void PrintRound(const std::string& what, const StreamRound& r) {
    std::printf("%-44s %6.1f MB/s  %5.2f CPU-s/GB  frames %llu  incomplete %llu  lost %llu\n",
                what.c_str(), r.MBps(), r.CpuPerGB(), static_cast<unsigned long long>(r.frames),
                static_cast<unsigned long long>(r.incomplete),
                static_cast<unsigned long long>(r.lost));
    std::fflush(stdout);
}

// The medians of a receiver's rounds, and as ratios to the ceiling's; with
// `bareCpuPerGB`, its CPU per GB also as a ratio to the bare path's on the same stream.
void PrintMedians(const std::string& what, const std::vector<StreamRound>& rounds,
                  const CeilingMeasurement& ceiling, double bareCpuPerGB = 0) {
    std::vector<double> mbps, cpu, bad;
    for (const StreamRound& r : rounds) {
        mbps.push_back(r.MBps());
        cpu.push_back(r.CpuPerGB());
        bad.push_back(r.BadPercent());
    }
    const double m = Median(mbps), c = Median(cpu);
    char bare[48] = "";
    if (bareCpuPerGB > 0) std::snprintf(bare, sizeof bare, " = %.2f x bare", c / bareCpuPerGB);
    std::printf(
        "%-44s median of %zu: %6.1f MB/s = %.3f x ceiling, %5.2f CPU-s/GB = %.2f x ceiling%s, "
        "frames lost or incomplete %.1f %%\n",
        what.c_str(), rounds.size(), m, ceiling.MBps() > 0 ? m / ceiling.MBps() : 0, c,
        ceiling.CpuPerGB() > 0 ? c / ceiling.CpuPerGB() : 0, bare, Median(bad));
    std::fflush(stdout);
}

}  // namespace

int LoopbackStreams(double seconds, int rounds) {
    const std::vector<std::string> modes = GevsimSendModes();
    bool aravis = TestProcess::OnPath("arv-camera-test-0.8");
    if (!aravis) std::printf("aravis: arv-camera-test-0.8 not available\n");
    for (uint32_t packetSize : {1500u, 9000u}) {
        const uint32_t datagram = packetSize - kIpUdpHeaders;
        std::vector<double> mbps, pps, cpu, sender, scatterMBps, scatterCpu;
        for (int i = 0; i < rounds; ++i) {
            const CeilingMeasurement c = MeasureCeiling(datagram, seconds);
            std::printf("%-44s %6.1f MB/s  %9.0f packets/s  %5.2f CPU-s/GB  (sender %.1f MB/s)\n",
                        ("raw ceiling, " + std::to_string(datagram) + " B datagrams").c_str(),
                        c.MBps(), c.PacketsPerSecond(), c.CpuPerGB(), c.senderMBps);
            mbps.push_back(c.MBps());
            pps.push_back(c.PacketsPerSecond());
            cpu.push_back(c.CpuPerGB());
            sender.push_back(c.senderMBps);
            // Rounds alternate with the copy's, so both see the same machine.
            const CeilingMeasurement s = MeasureCeiling(datagram, seconds, CeilingRead::Scatter);
            std::printf(
                "%-44s %6.1f MB/s  %9.0f packets/s  %5.2f CPU-s/GB  (sender %.1f MB/s, moved "
                "%llu)\n",
                ("raw scatter read, " + std::to_string(datagram) + " B datagrams").c_str(),
                s.MBps(), s.PacketsPerSecond(), s.CpuPerGB(), s.senderMBps,
                static_cast<unsigned long long>(s.moved));
            scatterMBps.push_back(s.MBps());
            scatterCpu.push_back(s.CpuPerGB());
        }
        // The median of each figure; the ratios below divide by these.
        CeilingMeasurement ceiling;
        ceiling.seconds = 1;
        ceiling.bytes = static_cast<uint64_t>(Median(mbps) * 1e6);
        ceiling.datagrams = static_cast<uint64_t>(Median(pps));
        ceiling.cpuSeconds = Median(cpu) * ceiling.bytes / 1e9;
        // On loopback the sender's system calls carry the datagrams up to the receiver's
        // socket: when all it sent arrived, the sender set the MB/s, not the receiver.
        const bool senderBound = ceiling.MBps() >= 0.9 * Median(sender);
        std::printf(
            "%-44s median of %d: %6.1f MB/s, %.0f packets/s, %.2f CPU-s/GB (sender %.1f MB/s%s)\n",
            ("raw ceiling, SCPS " + std::to_string(packetSize)).c_str(), rounds, ceiling.MBps(),
            ceiling.PacketsPerSecond(), ceiling.CpuPerGB(), Median(sender),
            senderBound ? ", sender-bound" : "");
        // What a scatter read could save a receiver at most: the ceiling's own copy.
        std::printf(
            "%-44s median of %d: %6.1f MB/s = %.3f x ceiling, %5.2f CPU-s/GB = %.2f x ceiling\n",
            ("raw scatter read, SCPS " + std::to_string(packetSize)).c_str(), rounds,
            Median(scatterMBps), Median(scatterMBps) / std::max(ceiling.MBps(), 1e-9),
            Median(scatterCpu), Median(scatterCpu) / std::max(ceiling.CpuPerGB(), 1e-9));
        for (const std::string& mode : modes) {
            std::vector<StreamRound> bare, ours, copied, theirs;
            for (int i = 0; i < rounds; ++i) {
                StreamRound b, r, c;
                if (!Bare(packetSize, mode, seconds, &b) ||
                    !Ours(packetSize, mode, 0.0, seconds, Take::Ring, &r) ||
                    !Ours(packetSize, mode, 0.0, seconds, Take::CopyOut, &c)) {
                    std::printf("%s: simulator not reachable\n",
                                Label("ours", packetSize, mode).c_str());
                    return 1;
                }
                PrintRound(Label("bare recvmmsg + copy", packetSize, mode), b);
                PrintRound(Label("ours", packetSize, mode), r);
                PrintRound(Label("ours", packetSize, mode, ", copied out"), c);
                bare.push_back(b);
                ours.push_back(r);
                copied.push_back(c);
                if (!aravis) continue;
                StreamRound a;
                if (Aravis(packetSize, mode, seconds, &a)) {
                    PrintRound(Label("aravis (socket)", packetSize, mode), a);
                    theirs.push_back(a);
                }
            }
            PrintMedians(Label("bare recvmmsg + copy", packetSize, mode), bare, ceiling);
            std::vector<double> bareCpu;
            for (const StreamRound& b : bare) bareCpu.push_back(b.CpuPerGB());
            const double bareCpuPerGB = Median(bareCpu);
            PrintMedians(Label("ours", packetSize, mode), ours, ceiling, bareCpuPerGB);
            PrintMedians(Label("ours", packetSize, mode, ", copied out"), copied, ceiling,
                         bareCpuPerGB);
            if (!theirs.empty())
                PrintMedians(Label("aravis (socket)", packetSize, mode), theirs, ceiling,
                             bareCpuPerGB);
        }
        if (packetSize == 9000) {
            // With a sender the receiver only just keeps up with, resent packets queue
            // behind the backlog; the moving pattern's drawing gives it pauses.
            for (Pattern pattern : {Pattern::Still, Pattern::Moving}) {
                const std::string label =
                    Label("ours", packetSize, modes.front(),
                          pattern == Pattern::Still ? ", 1 % loss, resend"
                                                    : ", 1 % loss, resend, moving");
                std::vector<StreamRound> lossy;
                for (int i = 0; i < rounds; ++i) {
                    StreamRound r;
                    if (!Ours(packetSize, modes.front(), 0.01, seconds, Take::Ring, &r, pattern))
                        return 1;
                    PrintRound(label, r);
                    lossy.push_back(r);
                }
                PrintMedians(label, lossy, ceiling);
            }
        }
    }
    return 0;
}

}  // namespace Bench
