#include "loopback_udp.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

int OpenLoopbackUdp(uint16_t* port, int rcvbuf_bytes) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return -1;
    }
    if (rcvbuf_bytes > 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf_bytes, sizeof(rcvbuf_bytes));
    }
    sockaddr_in addr = LoopbackAddress(0);
    socklen_t len = sizeof(addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

int FreeUdpPort() {
    uint16_t port = 0;
    const int fd = OpenLoopbackUdp(&port);
    if (fd >= 0) {
        close(fd);
    }
    return port;
}

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

std::string LoopbackOption(uint16_t port) {
    return "127.0.0.1:" + std::to_string(port);
}

LoopbackSender::LoopbackSender(uint16_t port)
    : fd_(socket(AF_INET, SOCK_DGRAM, 0)), to_(LoopbackAddress(port)) {}

LoopbackSender::~LoopbackSender() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool LoopbackSender::Send(const void* data, size_t len) const {
    return sendto(fd_, data, len, 0, reinterpret_cast<const sockaddr*>(&to_), sizeof(to_)) ==
           static_cast<ssize_t>(len);
}
