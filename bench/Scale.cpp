#include "Scale.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "BenchRegisters.h"
#include "BenchReport.h"
#include "FrameSequence.h"
#include "GenTLConsumer.h"
#include "GevsimSendModes.h"
#include "Simulators.h"

namespace Bench {

namespace {

using namespace GenTL;
using Clock = std::chrono::steady_clock;

constexpr int kCameras = 4;
constexpr auto kWarmUp = std::chrono::milliseconds(1000);
// Each camera paced as on a 10 GigE link of its own.
constexpr uint32_t kLinkSpeedMbps = 10000;

struct StreamCounts {
    uint64_t frames = 0, incomplete = 0, lost = 0;
};

struct ScaleRound {
    double seconds = 0, cpuSeconds = 0;
    uint32_t payload = 0;
    std::vector<StreamCounts> streams;
    StreamCounts Total() const {
        StreamCounts t;
        for (const StreamCounts& s : streams) {
            t.frames += s.frames;
            t.incomplete += s.incomplete;
            t.lost += s.lost;
        }
        return t;
    }
    double Fps() const { return seconds > 0 ? Total().frames / seconds : 0; }
    double MBps() const { return Fps() * payload / 1e6; }
    double CpuPerGB() const {
        const StreamCounts t = Total();
        const double gb = (t.frames + t.incomplete) * double(payload) / 1e9;
        return gb > 0 ? cpuSeconds / gb : 0;
    }
    double BadPercent() const {
        const StreamCounts t = Total();
        const double all = t.frames + t.incomplete + t.lost;
        return all > 0 ? (t.incomplete + t.lost) * 100.0 / all : 0;
    }
};

std::string CameraNamespace(int i) {
    const char* name = std::getenv(("GEVTLKRV_NETNS_CAM" + std::to_string(i)).c_str());
    return name != nullptr ? name : "";
}

// `cameras` simulators at `fps` each, received through one producer, one thread
// per data stream; the window opens after a warm-up for all at once.
ScaleRound Run(int cameras, const std::string& fps, const ScaleOptions& options,
               const std::string& sendMode) {
    std::vector<std::unique_ptr<GevsimProgram>> simulators;
    for (int i = 0; i < cameras; ++i) {
        GevsimOptions o;
        o.packetSize = options.packetSize;
        o.serial = "GTLSCALE" + std::to_string(i);
        o.fps = fps;
        o.sendMode = sendMode;
        o.address = "169.254." + std::to_string(10 + i) + ".2";
        o.netns = CameraNamespace(i);
        o.linkSpeedMbps = kLinkSpeedMbps;
        o.mac = "02:00:5e:10:01:0" + std::to_string(i);  // the device IDs differ by it
        simulators.push_back(std::make_unique<GevsimProgram>(o));
    }
    auto producer = std::make_shared<Producer>();
    std::vector<std::unique_ptr<Consumer>> consumers;
    ScaleRound round;
    for (int i = 0; i < cameras; ++i) {
        consumers.push_back(std::make_unique<Consumer>(producer));
        Consumer& c = *consumers.back();
        c.OpenCamera("GTLSCALE" + std::to_string(i));
        c.WriteCamera(kStreamPacketSizeRegister, options.packetSize);
        if ((c.ReadCamera(kStreamPacketSizeRegister) & 0xFFFF) != options.packetSize)
            throw std::runtime_error("scale: SCPS not as asked");
        round.payload = c.ReadCamera(kPayloadSizeRegister);
        c.AnnounceAndQueue(kAnnouncedBuffers, round.payload);
    }
    round.streams.resize(cameras);
    for (auto& c : consumers) c->Start();

    const auto open = Clock::now() + kWarmUp;
    const auto close = open + std::chrono::duration<double>(options.seconds);
    std::mutex failureLock;
    std::string failure;
    {
        std::vector<std::thread> threads;
        for (int i = 0; i < cameras; ++i) {
            threads.emplace_back([&, i] {
                try {
                    Consumer& c = *consumers[i];
                    StreamCounts& counts = round.streams[i];
                    uint64_t previous = 0;
                    while (Clock::now() < close) {
                        BUFFER_HANDLE buffer = c.Next(500);
                        if (buffer == nullptr) continue;
                        const uint64_t id = c.BufferInfo<uint64_t>(buffer, BUFFER_INFO_FRAMEID);
                        const bool incomplete =
                            c.BufferInfo<bool8_t>(buffer, BUFFER_INFO_IS_INCOMPLETE) != 0;
                        c.Queue(buffer);
                        if (Clock::now() < open) {
                            previous = id;
                            continue;
                        }
                        ++(incomplete ? counts.incomplete : counts.frames);
                        counts.lost += MissingBetween(previous, id);
                        previous = id;
                    }
                } catch (const std::exception& e) {
                    std::lock_guard<std::mutex> guard(failureLock);
                    failure = e.what();
                }
            });
        }
        std::this_thread::sleep_until(open);
        const double cpuBefore = CpuSeconds();
        std::this_thread::sleep_until(close);
        round.cpuSeconds = CpuSeconds() - cpuBefore;
        round.seconds = std::chrono::duration<double>(Clock::now() - open).count();
        for (std::thread& t : threads) t.join();
    }
    if (!failure.empty()) throw std::runtime_error("scale: " + failure);
    for (auto& c : consumers) c->Stop();
    return round;
}

void PrintRound(const char* what, const ScaleRound& r) {
    const StreamCounts t = r.Total();
    std::printf(
        "%-44s %7.1f fps  %7.1f MB/s  %5.2f CPU-s/GB  incomplete %llu  lost %llu  "
        "(frames per stream:",
        what, r.Fps(), r.MBps(), r.CpuPerGB(), static_cast<unsigned long long>(t.incomplete),
        static_cast<unsigned long long>(t.lost));
    for (const StreamCounts& s : r.streams)
        std::printf(" %llu", static_cast<unsigned long long>(s.frames));
    std::printf(")\n");
    std::fflush(stdout);
}

struct Medians {
    double fps, mbps, cpu, bad;
};

Medians Summarise(const std::vector<ScaleRound>& rounds) {
    std::vector<double> fps, mbps, cpu, bad;
    for (const ScaleRound& r : rounds) {
        fps.push_back(r.Fps());
        mbps.push_back(r.MBps());
        cpu.push_back(r.CpuPerGB());
        bad.push_back(r.BadPercent());
    }
    return {Median(fps), Median(mbps), Median(cpu), Median(bad)};
}

}  // namespace

int Scale(const ScaleOptions& options) {
    for (int i = 0; i < kCameras; ++i)
        if (CameraNamespace(i).empty()) {
            std::printf("scale: skipped (run inside tests/netns/netns-run --cameras 4)\n");
            return 0;
        }
    std::string mode = options.sendMode.empty() ? GevsimSendModes().front() : options.sendMode;
    if (mode == "plain") mode.clear();
    const std::string label = "SCPS " + std::to_string(options.packetSize) + ", " +
                              (mode.empty() ? "plain" : mode) + " send";

    std::vector<ScaleRound> single;
    for (int i = 0; i < options.rounds; ++i) {
        single.push_back(Run(1, "max", options, mode));
        PrintRound(("scale, 1 camera at full rate, " + label).c_str(), single.back());
    }
    const Medians one = Summarise(single);
    std::printf(
        "%-44s median of %d: %.1f fps, %.1f MB/s, %.2f CPU-s/GB, lost or incomplete %.1f %%\n",
        "scale, 1 camera", options.rounds, one.fps, one.mbps, one.cpu, one.bad);

    // AcquisitionFrameRate takes 1..100 per second.
    const double each = std::max(1.0, std::min(100.0, options.fraction * one.fps / kCameras));
    char fps[32];
    std::snprintf(fps, sizeof fps, "%.2f", each);
    std::vector<ScaleRound> four;
    for (int i = 0; i < options.rounds; ++i) {
        four.push_back(Run(kCameras, fps, options, mode));
        PrintRound(("scale, 4 cameras at " + std::string(fps) + " fps, " + label).c_str(),
                   four.back());
    }
    const Medians all = Summarise(four);
    std::printf(
        "%-44s median of %d: %.1f fps, %.1f MB/s = %.2f x 1 camera (asked %.2f), %.2f CPU-s/GB "
        "= %.2f x 1 camera, lost or incomplete %.1f %%\n",
        "scale, 4 cameras", options.rounds, all.fps, all.mbps,
        one.mbps > 0 ? all.mbps / one.mbps : 0, kCameras * each / (one.fps > 0 ? one.fps : 1),
        all.cpu, one.cpu > 0 ? all.cpu / one.cpu : 0, all.bad);
    return 0;
}

}  // namespace Bench
