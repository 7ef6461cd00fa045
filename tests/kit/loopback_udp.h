// UDP sockets on 127.0.0.1 for tests and tools that talk to the daemon:
// ports are always picked by the kernel, never fixed.
#ifndef TESSARON_TESTS_KIT_LOOPBACK_UDP_H
#define TESSARON_TESTS_KIT_LOOPBACK_UDP_H

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

// A UDP socket bound to 127.0.0.1 on a port the kernel picks, stored in
// *port. rcvbuf_bytes > 0 asks for a receive buffer that large, so that a
// burst from the daemon is not dropped. Returns the descriptor, -1 on error.
int OpenLoopbackUdp(uint16_t* port, int rcvbuf_bytes = 0);

// A UDP port on 127.0.0.1 that was free a moment ago.
int FreeUdpPort();

sockaddr_in LoopbackAddress(uint16_t port);
// "127.0.0.1:PORT", the form the daemon's --listen and --ui options take.
std::string LoopbackOption(uint16_t port);

// Sends datagrams to one port on 127.0.0.1, as a card-side producer would.
class LoopbackSender {
public:
    explicit LoopbackSender(uint16_t port);
    ~LoopbackSender();
    LoopbackSender(const LoopbackSender&) = delete;
    LoopbackSender& operator=(const LoopbackSender&) = delete;

    // True when the whole datagram went out.
    bool Send(const void* data, size_t len) const;

private:
    int fd_;
    sockaddr_in to_;
};

#endif
