// GenTL benchmarks: the whole consumer path through the built GEVTLKRV.cti.
//   gentl_bench throughput [--seconds S] [--rounds N]
//       gevsim sending as fast as it can over loopback (the stream of stream_bench
//       loopback, SCPS 1500 and 9000), received by the protocol library alone and
//       through GenTL (EventGetData/DSQueueBuffer), in copy and zero-copy delivery,
//       N rounds of S seconds each (default 3 of 5 s); then the GenTL layer's cost
//       against the library's: the medians of CPU time per frame and frames/s.
//   gentl_bench soak [--minutes M] [--loss R] [--seed S] [--zero-copy] [--fps N|max]
//                    [--link-speed MBPS] [--packet-size B] [--width W] [--height H]
//                    [--resend-count N] [--send-mode plain|batch|gso]
//       one lossy stream through GenTL with packet resend for M minutes: every frame
//       must be complete, hold the test pattern and follow its predecessor's ID;
//       VmRSS at the start, every minute and at the end. Exit status 1 when a frame
//       was lost, incomplete, corrupt or delivered twice; a frame delivered after a
//       later one is counted and shown, as nothing of it is lost.
//   gentl_bench latency [--seconds S] [--packet-size B] [--send-mode plain|batch|gso]
//       from a trailer's arrival to EventGetData returning its buffer (Latency.cpp
//       tells how the arrival is timed), p50/p99/max over S seconds (default 5) at
//       100 fps and at full rate, SCPS B (default 9000), copy and zero-copy delivery;
//       without --send-mode, for each fast send mode.
//   gentl_bench scale [--seconds S] [--rounds N] [--packet-size B] [--fraction F]
//                     [--send-mode plain|batch|gso]
//       the single-stream rate of one camera behind a veth link, then four cameras in
//       four namespaces at once into four data streams of one producer, at F (default
//       0.8) of that rate shared among them: frames lost or incomplete, CPU per GB,
//       the total as a ratio of the single stream; N rounds (3) of S seconds (4), medians.
//       Run inside netns-run --cameras 4 (--mtu 9000 for SCPS 9000, the default).
// Run them inside tests/netns/netns-run. Lines: what, frames, seconds, frames/s, MB/s.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "Latency.h"
#include "Scale.h"
#include "Soak.h"
#include "Throughput.h"

using namespace Bench;

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode != "throughput" && mode != "soak" && mode != "latency" && mode != "scale") {
        std::fprintf(stderr,
                     "usage: gentl_bench throughput [--seconds S] [--rounds N]\n"
                     "       gentl_bench latency [--seconds S] [--packet-size B] [--send-mode M]\n"
                     "       gentl_bench scale [--seconds S] [--rounds N] [--packet-size B]\n"
                     "                         [--fraction F] [--send-mode M]\n"
                     "       gentl_bench soak [--minutes M] [--loss R] [--seed S] [--zero-copy]\n"
                     "                        [--fps N|max] [--link-speed MBPS] [--packet-size B]\n"
                     "                        [--width W] [--height H] [--resend-count N]\n"
                     "                        [--send-mode plain|batch|gso]\n");
        return 2;
    }
    if (std::getenv("GEVTLKRV_NETNS_HOST") == nullptr) {
        std::printf("gentl_bench %s: skipped (run inside tests/netns/netns-run)\n", mode.c_str());
        return 0;
    }
    try {
        if (mode == "throughput") {
            double seconds = 5;
            int rounds = 3;
            for (int i = 2; i + 1 < argc; i += 2) {
                if (std::string(argv[i]) == "--seconds") seconds = std::atof(argv[i + 1]);
                if (std::string(argv[i]) == "--rounds") rounds = std::atoi(argv[i + 1]);
            }
            if (seconds <= 0 || seconds > 60 || rounds < 1 || rounds > 20) {
                std::fprintf(stderr, "gentl_bench throughput: bad options\n");
                return 2;
            }
            return Throughput(seconds, rounds);
        }
        if (mode == "latency") {
            double seconds = 5;
            uint32_t packetSize = 9000;
            std::string sendMode;
            for (int i = 2; i + 1 < argc; i += 2) {
                if (std::string(argv[i]) == "--seconds") seconds = std::atof(argv[i + 1]);
                if (std::string(argv[i]) == "--packet-size")
                    packetSize = static_cast<uint32_t>(std::atoi(argv[i + 1]));
                if (std::string(argv[i]) == "--send-mode") sendMode = argv[i + 1];
            }
            if (seconds <= 0 || seconds > 600 || packetSize < 576 || packetSize > 9000) {
                std::fprintf(stderr, "gentl_bench latency: bad options\n");
                return 2;
            }
            return Latency(seconds, packetSize, sendMode);
        }
        if (mode == "scale") {
            ScaleOptions options;
            for (int i = 2; i + 1 < argc; i += 2) {
                const std::string option = argv[i];
                if (option == "--seconds") options.seconds = std::atof(argv[i + 1]);
                if (option == "--rounds") options.rounds = std::atoi(argv[i + 1]);
                if (option == "--packet-size")
                    options.packetSize = static_cast<uint32_t>(std::atoi(argv[i + 1]));
                if (option == "--fraction") options.fraction = std::atof(argv[i + 1]);
                if (option == "--send-mode") options.sendMode = argv[i + 1];
            }
            if (options.seconds <= 0 || options.seconds > 60 || options.rounds < 1 ||
                options.rounds > 20 || options.packetSize < 576 || options.packetSize > 9000 ||
                options.fraction <= 0 || options.fraction > 4) {
                std::fprintf(stderr, "gentl_bench scale: bad options\n");
                return 2;
            }
            return Scale(options);
        }
        SoakOptions options;
        if (!ParseSoak(argc, argv, &options)) {
            std::fprintf(stderr, "gentl_bench soak: bad options\n");
            return 2;
        }
        return Soak(options);
    } catch (const std::exception& e) {
        std::printf("gentl_bench %s: %s\n", mode.c_str(), e.what());
        return 1;
    }
}
