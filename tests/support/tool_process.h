// Runs a program as a child process with its standard output and error captured, and reads
// the liblog lines in what it wrote to stderr.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "unique_fd.h"

namespace testsupport {

using std::chrono::milliseconds;

struct ProcessResult {
    bool timedOut = false;  // killed with SIGKILL after the wait ran out
    int status = -1;        // raw wait status
    std::string out;
    std::string err;

    bool exitedWith(int code) const;
    std::string describe() const;  // status and output, for assertion messages
};

// Texts of the tool's own liblog lines (TAG P MM-DD HH:MM:SS  PID  TID message, tag
// "orvalinquist"), in order.
std::vector<std::string> toolTexts(const std::string& err);
size_t countContaining(const std::vector<std::string>& lines, const std::string& text);
// Polls `condition` until it holds, or for `timeout`; false when it never did.
bool waitUntil(const std::function<bool()>& condition, milliseconds timeout);
std::string readFile(const std::string& path);

// A fresh directory under /tmp, removed with everything in it.
struct TempDir {
    TempDir();
    ~TempDir();
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

class ChildProcess {
  public:
    // Starts argv[0] with the inherited environment, in which `env` (NAME=VALUE) wins.
    // Default signal handling, stdin from /dev/null, output into memory files.
    explicit ChildProcess(std::vector<std::string> argv, const std::vector<std::string>& env = {});
    ~ChildProcess();  // SIGTERM, then wait(2 s)
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    // `toGroup`: to its process group, as a Ctrl-C does; the child must lead one (setsid).
    bool signal(int signalNumber, bool toGroup = false);
    // True while a thread of the process carries `name`.
    bool hasThread(const std::string& name) const;
    // What it wrote so far to stderr, or stdout.
    std::string output(bool fromStderr = true) const;
    // Waits until output(fromStderr) contains `text`.
    bool waitForOutput(const std::string& text, milliseconds timeout, bool fromStderr = true);
    // Waits for the exit; after `timeout` the process is killed and counted as timed out.
    ProcessResult wait(milliseconds timeout);

  private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    orvalinquist::host::UniqueFd out_;
    orvalinquist::host::UniqueFd err_;
};

// The tool under test: $ORVALINQUIST_UNDER_TEST (an installed copy) when set, else the built one.
std::string toolBinary();
// Runs the tool under test with BT_HCI_TRANSPORT set to `transport` and BT_HCI_HAL to `hal`,
// to its end.
ProcessResult runTool(const std::vector<std::string>& args, const std::string& transport,
                      milliseconds timeout = milliseconds(30000), const std::string& hal = "hidl");

}  // namespace testsupport
