// LD_PRELOAD library that stands in for the kernel's AF_ALG crypto sockets when the kernel
// has none. BlueZ's emulator opens "ecb(aes)" and "cmac(aes)" sockets for every controller
// it creates and refuses the controller when that fails; here each such socket becomes one
// end of a Unix socket pair, and the ciphertext or MAC of what is sent on an operation socket
// is written to the other end, so that the caller's read() returns it as the kernel would.
// A real AF_ALG socket is always preferred: the emulation starts only on EAFNOSUPPORT.
#include <dlfcn.h>
#include <errno.h>
#include <linux/if_alg.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "aes128.h"

#ifndef SOL_ALG
#define SOL_ALG 279
#endif

namespace {

using orvalinquist::alg::Aes128;
using orvalinquist::alg::AesBlock;
using orvalinquist::alg::aesCmac;

enum class Kind { kUnbound, kCipherMaster, kHashMaster, kCipherOp, kHashOp };

struct AlgSocket {
    Kind kind = Kind::kUnbound;
    int peer = -1;  // the pair's other end; results are written there
    bool hasKey = false;
    AesBlock key{};
    std::vector<uint8_t> pendingHashInput;
};

std::mutex gMutex;
std::map<int, AlgSocket> gSockets;

template <typename Fn>
Fn realFunction(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

using SocketFn = int (*)(int, int, int);
using BindFn = int (*)(int, const sockaddr*, socklen_t);
using SetsockoptFn = int (*)(int, int, int, const void*, socklen_t);
using AcceptFn = int (*)(int, sockaddr*, socklen_t*);
using Accept4Fn = int (*)(int, sockaddr*, socklen_t*, int);
using SendmsgFn = ssize_t (*)(int, const msghdr*, int);
using SendFn = ssize_t (*)(int, const void*, size_t, int);
using WriteFn = ssize_t (*)(int, const void*, size_t);
using CloseFn = int (*)(int);

int failWith(int error) {
    errno = error;
    return -1;
}

// Creates a pair and registers its first end; returns it, or -1 with errno set.
int newEmulatedSocket(Kind kind, int typeFlags, const AlgSocket* parent) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | (typeFlags & (SOCK_CLOEXEC | SOCK_NONBLOCK)), 0,
                   ends) != 0) {
        return -1;
    }
    AlgSocket entry;
    entry.kind = kind;
    entry.peer = ends[1];
    if (parent != nullptr) {
        entry.hasKey = parent->hasKey;
        entry.key = parent->key;
    }
    gSockets[ends[0]] = entry;
    return ends[0];
}

AlgSocket* findLocked(int fd) {
    auto it = gSockets.find(fd);
    return it == gSockets.end() ? nullptr : &it->second;
}

bool writeResult(int peer, const uint8_t* data, size_t len) {
    static const WriteFn realWrite = realFunction<WriteFn>("write");
    return realWrite(peer, data, len) == static_cast<ssize_t>(len);
}

// Handles one send on an operation socket; returns the byte count or -1 with errno.
ssize_t operate(AlgSocket& op, const std::vector<uint8_t>& data, int cipherOp, bool more) {
    if (!op.hasKey) return failWith(ENOKEY);
    if (op.kind == Kind::kHashOp) {
        op.pendingHashInput.insert(op.pendingHashInput.end(), data.begin(), data.end());
        if (more) return static_cast<ssize_t>(data.size());
        const AesBlock mac = aesCmac(op.key, op.pendingHashInput.data(), op.pendingHashInput.size());
        op.pendingHashInput.clear();
        if (!writeResult(op.peer, mac.data(), mac.size())) return failWith(EIO);
        return static_cast<ssize_t>(data.size());
    }
    // ECB only ever encrypts here; decryption is not needed by the emulator.
    if (cipherOp != ALG_OP_ENCRYPT) return failWith(EOPNOTSUPP);
    if (data.empty() || data.size() % 16 != 0) return failWith(EINVAL);
    const Aes128 aes(op.key);
    std::vector<uint8_t> out(data.size());
    for (size_t offset = 0; offset < data.size(); offset += 16) {
        AesBlock block;
        std::memcpy(block.data(), &data[offset], 16);
        const AesBlock cipher = aes.encrypt(block);
        std::memcpy(&out[offset], cipher.data(), 16);
    }
    if (!writeResult(op.peer, out.data(), out.size())) return failWith(EIO);
    return static_cast<ssize_t>(data.size());
}

int cipherOpFromControl(const msghdr* msg) {
    int op = ALG_OP_ENCRYPT;
    for (cmsghdr* c = CMSG_FIRSTHDR(const_cast<msghdr*>(msg)); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(msg), c)) {
        if (c->cmsg_level == SOL_ALG && c->cmsg_type == ALG_SET_OP &&
            c->cmsg_len >= CMSG_LEN(sizeof(uint32_t))) {
            uint32_t value;
            std::memcpy(&value, CMSG_DATA(c), sizeof(value));
            op = static_cast<int>(value);
        }
    }
    return op;
}

int acceptEmulated(int fd, int flags, bool* handled) {
    std::lock_guard<std::mutex> lock(gMutex);
    AlgSocket* master = findLocked(fd);
    *handled = master != nullptr;
    if (master == nullptr) return -1;
    if (master->kind == Kind::kCipherMaster) {
        return newEmulatedSocket(Kind::kCipherOp, flags, master);
    }
    if (master->kind == Kind::kHashMaster) {
        return newEmulatedSocket(Kind::kHashOp, flags, master);
    }
    return failWith(EINVAL);
}

