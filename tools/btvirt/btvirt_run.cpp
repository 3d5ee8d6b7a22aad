// Runs BlueZ's btvirt with the given arguments. When this kernel has no AF_ALG sockets, it
// preloads the software crypto shim that lies next to this program, without which btvirt
// refuses to create controllers; elsewhere btvirt runs untouched.
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char kShimName[] = "libbtvirt_alg_shim.so";

bool kernelHasAfAlg() {
    const int fd = socket(AF_ALG, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return errno != EAFNOSUPPORT;
    close(fd);
    return true;
}

std::string shimPath() {
    const char* overridePath = getenv("BTVIRT_ALG_SHIM");
    if (overridePath != nullptr && overridePath[0] != '\0') return overridePath;
    char self[PATH_MAX];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (len <= 0) return kShimName;
    std::string dir(self, static_cast<size_t>(len));
    return dir.substr(0, dir.rfind('/') + 1) + kShimName;
}

}  // namespace

int main(int argc, char** argv) {
    if (!kernelHasAfAlg()) {
        const std::string shim = shimPath();
        if (access(shim.c_str(), R_OK) != 0) {
            fprintf(stderr, "btvirt-run: no AF_ALG in this kernel and no shim at %s\n",
                    shim.c_str());
            return 127;
        }
        const char* old = getenv("LD_PRELOAD");
        const std::string preload = (old != nullptr && old[0] != '\0') ? shim + ":" + old : shim;
        if (setenv("LD_PRELOAD", preload.c_str(), 1) != 0) {
            perror("btvirt-run: setenv");
            return 127;
        }
        fprintf(stderr, "btvirt-run: no AF_ALG in this kernel, preloading %s\n", shim.c_str());
    }
    const char* program = getenv("BTVIRT");
    if (program == nullptr || program[0] == '\0') program = "btvirt";
    std::vector<char*> args;
    args.push_back(const_cast<char*>(program));
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    execvp(program, args.data());
    fprintf(stderr, "btvirt-run: cannot run %s: %s\n", program, strerror(errno));
    return 127;
}
