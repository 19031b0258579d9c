// `gevtl grab`: acquire N frames, show progress, optionally save them as images.
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <vector>

#include "Acquisition.h"
#include "BufferParts.h"
#include "Grab.h"
#include "ImageWriter.h"

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
    std::optional<uint64_t> resent;  // packets asked for again, when the producer tells
};

void PrintProgress(const Counters& counters, double seconds, bool final) {
    const double fps = seconds > 0 ? counters.frames / seconds : 0;
    const double mbps = seconds > 0 ? counters.bytes / seconds / 1e6 : 0;
    std::printf("%s%llu frames  %.1f fps  %.2f MB/s  %llu incomplete", final ? "" : "\r",
                static_cast<unsigned long long>(counters.frames), fps, mbps,
                static_cast<unsigned long long>(counters.incomplete));
    if (counters.resent)
        std::printf("  %llu resent", static_cast<unsigned long long>(*counters.resent));
    if (!final) std::printf("   ");
    std::fflush(stdout);
}

Image FrameImage(Acquisition& acquisition, GenTL::BUFFER_HANDLE buffer) {
    Image image;
    image.pixels = acquisition.Info<uint8_t*>(buffer, GenTL::BUFFER_INFO_BASE) +
                   acquisition.InfoOr<size_t>(buffer, GenTL::BUFFER_INFO_IMAGEOFFSET, 0);
    image.width = acquisition.Info<size_t>(buffer, GenTL::BUFFER_INFO_WIDTH);
    image.height = acquisition.Info<size_t>(buffer, GenTL::BUFFER_INFO_HEIGHT);
    image.linePadding = acquisition.InfoOr<size_t>(buffer, GenTL::BUFFER_INFO_XPADDING, 0);
    image.pixelFormat = acquisition.Info<uint64_t>(buffer, GenTL::BUFFER_INFO_PIXELFORMAT);
    return image;
}

// A multi-part buffer goes out as one file a part, any other as one image.
void SaveFrame(Acquisition& acquisition, GenTL::BUFFER_HANDLE buffer, const std::string& directory,
               bool pgm) {
    const uint64_t frameId = acquisition.Info<uint64_t>(buffer, GenTL::BUFFER_INFO_FRAMEID);
    const std::vector<BufferPart> parts = ReadParts(acquisition, buffer);
    if (!parts.empty()) {
        SaveParts(parts, frameId, directory, pgm);
        return;
    }
    char name[64];
    std::snprintf(name, sizeof name, "frame-%06llu.%s", static_cast<unsigned long long>(frameId),
                  pgm ? "pgm" : "png");
    WriteImage((std::filesystem::path(directory) / name).string(), FrameImage(acquisition, buffer),
               pgm);
}

// A copy of one frame that outlives its buffer's requeue.
struct HeldFrame {
    std::vector<uint8_t> bytes;
    Image image;

    void Take(const Image& source) {
        const size_t lineBytes = source.width * StoredBits(source.pixelFormat) / 8;
        const size_t size = source.height * (lineBytes + source.linePadding);
        bytes.assign(source.pixels, source.pixels + size);
        image = source;
        image.pixels = bytes.data();
    }
};

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
    GrabOptions options;
    options.count = args.Number("-n", 10);
    options.buffers = args.Number("--buffers", 8);
    options.frameTimeoutMs = args.Number("--frame-timeout", 3000);
    options.saveDirectory = args.Value("--save");
    options.pgm = args.Has("--pgm");
    options.verbose = args.Has("--verbose");
    options.zeroCopy = args.Has("--zero-copy");
    // On any real network a packet is lost now and then: resend unless told not to.
    if (args.Has("--resend") && args.Has("--no-resend"))
        throw UsageError("--resend and --no-resend exclude each other");
    options.packetResend = !args.Has("--no-resend");
    options.handlingMode = args.Value("--mode");
    return Grab(context, context.Device(context.Word(0, "DEVICE")), options);
}

}  // namespace

