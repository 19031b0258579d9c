// A process run beside a test or a benchmark (a third-party camera, a capture,
// the simulator), stopped with SIGTERM and reaped when its owner ends: a program
// started from its arguments, or a function of this program run in a fork.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace TestProcess {

inline bool OnPath(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// Both ends of a pipe, closed on destruction; neither end survives an exec.
class Pipe {
public:
    Pipe() {
        if (::pipe2(m_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int ReadEnd() const { return m_fds[0]; }
    int WriteEnd() const { return m_fds[1]; }
    void CloseRead() { Close(m_fds[0]); }
    void CloseWrite() { Close(m_fds[1]); }

private:
    static void Close(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int m_fds[2] = {-1, -1};
};

// Reads exactly `size` bytes unless the writer goes away or `limit` passes.
inline bool ReadAll(int fd, void* data, size_t size, std::chrono::milliseconds limit) {
    auto* bytes = static_cast<unsigned char*>(data);
    const auto end = std::chrono::steady_clock::now() + limit;
    size_t done = 0;
    while (done < size) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd entry{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0)
            return false;
        const ssize_t got = ::read(fd, bytes + done, size - done);
        if (got <= 0) return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

class ChildProcess {
public:
    // Where a program's standard output goes.
    enum class Output {
        kInherited,
        kDiscarded,
        kPiped,  // read with ReadOutput; kept open until the child is reaped
    };

    explicit ChildProcess(std::vector<std::string> arguments, Output output = Output::kInherited) {
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (output == Output::kDiscarded)
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (output == Output::kPiped) {
            m_output = std::make_unique<Pipe>();
            posix_spawn_file_actions_adddup2(&actions, m_output->WriteEnd(), STDOUT_FILENO);
        }
        std::fflush(stdout);
        if (posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (m_output) m_output->CloseWrite();
    }

    // Runs `body` in a fork of this process and ends the fork with its result. Made
    // before this process starts a thread, the fork may start its own; it is killed
    // when this process dies.
    explicit ChildProcess(const std::function<int()>& body) {
        std::fflush(stdout);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            int result = 127;
            try {
                result = body();
            } catch (...) {
            }
            std::fflush(stdout);
            ::_exit(result);
        }
    }

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { Stop(); }

    bool started() const { return m_pid > 0; }

    // Reads exactly `size` bytes of the child's standard output (Output::kPiped).
    bool ReadOutput(void* data, size_t size, std::chrono::milliseconds limit) {
        return m_output && ReadAll(m_output->ReadEnd(), data, size, limit);
    }

    // Asks the child to end (SIGTERM) without waiting for it.
    void Terminate() {
        if (m_pid > 0) ::kill(m_pid, SIGTERM);
    }

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
    std::unique_ptr<Pipe> m_output;
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
