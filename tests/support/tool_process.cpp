#include "tool_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

extern char** environ;

namespace testsupport {

bool waitUntil(const std::function<bool()>& condition, milliseconds timeout) {
    for (auto end = std::chrono::steady_clock::now() + timeout; !condition();) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(milliseconds(2));
    }
    return true;
}

bool ProcessResult::exitedWith(int code) const {
    return !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

std::string ProcessResult::describe() const {
    std::string how = timedOut              ? "timed out"
                      : WIFEXITED(status)   ? "exit " + std::to_string(WEXITSTATUS(status))
                      : WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                            : "not run";
    return how + "\n--- stderr ---\n" + err + "--- stdout ---\n" + out;
}

std::vector<std::string> toolTexts(const std::string& err) {
    static const std::regex kLine(
        R"(^orvalinquist [VDIWEF] \d\d-\d\d \d\d:\d\d:\d\d +\d+ +\d+ (.*)$)");
    std::vector<std::string> texts;
    std::istringstream stream(err);
    std::smatch match;
    for (std::string line; std::getline(stream, line);) {
        if (std::regex_match(line, match, kLine)) texts.push_back(match[1]);
    }
    return texts;
}

size_t countContaining(const std::vector<std::string>& lines, const std::string& text) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.find(text) != std::string::npos; });
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
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

ChildProcess::ChildProcess(std::vector<std::string> argv, const std::vector<std::string>& env)
    : out_(::memfd_create("stdout", MFD_CLOEXEC)), err_(::memfd_create("stderr", MFD_CLOEXEC)) {
    // `env` first: getenv takes the first entry of a name.
    std::vector<std::string> envStrings(env);
    std::vector<char*> args, envp;
    for (auto& s : argv) args.push_back(s.data());
    for (auto& s : envStrings) envp.push_back(s.data());
    for (char** entry = environ; *entry != nullptr; ++entry) envp.push_back(*entry);
    args.push_back(nullptr);
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (!out_.valid() || !err_.valid() || posix_spawn_file_actions_init(&actions) != 0) return;
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_.get(), STDERR_FILENO);
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
    if (rc != 0) pid_ = -1;
}

ChildProcess::~ChildProcess() {
    signal(SIGTERM);
    wait(milliseconds(2000));
}

bool ChildProcess::signal(int signalNumber, bool toGroup) {
    return started() && !reaped_ && ::kill(toGroup ? -pid_ : pid_, signalNumber) == 0;
}

bool ChildProcess::hasThread(const std::string& name) const {
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/task"))
        if (readFile(task.path() / "comm") == name + "\n") return true;
    return false;
}

std::string ChildProcess::output(bool fromStderr) const {
    return readFile("/proc/self/fd/" + std::to_string((fromStderr ? err_ : out_).get()));
}

bool ChildProcess::waitForOutput(const std::string& text, milliseconds timeout, bool fromStderr) {
    return waitUntil([&] { return output(fromStderr).find(text) != std::string::npos; }, timeout);
}

ProcessResult ChildProcess::wait(milliseconds timeout) {
    ProcessResult result;
    if (!started() || reaped_) return result;
    result.timedOut =
        !waitUntil([&] { return ::waitpid(pid_, &result.status, WNOHANG) != 0; }, timeout);
    if (result.timedOut) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &result.status, 0);
    }
    reaped_ = true;
    result.out = output(false);
    result.err = output(true);
    return result;
}

std::string toolBinary() {
    const char* installed = std::getenv("ORVALINQUIST_UNDER_TEST");
    return installed != nullptr ? installed : ORVALINQUIST_BINARY;
}

ProcessResult runTool(const std::vector<std::string>& args, const std::string& transport,
                      milliseconds timeout, const std::string& hal) {
    std::vector<std::string> argv = {toolBinary()};
    argv.insert(argv.end(), args.begin(), args.end());
    return ChildProcess(argv, {"BT_HCI_TRANSPORT=" + transport, "BT_HCI_HAL=" + hal}).wait(timeout);
}

}  // namespace testsupport