int Grab(Context& context, const DeviceEntry& entry, const GrabOptions& options) {
    if (options.buffers == 0 || options.buffers > 1024) throw UsageError("--buffers is 1 to 1024");
    if (!options.saveDirectory.empty()) std::filesystem::create_directories(options.saveDirectory);

    OpenedDevice device(context.Discovered(), entry, GenTL::DEVICE_ACCESS_CONTROL);
    auto camera = GenApiBridge::GenApiPort::FromPort(
        device.RemotePort(), GenApiBridge::PortFunctionsOf(context.Library()));
    Acquisition acquisition(context.Library(), device, camera, options.buffers, options.zeroCopy,
                            options.packetResend, options.handlingMode);

    if (options.verbose)
        std::printf("%zu buffers of %zu bytes\n", size_t(options.buffers),
                    acquisition.PayloadSize());
    g_interrupted = 0;
    std::signal(SIGINT, OnInterrupt);
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    Counters counters;
    HeldFrame last;
    const auto start = std::chrono::steady_clock::now();
    auto lastDraw = start;
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    acquisition.Start();
    bool timedOut = false;
    bool partsShown = false;
    while (counters.frames < options.count && !g_interrupted) {
        const Delivered delivered = acquisition.Next(options.frameTimeoutMs);
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
        if (options.verbose) PrintFrame(acquisition, delivered.buffer, incomplete);
        // The part layout: for every frame with --verbose, else once.
        if (options.verbose || !partsShown) {
            const std::vector<BufferPart> parts = ReadParts(acquisition, delivered.buffer);
            if (!parts.empty()) {
                if (!options.verbose)
                    std::printf("multi-part frames of %zu parts:\n", parts.size());
                PrintParts(parts);
                partsShown = true;
            }
        }
        if (!options.saveDirectory.empty() && !incomplete) {
            SaveFrame(acquisition, delivered.buffer, options.saveDirectory, options.pgm);
            ++counters.saved;
        }
        if (!options.lastFramePath.empty() && !incomplete)
            last.Take(FrameImage(acquisition, delivered.buffer));
        acquisition.Requeue(delivered.buffer);
        const auto now = std::chrono::steady_clock::now();
        if (terminal && now - lastDraw > std::chrono::milliseconds(200)) {
            counters.resent = acquisition.ResendRequested();
            PrintProgress(counters, elapsed(), false);
            lastDraw = now;
        }
    }
    const double seconds = elapsed();
    counters.resent = acquisition.ResendRequested();
    acquisition.Stop();
    std::signal(SIGINT, SIG_DFL);
    if (terminal) std::printf("\r");
    PrintProgress(counters, seconds, true);
    std::printf("  in %.2f s", seconds);
    if (!options.saveDirectory.empty())
        std::printf(", %llu saved to %s", static_cast<unsigned long long>(counters.saved),
                    options.saveDirectory.c_str());
    std::printf("\n");
    if (!options.lastFramePath.empty()) {
        if (last.bytes.empty()) throw std::runtime_error("no complete frame to save");
        WriteImage(options.lastFramePath, last.image, false);
        std::printf("last frame: %zux%zu saved to %s\n", last.image.width, last.image.height,
                    options.lastFramePath.c_str());
    }
    if (timedOut) {
        std::cerr << "gevtl grab: no frame within " << options.frameTimeoutMs << " ms\n";
        return 1;
    }
    return counters.frames == options.count ? 0 : 1;
}

Command GrabCommand() {
    return {
        "grab",
        "DEVICE [-n N] [--save DIR] [--pgm] [--zero-copy] [--no-resend] [--mode M] [--buffers K]",
        "acquire frames with a progress line; optionally save them",
        {{"-n", true, "frames to acquire (default 10)"},
         {"--save", true,
          "save complete frames to DIR as frame-<frame id>.png (multi-part: one file a "
          "part, frame-<frame id>-part<N>.png, or .raw for formats not saved as images)"},
         {"--pgm", false, "save PGM instead of PNG"},
         {"--zero-copy", false, "let the producer write images straight into the buffers"},
         {"--resend", false, "ask the camera again for lost packets (the default)"},
         {"--no-resend", false, "do not ask the camera again for lost packets"},
         {"--mode", true, "buffer handling mode: OldestFirst, OldestFirstOverwrite or NewestOnly"},
         {"--buffers", true, "buffers announced (default 8)"},
         {"--verbose", false, "a line for every frame"},
         {"--frame-timeout", true, "ms to wait for a frame before giving up (default 3000)"}},
        RunGrab};
}

}  // namespace Gevtl
