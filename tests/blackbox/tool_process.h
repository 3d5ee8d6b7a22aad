// Runs the built tool as a child process with its standard output and error captured.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "unique_fd.h"

namespace blackbox {

struct ToolResult {
    bool timedOut = false;  // killed with SIGKILL after the wait ran out
    int status = -1;        // raw wait status
    std::string out;
    std::string err;

    bool exitedWith(int code) const;
    std::string describe() const;  // status and stderr, for assertion messages
};

struct LogLine {
    char priority;  // 'I', 'E', ...
    std::string tag;
    std::string text;
};

// Lines of liblog's stderr format: TAG P MM-DD HH:MM:SS  PID  TID message.
std::vector<LogLine> parseLog(const std::string& err);
// Texts of the tool's own lines (tag "orvalinquist"), in order.
std::vector<std::string> toolTexts(const std::string& err);

class ToolProcess {
  public:
    // Starts the tool with `args` (without argv[0]); `transport` becomes BT_HCI_TRANSPORT
    // (empty: the variable is removed from the inherited environment).
    ToolProcess(const std::vector<std::string>& args, const std::string& transport);
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    bool signal(int signalNumber);
    // True once the process catches or blocks SIGINT and SIGTERM, i.e. its handling is set up.
    bool signalHandlingArmed() const;
    // Waits for the exit; after `timeout` the process is killed and counted as timed out.
    ToolResult wait(std::chrono::milliseconds timeout);

  private:
    void drain();

    pid_t pid_ = -1;
    bool reaped_ = false;
    testsupport::UniqueFd outFd_;
    testsupport::UniqueFd errFd_;
    std::thread reader_;
    std::string out_;
    std::string err_;
};

// Runs the tool to its end.
ToolResult runTool(const std::vector<std::string>& args, const std::string& transport,
                   std::chrono::milliseconds timeout = std::chrono::seconds(30));

}  // namespace blackbox
