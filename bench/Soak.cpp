#include "Soak.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "BenchRegisters.h"
#include "BenchReport.h"
#include "FrameSequence.h"
#include "GenTLConsumer.h"
#include "Simulators.h"

namespace Bench {

namespace {

using namespace GenTL;
using Clock = std::chrono::steady_clock;

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

}  // namespace

int Soak(const SoakOptions& options) {
    GevSim::CameraConfig config;
    config.address = kCameraAddress;
    config.serial = "GTLSOAK";
    config.width = options.width;
    config.height = options.height;
    config.frameRate = options.fps;
    config.linkSpeedMbps = options.linkSpeed;
    config.packetSize = options.packetSize;
    if (!GevSim::ParseSendMode(options.sendMode, &config.sendMode))
        throw std::invalid_argument("soak: no send mode \"" + options.sendMode + "\"");
    char rate[32] = "max";
    if (options.fps > 0) std::snprintf(rate, sizeof rate, "%g", options.fps);
    std::printf(
        "soak: %ux%u Mono8, fps %s, link %u Mbit/s, SCPS %u, %s send, loss %g (seed %llu), %s "
        "delivery, packet resend on, %g min\n",
        options.width, options.height, rate, options.linkSpeed, options.packetSize,
        options.sendMode.c_str(), options.loss, static_cast<unsigned long long>(options.seed),
        options.zeroCopy ? "zero-copy" : "copy", options.minutes);
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
        else if (option == "--send-mode")
            options->sendMode = value;
        else
            return false;
    }
    // Bounded: a soak ends by itself within a day.
    GevSim::SendMode mode;
    return options->minutes > 0 && options->minutes <= 24 * 60 && options->loss >= 0 &&
           options->loss < 1 && options->width > 0 && options->height > 0 &&
           GevSim::ParseSendMode(options->sendMode, &mode);
}

}  // namespace Bench
