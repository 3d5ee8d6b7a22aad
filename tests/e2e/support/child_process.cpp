#include "child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace e2e {
namespace {

constexpr auto kPollStep = std::chrono::milliseconds(20);

int decodeStatus(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !reaped_) stop();
}

bool ChildProcess::start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::string& stdoutPath, const std::string& stderrPath,
                         std::string* error) {
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
    envStrings.insert(envStrings.end(), env.begin(), env.end());
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    const int out = open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0 || err < 0) {
        *error = "cannot create output files for " + argv[0] + ": " + strerror(errno);
        if (out >= 0) close(out);
        if (err >= 0) close(err);
        return false;
    }
    pid_ = fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls until exec.
        if (dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0) _exit(126);
        const int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0) dup2(devNull, STDIN_FILENO);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    const int forkErrno = errno;
    close(out);
    close(err);
    if (pid_ < 0) {
        *error = std::string("fork: ") + strerror(forkErrno);
        return false;
    }
    reaped_ = false;
    return true;
}

bool ChildProcess::wait(std::chrono::milliseconds timeout, int* status) {
    if (reaped_) {
        *status = status_;
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int raw = 0;
        const pid_t r = waitpid(pid_, &raw, WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            status_ = decodeStatus(raw);
            *status = status_;
            return true;
        }
        if (r < 0 && errno != EINTR) return false;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollStep);
    }
}

int ChildProcess::stop(std::chrono::milliseconds grace) {
    int status = -1;
    if (pid_ <= 0) return status;
    if (!reaped_) kill(pid_, SIGTERM);
    if (!wait(grace, &status)) {
        kill(pid_, SIGKILL);
        wait(std::chrono::milliseconds(5000), &status);
    }
    return status;
}

bool ChildProcess::running() {
    int status = 0;
    return pid_ > 0 && !wait(std::chrono::milliseconds(0), &status);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool waitForText(const std::string& path, const std::string& text,
                 std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (readFile(path).find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollStep);
    }
    return true;
}

}  // namespace e2e
