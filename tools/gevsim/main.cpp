// gevsim: serves one simulated GigE Vision camera until SIGINT or SIGTERM.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <string>

#include "CommandLine.h"
#include "GevSimCamera.h"

int main(int argc, char** argv) {
    GevSim::CommandLineSettings settings;
    std::string error;
    if (!GevSim::ParseCommandLine(argc, argv, &settings, &error)) {
        std::fprintf(stderr, "gevsim: %s\n%s", error.c_str(), GevSim::Usage().c_str());
        return 2;
    }
    if (settings.help) {
        std::fputs(GevSim::Usage().c_str(), stdout);
        return 0;
    }
    if (settings.verbose)
        settings.camera.log = [](const std::string& line) {
            std::fprintf(stderr, "gevsim: %s\n", line.c_str());
        };

    // Blocked before the camera's threads exist, so that they inherit the mask and
    // only sigwait below sees the signals.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    GevSim::Camera camera(settings.camera);
    camera.faults().SetSilent(settings.silent);
    GevSim::ApplyStreamFaults(settings, &camera.faults().Stream());
    if (!camera.Start(&error)) {
        std::fprintf(stderr, "gevsim: cannot start: %s\n", error.c_str());
        return 1;
    }
    std::printf("gevsim: serving %s %s on %s:%u\n", settings.camera.model.c_str(),
                settings.camera.serial.c_str(), camera.Address().c_str(), camera.Port());
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    camera.Stop();
    return 0;
}
