// A program run beside a test (a third-party camera, a capture), stopped
// with SIGTERM and reaped when the test ends.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace TestProcess {

inline bool OnPath(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

class ChildProcess {
public:
    explicit ChildProcess(std::vector<std::string> arguments) {
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) m_pid = -1;
    }
    ~ChildProcess() { Stop(); }
    bool started() const { return m_pid > 0; }
    // True once the child has ended by itself; `status` gets its wait status.
    bool Exited(int* status) {
        if (m_pid <= 0) return false;
        if (::waitpid(m_pid, &m_status, WNOHANG) != m_pid) return false;
        m_pid = -1;
        *status = m_status;
        return true;
    }
    // SIGTERM, then SIGKILL after two seconds; returns the exit status.
    int Stop() {
        if (m_pid <= 0) return m_status;
        ::kill(m_pid, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(m_pid, &m_status, WNOHANG) == m_pid) {
                m_pid = -1;
                return m_status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &m_status, 0);
        m_pid = -1;
        return m_status;
    }

private:
    pid_t m_pid = -1;
    int m_status = -1;
};

// Standard output of a shell command, or nothing when it fails.
inline bool Capture(const std::string& command, std::string* output) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return false;
    output->clear();
    char buffer[4096];
    size_t size;
    while ((size = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, size);
    return ::pclose(pipe) == 0;
}

}  // namespace TestProcess
