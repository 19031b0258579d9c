// `gevtl demo`: the tour a newcomer sees first: the producer, the cameras it
// finds, an acquisition with its live figures, and the last frame as a PNG.
#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "Grab.h"

namespace Gevtl {

namespace {

int RunDemo(Context& context) {
    const auto& args = context.Args();
    GenTLLibrary& library = context.Library();
    std::printf("producer: %s (%s %s %s)\n", library.Path().c_str(),
                library.ProducerInfo(GenTL::TL_INFO_VENDOR).c_str(),
                library.ProducerInfo(GenTL::TL_INFO_MODEL).c_str(),
                library.ProducerInfo(GenTL::TL_INFO_VERSION).c_str());

    const auto& devices = context.Discovered().Devices();
    if (devices.empty()) throw std::runtime_error("no camera found");
    std::printf("\ncameras found:\n");
    PrintDeviceTable(devices, std::cout);
    std::cout.flush();

    const DeviceEntry& entry =
        args.Positional().empty() ? devices.front() : context.Device(context.Word(0, "DEVICE"));
    GrabOptions options;
    options.count = args.Number("-n", 100);
    options.buffers = args.Number("--buffers", 8);
    options.lastFramePath = args.Value("--png", "demo-frame.png");
    options.packetResend = true;
    std::printf("\ngrabbing %llu frames from %s (%s %s, %s):\n",
                static_cast<unsigned long long>(options.count), entry.id.c_str(),
                entry.vendor.c_str(), entry.model.c_str(), entry.ip.c_str());
    std::fflush(stdout);
    return Grab(context, entry, options);
}

}  // namespace

Command DemoCommand() {
    return {"demo",
            "[DEVICE] [-n N] [--png FILE]",
            "list the cameras, grab from one (the first by default), save the last frame",
            {{"-n", true, "frames to acquire (default 100)"},
             {"--buffers", true, "buffers announced (default 8)"},
             {"--png", true, "where the last frame goes (default demo-frame.png)"}},
            RunDemo};
}

}  // namespace Gevtl
