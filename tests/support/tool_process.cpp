#include "tool_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace testsupport {

using orvalinquist::host::UniqueFd;

namespace {

bool makePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return true;
}

// Hexadecimal mask of one "SigXxx:" line of /proc/PID/status.
unsigned long long statusMask(const std::string& status, const std::string& key) {
    size_t at = status.find("\n" + key + ":");
    return at == std::string::npos ? 0 : std::strtoull(&status[at + key.size() + 2], nullptr, 16);
}

}  // namespace

bool ProcessResult::exitedWith(int code) const {
    return !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

bool ProcessResult::sanitizerReport() const {
    for (const char* marker : {"Sanitizer", "runtime error:", "terminate called"}) {
        if (err.find(marker) != std::string::npos) return true;
    }
    return false;
}

std::string ProcessResult::describe() const {
    std::ostringstream text;
    if (timedOut) {
        text << "timed out";
    } else if (WIFEXITED(status)) {
        text << "exit " << WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        text << "killed by signal " << WTERMSIG(status);
    }
    text << "\n--- stderr ---\n" << err << "--- stdout ---\n" << out;
    return text.str();
}

std::vector<LogLine> parseLog(const std::string& err) {
    std::vector<LogLine> lines;
    std::istringstream stream(err);
    std::string line, tag, priority, date, time;
    long pid, tid;
    while (std::getline(stream, line)) {
        std::istringstream fields(line);
        if (!(fields >> tag >> priority >> date >> time >> pid >> tid)) continue;
        if (priority.size() != 1 || date.size() != 5 || date[2] != '-' || time.size() != 8 ||
            time[2] != ':' || fields.peek() != ' ') {
            continue;  // not a log line, e.g. getopt's own diagnostic
        }
        lines.push_back({priority[0], tag, line.substr(static_cast<size_t>(fields.tellg()) + 1)});
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

size_t countContaining(const std::vector<std::string>& lines, const std::string& text) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

TempDir::TempDir() {
    char pattern[] = "/tmp/orvalinquist-test-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) std::abort();
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

ChildProcess::ChildProcess(std::vector<std::string> argv, const std::vector<std::string>& env) {
    UniqueFd outWrite, errWrite;
    if (!makePipe(outFd_, outWrite) || !makePipe(errFd_, errWrite)) return;
    std::vector<std::string> envStrings(env);
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        size_t nameLength = equals ? static_cast<size_t>(equals - *entry) + 1 : 0;
        if (std::none_of(env.begin(), env.end(), [&](const std::string& e) {
                return e.compare(0, nameLength, *entry, nameLength) == 0;
            })) {
            envStrings.emplace_back(*entry);
        }
    }
    std::vector<char*> args, envp;
    for (auto& s : argv) args.push_back(s.data());
    for (auto& s : envStrings) envp.push_back(s.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0) return;
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errWrite.get(), STDERR_FILENO);
    // Whatever the test runner set up, the child starts with default signal handling.
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    int rc = posix_spawn(&pid_, args[0], &actions, &attributes, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        std::fprintf(stderr, "posix_spawn %s: %s\n", args[0], std::strerror(rc));
        pid_ = -1;
        return;
    }
    reader_ = std::thread(&ChildProcess::drain, this);
}

ChildProcess::~ChildProcess() {
    if (started() && !reaped_) stop();
    if (reader_.joinable()) reader_.join();
}

// Reads both pipes until they close, or until the child is reaped and nothing is left (a
// grandchild may hold them open).
void ChildProcess::drain() {
    pollfd fds[2] = {{outFd_.get(), POLLIN, 0}, {errFd_.get(), POLLIN, 0}};
    std::string* sinks[2] = {&out_, &err_};
    int open = 2;
    while (open > 0) {
        bool reaped = reaped_;
        int ready = ::poll(fds, 2, 50);
        if (ready < 0 && errno != EINTR) return;
        if (ready == 0 && reaped) return;
        for (int i = 0; i < 2 && ready > 0; ++i) {
            if (fds[i].revents == 0) continue;
            char buffer[4096];
            ssize_t n = ::read(fds[i].fd, buffer, sizeof(buffer));
            if (n > 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

bool ChildProcess::running() {
    int status;
    return started() && !reaped_ && ::waitpid(pid_, &status, WNOHANG) == 0;
}

bool ChildProcess::signal(int signalNumber) {
    return started() && !reaped_ && ::kill(pid_, signalNumber) == 0;
}

bool ChildProcess::signalHandlingArmed() const {
    std::string status = "\n" + readFile("/proc/" + std::to_string(pid_) + "/status");
    unsigned long long wanted = (1ull << (SIGINT - 1)) | (1ull << (SIGTERM - 1));
    return ((statusMask(status, "SigCgt") | statusMask(status, "SigBlk")) & wanted) == wanted;
}

std::string ChildProcess::output(bool fromStderr) {
    std::lock_guard<std::mutex> lock(mutex_);
    return fromStderr ? err_ : out_;
}

bool ChildProcess::waitForOutput(const std::string& text, milliseconds timeout, bool fromStderr) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (output(fromStderr).find(text) != std::string::npos) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
}

ProcessResult ChildProcess::wait(milliseconds timeout) {
    ProcessResult result;
    if (!started() || reaped_) return result;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pid_t done = ::waitpid(pid_, &result.status, WNOHANG);
        if (done == pid_ || (done < 0 && errno != EINTR)) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            result.timedOut = true;
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, &result.status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        std::this_thread::sleep_for(milliseconds(5));
    }
    reaped_ = true;
    if (reader_.joinable()) reader_.join();
    result.out = out_;
    result.err = err_;
    return result;
}

ProcessResult ChildProcess::stop(milliseconds grace) {
    signal(SIGTERM);
    return wait(grace);
}

ProcessResult runTool(const std::vector<std::string>& args, const std::string& transport,
                      milliseconds timeout) {
    std::vector<std::string> argv = {ORVALINQUIST_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return ChildProcess(argv, {"BT_HCI_TRANSPORT=" + transport}).wait(timeout);
}

}  // namespace testsupport
