// Programs a test starts: one that runs beside the test until it is stopped, and one that runs to
// its end for its output. POSIX only.
#pragma once

#include "tests/support/wait.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

// A program the test started, ended with SIGTERM and reaped when this goes (or by stop()).
class ChildProcess {
public:
    ChildProcess() = default;
    // Starts argv[0] (looked up in PATH) with its output into logPath, or discarded; its
    // standard error goes to errorPath when one is given.
    explicit ChildProcess(std::vector<std::string> argv, const std::string& logPath = "/dev/null",
                          const std::string& errorPath = "") {
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(),
                                           O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (errorPath.empty())
            ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
        else
            ::posix_spawn_file_actions_addopen(&actions, 2, errorPath.c_str(),
                                               O_WRONLY | O_CREAT | O_APPEND, 0644);
        std::vector<char*> args;
        for (std::string& arg : argv)
            args.push_back(arg.data());
        args.push_back(nullptr);
        if (::posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
            pid = -1;
        ::posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() { stop(); }
    ChildProcess(ChildProcess&& other) noexcept : pid(std::exchange(other.pid, -1)) {}
    ChildProcess& operator=(ChildProcess&& other) noexcept {
        stop();
        pid = std::exchange(other.pid, -1);
        return *this;
    }

    bool started() const { return pid > 0; }
    pid_t id() const { return pid; }
    void signal(int number) {
        if (pid > 0)
            ::kill(pid, number);
    }
    // True once the program has ended within timeoutMs; exitCode gets its exit status (-1 when
    // a signal ended it).
    bool waitExit(int timeoutMs, int* exitCode = nullptr) {
        int status = 0;
        const bool ended = pid > 0 && WaitFor(
                                          [&] {
                                              const pid_t got = ::waitpid(pid, &status, WNOHANG);
                                              return got == pid || (got < 0 && errno != EINTR);
                                          },
                                          timeoutMs);
        if (!ended)
            return false;
        pid = -1;
        if (exitCode != nullptr)
            *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return true;
    }
    void stop() {
        if (pid <= 0)
            return;
        ::kill(pid, SIGTERM);
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
    }

private:
    pid_t pid = -1;
};

// Runs a program to its end and returns what it wrote to its standard output; exitCode gets its
// exit status (-1 when it could not run or did not end normally).
inline std::string RunForOutput(std::vector<std::string> argv, int* exitCode = nullptr) {
    int pipeEnds[2];
    if (exitCode != nullptr)
        *exitCode = -1;
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (std::string& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    pid_t child = -1;
    const int spawned = ::posix_spawnp(&child, args[0], &actions, nullptr, args.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    std::string output;
    char chunk[4096];
    ssize_t got = 0;
    while (spawned == 0 && (got = ::read(pipeEnds[0], chunk, sizeof chunk)) != 0) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        output.append(chunk, static_cast<size_t>(got));
    }
    ::close(pipeEnds[0]);
    if (spawned != 0)
        return output;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (exitCode != nullptr && WIFEXITED(status))
        *exitCode = WEXITSTATUS(status);
    return output;
}

inline bool OnPath(const std::string& program) {
    int code = -1;
    RunForOutput({"sh", "-c", "command -v " + program}, &code);
    return code == 0;
}
