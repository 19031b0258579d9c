#include "Simulators.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "BenchRegisters.h"

namespace Bench {

using TestProcess::ChildProcess;

namespace {

std::vector<std::string> Arguments(const GevsimOptions& o) {
    std::vector<std::string> arguments;
    if (!o.netns.empty()) arguments = {"ip", "netns", "exec", o.netns};
    arguments.insert(arguments.end(),
                     {GEVSIM_PATH, "--address", o.address, "--fps", o.fps, "--link-speed",
                      std::to_string(o.linkSpeedMbps), "--width", std::to_string(kWidth),
                      "--height", std::to_string(kHeight), "--packet-size",
                      std::to_string(o.packetSize), "--serial", o.serial, "--test-pattern", "3"});
    if (!o.sendMode.empty()) arguments.insert(arguments.end(), {"--send-mode", o.sendMode});
    if (!o.mac.empty()) arguments.insert(arguments.end(), {"--mac", o.mac});
    return arguments;
}

GevsimOptions Options(uint32_t packetSize, const std::string& serial) {
    GevsimOptions options;
    options.packetSize = packetSize;
    options.serial = serial;
    return options;
}

}  // namespace

GevsimProgram::GevsimProgram(const GevsimOptions& options)
    : m_child(Arguments(options), ChildProcess::Output::kPiped) {
    char line[8] = {};
    if (!m_child.ReadOutput(line, sizeof line, std::chrono::seconds(5)) ||
        std::strncmp(line, "gevsim: ", 8) != 0)
        throw std::runtime_error(std::string("gevsim did not start: ") + GEVSIM_PATH);
}

GevsimProgram::GevsimProgram(uint32_t packetSize, const std::string& serial)
    : GevsimProgram(Options(packetSize, serial)) {}

SimulatorProcess::SimulatorProcess(const GevSim::CameraConfig& config, double lossRatio,
                                   uint64_t seed)
    : m_child([&] {
          m_ready.CloseRead();
          m_statistics.CloseRead();
          return Serve(config, lossRatio, seed);
      }) {
    if (!m_child.started()) throw std::runtime_error("fork failed");
    m_ready.CloseWrite();
    m_statistics.CloseWrite();
    char started = 0;
    if (!TestProcess::ReadAll(m_ready.ReadEnd(), &started, 1, std::chrono::seconds(5)) ||
        started != 1)
        throw std::runtime_error("the simulator did not start");
}

bool SimulatorProcess::Stop(GevSim::StreamStatistics* statistics) {
    m_child.Terminate();
    const bool told = TestProcess::ReadAll(m_statistics.ReadEnd(), statistics, sizeof *statistics,
                                           std::chrono::seconds(5));
    m_child.Stop();
    return told;
}

int SimulatorProcess::Serve(const GevSim::CameraConfig& config, double lossRatio, uint64_t seed) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    GevSim::StreamStatistics statistics;
    {
        GevSim::Camera camera(config);
        if (lossRatio > 0) camera.faults().Stream().DropRatio(lossRatio, seed);
        std::string error;
        const char started = camera.Start(&error) ? 1 : 0;
        if (!started) std::fprintf(stderr, "simulator: %s\n", error.c_str());
        if (write(m_ready.WriteEnd(), &started, 1) != 1 || !started) return 1;
        int received = 0;
        sigwait(&signals, &received);
        statistics = camera.StreamStats();
    }
    return write(m_statistics.WriteEnd(), &statistics, sizeof statistics) ==
                   static_cast<ssize_t>(sizeof statistics)
               ? 0
               : 1;
}

}  // namespace Bench
