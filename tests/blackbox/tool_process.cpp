#include "tool_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace blackbox {

namespace {

constexpr char kTransportVariable[] = "BT_HCI_TRANSPORT";

bool makePipe(testsupport::UniqueFd& readEnd, testsupport::UniqueFd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        std::perror("pipe2");
        return false;
    }
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return true;
}

// Hexadecimal mask of one "SigXxx:" line of /proc/PID/status.
unsigned long long statusMask(const std::string& status, const std::string& key) {
    size_t at = status.find("\n" + key + ":");
    if (at == std::string::npos) return 0;
    return std::strtoull(status.c_str() + at + key.size() + 2, nullptr, 16);
}

}  // namespace

bool ToolResult::exitedWith(int code) const {
    return !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

std::string ToolResult::describe() const {
    std::ostringstream text;
    if (timedOut) {
        text << "timed out";
    } else if (WIFEXITED(status)) {
        text << "exit " << WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        text << "killed by signal " << WTERMSIG(status);
    } else {
        text << "status " << status;
    }
    text << "\n--- stderr ---\n" << err << "--- stdout ---\n" << out;
    return text.str();
}

std::vector<LogLine> parseLog(const std::string& err) {
    std::vector<LogLine> lines;
    std::istringstream stream(err);
    std::string line;
    while (std::getline(stream, line)) {
        std::istringstream fields(line);
        std::string tag, priority, date, time;
        long pid = 0, tid = 0;
        if (!(fields >> tag >> priority >> date >> time >> pid >> tid)) continue;
        if (priority.size() != 1 || date.size() != 5 || date[2] != '-' || time.size() != 8 ||
            time[2] != ':' || fields.peek() != ' ') {
            continue;  // not a log line, e.g. getopt's own diagnostic
        }
        std::string text = line.substr(static_cast<size_t>(fields.tellg()) + 1);
        lines.push_back(LogLine{priority[0], tag, text});
    }
    return lines;
}

std::vector<std::string> toolTexts(const std::string& err) {
    std::vector<std::string> texts;
    for (const LogLine& line : parseLog(err)) {
        if (line.tag == "orvalinquist") texts.push_back(line.text);
    }
    return texts;
}

ToolProcess::ToolProcess(const std::vector<std::string>& args, const std::string& transport) {
    testsupport::UniqueFd outWrite, errWrite;
    if (!makePipe(outFd_, outWrite) || !makePipe(errFd_, errWrite)) return;

    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "BT_HCI_TRANSPORT=", sizeof(kTransportVariable)) != 0) {
            env.emplace_back(*entry);
        }
    }
    if (!transport.empty()) env.push_back(std::string(kTransportVariable) + "=" + transport);
    std::vector<std::string> argvStrings = {ORVALINQUIST_BINARY};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (auto& s : argvStrings) argv.push_back(s.data());
    argv.push_back(nullptr);
    for (auto& s : env) envp.push_back(s.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return;
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errWrite.get(), STDERR_FILENO);
    // The child starts with default signal dispositions and an empty mask, whatever the
    // test runner set up.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid;
    int rc = posix_spawn(&pid, ORVALINQUIST_BINARY, &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        std::fprintf(stderr, "posix_spawn %s: %s\n", ORVALINQUIST_BINARY, std::strerror(rc));
        return;
    }
    pid_ = pid;
    reader_ = std::thread(&ToolProcess::drain, this);
}

ToolProcess::~ToolProcess() {
    if (started() && !reaped_) wait(std::chrono::milliseconds(0));
    if (reader_.joinable()) reader_.join();
}

// Reads both pipes until the child (and anything that inherited them) has closed them.
void ToolProcess::drain() {
    pollfd fds[2] = {{outFd_.get(), POLLIN, 0}, {errFd_.get(), POLLIN, 0}};
    std::string* sinks[2] = {&out_, &err_};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            std::perror("poll");
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) continue;
            char buffer[4096];
            ssize_t n = ::read(fds[i].fd, buffer, sizeof(buffer));
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

bool ToolProcess::signal(int signalNumber) {
    return started() && !reaped_ && ::kill(pid_, signalNumber) == 0;
}

bool ToolProcess::signalHandlingArmed() const {
    std::ifstream file("/proc/" + std::to_string(pid_) + "/status");
    std::stringstream content;
    content << file.rdbuf();
    std::string status = "\n" + content.str();
    unsigned long long wanted = (1ull << (SIGINT - 1)) | (1ull << (SIGTERM - 1));
    unsigned long long handled = statusMask(status, "SigCgt") | statusMask(status, "SigBlk");
    return (handled & wanted) == wanted;
}

ToolResult ToolProcess::wait(std::chrono::milliseconds timeout) {
    ToolResult result;
    if (!started() || reaped_) return result;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pid_t done = ::waitpid(pid_, &result.status, WNOHANG);
        if (done == pid_) break;
        if (done < 0 && errno != EINTR) {
            std::perror("waitpid");
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            result.timedOut = true;
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, &result.status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    reaped_ = true;
    if (reader_.joinable()) reader_.join();
    result.out = out_;
    result.err = err_;
    return result;
}

ToolResult runTool(const std::vector<std::string>& args, const std::string& transport,
                   std::chrono::milliseconds timeout) {
    ToolProcess process(args, transport);
    return process.wait(timeout);
}

}  // namespace blackbox
