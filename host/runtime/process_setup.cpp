#include "process_setup.h"

#include <android/log.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

namespace orvalinquist {
namespace host {

namespace {

// A program started with a standard stream closed (cron, a daemon, `2>&-`) would otherwise hand
// that number to its first socket or file, and liblog, which writes to fd 2 whatever it is,
// would write log lines into the controller link.
bool holdStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open() takes the lowest free number, which is `fd`: the lower ones are open by now.
        const int held = open("/dev/null", O_RDWR);
        if (held != fd) {
            if (held >= 0) close(held);
            return false;
        }
    }
    return true;
}

// `message` with every byte 0x01-0x1f and 0x7f written as \xNN; other bytes, UTF-8 included,
// unchanged.
std::string escapeControlBytes(const char* message) {
    std::string escaped;
    for (const char* p = message; *p != '\0'; ++p) {
        const unsigned char byte = static_cast<unsigned char>(*p);
        if (byte < 0x20 || byte == 0x7f) {
            char code[5];
            std::snprintf(code, sizeof(code), "\\x%02x", byte);
            escaped += code;
        } else {
            escaped += *p;
        }
    }
    return escaped;
}

// Names and other bytes from the air reach these lines; on a terminal an escape sequence would
// act, and a line feed would split one line into two.
void escapingStderrLogger(const struct __android_logger_data* data, const char* message) {
    __android_log_stderr_logger(data, escapeControlBytes(message).c_str());
}

bool prepareSteps() {
    // Without the descriptors held the controller link is at risk: better not to start.
    if (!holdStandardDescriptors()) {
        static const char kWhy[] =
            "A standard stream is closed and /dev/null cannot be opened to hold its place\n";
        // Only where stderr is there to take it; nothing else can be said.
        if (fcntl(STDERR_FILENO, F_GETFD) != -1)
            (void)!write(STDERR_FILENO, kWhy, sizeof(kWhy) - 1);
        _exit(1);
    }
    __android_log_set_logger(escapingStderrLogger);
    // On a host the log goes to stderr, which users pipe into grep or head. A reader that left
    // must not kill the process half-way through a scan (its results file unwritten): a write
    // to it fails with EPIPE instead, and liblog drops the line. The host's own sockets send
    // with MSG_NOSIGNAL regardless.
    return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}

}  // namespace

bool prepareProcess() {
    static const bool prepared = prepareSteps();
    return prepared;
}

}  // namespace host
}  // namespace orvalinquist
