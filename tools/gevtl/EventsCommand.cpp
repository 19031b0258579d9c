// `gevtl events`: the camera's event messages (EVENT_REMOTE_DEVICE) as they arrive.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <vector>

#include "GenApiPortBridge.h"
#include "Tool.h"

namespace Gevtl {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
}

int RunEvents(Context& context) {
    GenTLLibrary& lib = context.Library();
    const uint64_t seconds = context.Args().Number("--seconds", 10);
    const uint64_t limit = context.Args().Number("-n", UINT64_MAX);
    const DeviceEntry& entry = context.Device(context.Word(0, "DEVICE"));
    OpenedDevice device(context.Discovered(), entry, GenTL::DEVICE_ACCESS_CONTROL);
    GenTL::EVENT_HANDLE event = nullptr;
    lib.Check("GCRegisterEvent",
              lib.GCRegisterEvent(device.Handle(), GenTL::EVENT_REMOTE_DEVICE, &event));
    struct Unregister {
        GenTLLibrary& lib;
        GenTL::DEV_HANDLE device;
        ~Unregister() { lib.GCUnregisterEvent(device, GenTL::EVENT_REMOTE_DEVICE); }
    } unregister{lib, device.Handle()};

    // A command feature run once listening, e.g. TestEventGenerate, to provoke an event.
    const std::string execute = context.Args().Value("--execute");
    if (!execute.empty())
        GenApiBridge::GenApiPort::FromPort(device.RemotePort(),
                                           GenApiBridge::PortFunctionsOf(context.Library()))
            .Execute(execute);

    g_interrupted = 0;
    std::signal(SIGINT, OnInterrupt);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    uint64_t received = 0;
    std::vector<uint8_t> data(4096);
    while (!g_interrupted && received < limit) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) break;
        // Short waits so an interrupt is noticed soon.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        const uint64_t wait = std::min<uint64_t>(200, static_cast<uint64_t>(left.count()) + 1);
        size_t size = data.size();
        const GenTL::GC_ERROR status = lib.EventGetData(event, data.data(), &size, wait);
        if (status == GenTL::GC_ERR_TIMEOUT) continue;
        lib.Check("EventGetData", status);
        ++received;
        uint64_t id = 0;
        size_t idSize = sizeof id;
        GenTL::INFO_DATATYPE type = 0;
        const bool haveId = lib.EventGetDataInfo(event, data.data(), size, GenTL::EVENT_DATA_NUMID,
                                                 &type, &id, &idSize) == GenTL::GC_ERR_SUCCESS;
        std::printf("event %llu:", static_cast<unsigned long long>(received));
        if (haveId) std::printf(" ID 0x%04llx,", static_cast<unsigned long long>(id));
        std::printf(" %zu bytes:", size);
        for (size_t i = 0; i < size && i < data.size(); ++i) std::printf(" %02x", data[i]);
        std::printf("\n");
        std::fflush(stdout);
    }
    std::signal(SIGINT, SIG_DFL);
    std::printf("%llu events\n", static_cast<unsigned long long>(received));
    return 0;
}

}  // namespace

Command EventsCommand() {
    return {
        "events",
        "DEVICE [--seconds S] [-n N] [--execute COMMAND]",
        "print the camera's event messages as they arrive",
        {{"--seconds", true, "how long to listen (default 10)"},
         {"-n", true, "stop after N events"},
         {"--execute", true, "run this command feature once listening (e.g. TestEventGenerate)"}},
        RunEvents};
}

}  // namespace Gevtl
