// `gevtl grab`: acquire N frames, show progress, optionally save them as images.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "Acquisition.h"
#include "ImageWriter.h"
#include "Tool.h"

namespace Gevtl {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
}

struct Counters {
    uint64_t frames = 0;
    uint64_t incomplete = 0;
    uint64_t bytes = 0;
    uint64_t saved = 0;
};

void PrintProgress(const Counters& counters, double seconds, bool final) {
    const double fps = seconds > 0 ? counters.frames / seconds : 0;
    const double mbps = seconds > 0 ? counters.bytes / seconds / 1e6 : 0;
    std::printf("%s%llu frames  %.1f fps  %.2f MB/s  %llu incomplete%s", final ? "" : "\r",
                static_cast<unsigned long long>(counters.frames), fps, mbps,
                static_cast<unsigned long long>(counters.incomplete), final ? "" : "   ");
    std::fflush(stdout);
}

void SaveFrame(Acquisition& acquisition, GenTL::BUFFER_HANDLE buffer, const std::string& directory,
               bool pgm) {
    Image image;
    image.pixels = acquisition.Info<uint8_t*>(buffer, GenTL::BUFFER_INFO_BASE) +
                   acquisition.InfoOr<size_t>(buffer, GenTL::BUFFER_INFO_IMAGEOFFSET, 0);
    image.width = acquisition.Info<size_t>(buffer, GenTL::BUFFER_INFO_WIDTH);
    image.height = acquisition.Info<size_t>(buffer, GenTL::BUFFER_INFO_HEIGHT);
    image.linePadding = acquisition.InfoOr<size_t>(buffer, GenTL::BUFFER_INFO_XPADDING, 0);
    image.pixelFormat = acquisition.Info<uint64_t>(buffer, GenTL::BUFFER_INFO_PIXELFORMAT);
    const uint64_t frameId = acquisition.Info<uint64_t>(buffer, GenTL::BUFFER_INFO_FRAMEID);
    char name[64];
    std::snprintf(name, sizeof name, "frame-%06llu.%s", static_cast<unsigned long long>(frameId),
                  pgm ? "pgm" : "png");
    WriteImage((std::filesystem::path(directory) / name).string(), image, pgm);
}

void PrintFrame(Acquisition& acquisition, GenTL::BUFFER_HANDLE buffer, bool incomplete) {
    std::printf("frame %llu: %zux%zu, padding %zu, format 0x%08llx, %zu bytes%s\n",
                static_cast<unsigned long long>(
                    acquisition.InfoOr<uint64_t>(buffer, GenTL::BUFFER_INFO_FRAMEID, 0)),
                acquisition.InfoOr<size_t>(buffer, GenTL::BUFFER_INFO_WIDTH, 0),
                acquisition.InfoOr<size_t>(buffer, GenTL::BUFFER_INFO_HEIGHT, 0),
                acquisition.InfoOr<size_t>(buffer, GenTL::BUFFER_INFO_XPADDING, 0),
                static_cast<unsigned long long>(
                    acquisition.InfoOr<uint64_t>(buffer, GenTL::BUFFER_INFO_PIXELFORMAT, 0)),
                acquisition.InfoOr<size_t>(buffer, GenTL::BUFFER_INFO_SIZE_FILLED, 0),
                incomplete ? ", incomplete" : "");
}

int RunGrab(Context& context) {
    const auto& args = context.Args();
    const uint64_t count = args.Number("-n", 10);
    const uint64_t buffers = args.Number("--buffers", 8);
    const uint64_t frameTimeoutMs = args.Number("--frame-timeout", 3000);
    const std::string saveDirectory = args.Value("--save");
    const bool pgm = args.Has("--pgm");
    const bool verbose = args.Has("--verbose");
    if (buffers == 0 || buffers > 1024) throw UsageError("--buffers is 1 to 1024");
    if (!saveDirectory.empty()) std::filesystem::create_directories(saveDirectory);

    const DeviceEntry& entry = context.Device(context.Word(0, "DEVICE"));
    OpenedDevice device(context.Discovered(), entry, GenTL::DEVICE_ACCESS_CONTROL);
    auto camera = GenApiBridge::GenApiPort::FromPort(
        device.RemotePort(), GenApiBridge::PortFunctionsOf(context.Library()));
    Acquisition acquisition(context.Library(), device, camera, buffers, args.Has("--zero-copy"));

    if (verbose)
        std::printf("%zu buffers of %zu bytes\n", size_t(buffers), acquisition.PayloadSize());
    g_interrupted = 0;
    std::signal(SIGINT, OnInterrupt);
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    Counters counters;
    const auto start = std::chrono::steady_clock::now();
    auto lastDraw = start;
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    acquisition.Start();
    bool timedOut = false;
    while (counters.frames < count && !g_interrupted) {
        const Delivered delivered = acquisition.Next(frameTimeoutMs);
        if (delivered.timedOut) {
            timedOut = true;
            break;
        }
        ++counters.frames;
        counters.bytes +=
            acquisition.InfoOr<size_t>(delivered.buffer, GenTL::BUFFER_INFO_SIZE_FILLED, 0);
        const bool incomplete = acquisition.InfoOr<GenTL::bool8_t>(
            delivered.buffer, GenTL::BUFFER_INFO_IS_INCOMPLETE, 0);
        if (incomplete) ++counters.incomplete;
        if (verbose) PrintFrame(acquisition, delivered.buffer, incomplete);
        if (!saveDirectory.empty() && !incomplete) {
            SaveFrame(acquisition, delivered.buffer, saveDirectory, pgm);
            ++counters.saved;
        }
        acquisition.Requeue(delivered.buffer);
        const auto now = std::chrono::steady_clock::now();
        if (terminal && now - lastDraw > std::chrono::milliseconds(200)) {
            PrintProgress(counters, elapsed(), false);
            lastDraw = now;
        }
    }
    const double seconds = elapsed();
    acquisition.Stop();
    std::signal(SIGINT, SIG_DFL);
    if (terminal) std::printf("\r");
    PrintProgress(counters, seconds, true);
    std::printf("  in %.2f s", seconds);
    if (!saveDirectory.empty())
        std::printf(", %llu saved to %s", static_cast<unsigned long long>(counters.saved),
                    saveDirectory.c_str());
    std::printf("\n");
    if (timedOut) {
        std::cerr << "gevtl grab: no frame within " << frameTimeoutMs << " ms\n";
        return 1;
    }
    return counters.frames == count ? 0 : 1;
}

}  // namespace

Command GrabCommand() {
    return {"grab",
            "DEVICE [-n N] [--save DIR] [--pgm] [--zero-copy] [--buffers K]",
            "acquire frames with a progress line; optionally save them",
            {{"-n", true, "frames to acquire (default 10)"},
             {"--save", true, "save complete frames to DIR as frame-<frame id>.png"},
             {"--pgm", false, "save PGM instead of PNG"},
             {"--zero-copy", false, "let the producer write images straight into the buffers"},
             {"--buffers", true, "buffers announced (default 8)"},
             {"--verbose", false, "a line for every frame"},
             {"--frame-timeout", true, "ms to wait for a frame before giving up (default 3000)"}},
            RunGrab};
}

}  // namespace Gevtl
