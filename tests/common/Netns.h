// Test helpers for the namespaces that tests/netns/netns-run makes: sockets
// opened inside a camera namespace, and `ip` commands run there.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>

namespace TestNetns {

// Name of camera namespace `index`, empty when the run made none.
inline std::string CameraNamespace(int index) {
    const char* name = std::getenv(("GEVTLKRV_NETNS_CAM" + std::to_string(index)).c_str());
    return name != nullptr ? name : "";
}

// A UDP socket that lives in namespace `name`: made on a short-lived thread
// that enters it, since a socket keeps the namespace it was made in.
inline int UdpSocketIn(const std::string& name) {
    int result = -1;
    std::thread maker([&] {
        int ns = ::open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        if (ns < 0) return;
        if (::setns(ns, CLONE_NEWNET) == 0) result = ::socket(AF_INET, SOCK_DGRAM, 0);
        ::close(ns);
    });
    maker.join();
    return result;
}

// Runs `ip -n NAME ARGS`; true on success.
inline bool Ip(const std::string& name, const std::string& args) {
    return std::system(("ip -n " + name + " " + args + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace TestNetns