ssize_t sendEmulated(int fd, const std::vector<uint8_t>& data, int cipherOp, int flags,
                     bool* handled) {
    std::lock_guard<std::mutex> lock(gMutex);
    AlgSocket* op = findLocked(fd);
    *handled = op != nullptr;
    if (op == nullptr) return -1;
    if (op->kind != Kind::kCipherOp && op->kind != Kind::kHashOp) return failWith(EINVAL);
    return operate(*op, data, cipherOp, (flags & MSG_MORE) != 0);
}

bool isEmulated(int fd) {
    std::lock_guard<std::mutex> lock(gMutex);
    return findLocked(fd) != nullptr;
}

}  // namespace

extern "C" {

int socket(int domain, int type, int protocol) {
    static const SocketFn realSocket = realFunction<SocketFn>("socket");
    const int fd = realSocket(domain, type, protocol);
    if (fd >= 0 || domain != AF_ALG || errno != EAFNOSUPPORT) return fd;
    std::lock_guard<std::mutex> lock(gMutex);
    return newEmulatedSocket(Kind::kUnbound, type, nullptr);
}

int bind(int fd, const sockaddr* addr, socklen_t len) {
    static const BindFn realBind = realFunction<BindFn>("bind");
    std::lock_guard<std::mutex> lock(gMutex);
    AlgSocket* entry = findLocked(fd);
    if (entry == nullptr) return realBind(fd, addr, len);
    if (addr == nullptr || len < sizeof(sockaddr_alg) || addr->sa_family != AF_ALG) {
        return failWith(EINVAL);
    }
    sockaddr_alg alg;
    std::memcpy(&alg, addr, sizeof(alg));
    const char* type = reinterpret_cast<const char*>(alg.salg_type);
    const char* name = reinterpret_cast<const char*>(alg.salg_name);
    if (strncmp(type, "skcipher", sizeof(alg.salg_type)) == 0 &&
        strncmp(name, "ecb(aes)", sizeof(alg.salg_name)) == 0) {
        entry->kind = Kind::kCipherMaster;
        return 0;
    }
    if (strncmp(type, "hash", sizeof(alg.salg_type)) == 0 &&
        strncmp(name, "cmac(aes)", sizeof(alg.salg_name)) == 0) {
        entry->kind = Kind::kHashMaster;
        return 0;
    }
    return failWith(ENOENT);
}

int setsockopt(int fd, int level, int option, const void* value, socklen_t len) {
    static const SetsockoptFn realSetsockopt = realFunction<SetsockoptFn>("setsockopt");
    std::lock_guard<std::mutex> lock(gMutex);
    AlgSocket* entry = findLocked(fd);
    if (entry == nullptr) return realSetsockopt(fd, level, option, value, len);
    if (level != SOL_ALG || option != ALG_SET_KEY) return failWith(ENOPROTOOPT);
    // AES-128 is all the emulator asks for.
    if (value == nullptr || len != 16) return failWith(EINVAL);
    std::memcpy(entry->key.data(), value, 16);
    entry->hasKey = true;
    return 0;
}

int accept4(int fd, sockaddr* addr, socklen_t* len, int flags) {
    static const Accept4Fn realAccept4 = realFunction<Accept4Fn>("accept4");
    bool handled = false;
    const int result = acceptEmulated(fd, flags, &handled);
    return handled ? result : realAccept4(fd, addr, len, flags);
}

int accept(int fd, sockaddr* addr, socklen_t* len) {
    static const AcceptFn realAccept = realFunction<AcceptFn>("accept");
    bool handled = false;
    const int result = acceptEmulated(fd, 0, &handled);
    return handled ? result : realAccept(fd, addr, len);
}

ssize_t sendmsg(int fd, const msghdr* msg, int flags) {
    static const SendmsgFn realSendmsg = realFunction<SendmsgFn>("sendmsg");
    if (msg == nullptr || !isEmulated(fd)) return realSendmsg(fd, msg, flags);
    std::vector<uint8_t> data;
    for (size_t i = 0; i < msg->msg_iovlen; ++i) {
        const auto* base = static_cast<const uint8_t*>(msg->msg_iov[i].iov_base);
        data.insert(data.end(), base, base + msg->msg_iov[i].iov_len);
    }
    bool handled = false;
    const ssize_t result = sendEmulated(fd, data, cipherOpFromControl(msg), flags, &handled);
    return handled ? result : realSendmsg(fd, msg, flags);
}

ssize_t send(int fd, const void* buf, size_t len, int flags) {
    static const SendFn realSend = realFunction<SendFn>("send");
    if (buf == nullptr || !isEmulated(fd)) return realSend(fd, buf, len, flags);
    const auto* bytes = static_cast<const uint8_t*>(buf);
    bool handled = false;
    const ssize_t result =
        sendEmulated(fd, std::vector<uint8_t>(bytes, bytes + len), ALG_OP_ENCRYPT, flags, &handled);
    return handled ? result : realSend(fd, buf, len, flags);
}

ssize_t write(int fd, const void* buf, size_t len) {
    static const WriteFn realWrite = realFunction<WriteFn>("write");
    if (buf == nullptr || !isEmulated(fd)) return realWrite(fd, buf, len);
    const auto* bytes = static_cast<const uint8_t*>(buf);
    bool handled = false;
    const ssize_t result =
        sendEmulated(fd, std::vector<uint8_t>(bytes, bytes + len), ALG_OP_ENCRYPT, 0, &handled);
    return handled ? result : realWrite(fd, buf, len);
}

int close(int fd) {
    static const CloseFn realClose = realFunction<CloseFn>("close");
    {
        std::lock_guard<std::mutex> lock(gMutex);
        auto it = gSockets.find(fd);
        if (it != gSockets.end()) {
            realClose(it->second.peer);
            gSockets.erase(it);
        }
    }
    return realClose(fd);
}

}  // extern "C"
