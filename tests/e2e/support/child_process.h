// A child process started for an end-to-end test, with its output in files; it is
// stopped (SIGTERM, then SIGKILL) when the object goes away.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    // Runs argv[0] with the parent's environment plus `env` (NAME=VALUE entries); stdout and
    // stderr go to the named files. False (with *error) when the process cannot be started.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               const std::string& stdoutPath, const std::string& stderrPath, std::string* error);

    // Waits for the exit; true with the exit status (128 + signal when killed) in *status,
    // false on timeout.
    bool wait(std::chrono::milliseconds timeout, int* status);

    // SIGTERM, then SIGKILL after `grace`; returns the exit status.
    int stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

    bool running();
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = -1;
};

// The whole content of a file, or empty.
std::string readFile(const std::string& path);

// Polls a file until it contains `text` or the deadline passes.
bool waitForText(const std::string& path, const std::string& text,
                 std::chrono::milliseconds timeout);

}  // namespace e2e
