// The live receive loop: one UDP socket on the spectrum port, every datagram
// handed to the analyser's ProcessDatagram until a stop is requested (SIGINT
// or SIGTERM in the daemon). Capture replay feeds the same ProcessDatagram.
#include "receive_loop.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "host_clock.h"
#include "silence_monitor.h"
#include "subband_analyser_class.h"

namespace {

volatile sig_atomic_t stop_requested = 0;

}  // namespace

void SubBandAnalyser::RequestStop() {
    stop_requested = 1;
}
bool SubBandAnalyser::StopRequested() {
    return stop_requested != 0;
}
void SubBandAnalyser::ClearStop() {
    stop_requested = 0;
}

void SubBandAnalyser::PrintRecordSize() {
    printf("#Size of fft_stats: %d\n", static_cast<int>(sizeof(fft_data)));
    fflush(stdout);
}

// The classifier passes run inside the receive path, so the socket must hold
// the datagrams that arrive meanwhile: at the card's fastest rate (17,857
// datagrams/s) 100 ms is about 1,800 datagrams, each costing the kernel a
// little over 2 KiB of buffer.
void SizeReceiveBuffer(int sock) {
    const int wanted = CONST_RECEIVE_SOCKET_BUFFER;
    if (setsockopt(sock, SOL_SOCKET, SO_RCVBUFFORCE, &wanted, sizeof(wanted)) != 0) {
        setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &wanted, sizeof(wanted));
    }
    int granted = 0;
    socklen_t len = sizeof(granted);
    getsockopt(sock, SOL_SOCKET, SO_RCVBUF, &granted, &len);
    // Linux reports twice the requested size, the other half being its
    // bookkeeping allowance.
    if (granted < wanted) {
        std::cerr << "Warning!! receive buffer is " << granted << " bytes, asked for " << wanted
                  << ": datagrams may be lost under load (raise net.core.rmem_max)\n";
    }
}

namespace {

// "address:port" of a listening address, for messages.
std::string AddressText(const sockaddr_in& addr) {
    char address[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &addr.sin_addr, address, sizeof(address));
    return std::string(address) + ":" + std::to_string(ntohs(addr.sin_port));
}

// The spectrum socket bound to addr, or -1 (said on stderr): without its
// socket the daemon would idle for ever, hearing nothing.
int OpenSpectrumSocket(const sockaddr_in& addr, const std::string& listen_text) {
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (sock >= 0) {
        SizeReceiveBuffer(sock);
    }
    if (sock < 0 || bind(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
        std::cerr << "Cannot listen for spectrum datagrams on UDP " << listen_text << ": "
                  << strerror(errno) << "\n";
        if (sock >= 0) {
            close(sock);
        }
        return -1;
    }
    return sock;
}

}  // namespace

bool SubBandAnalyser::ReadDataFromNetwork() {
    PrintRecordSize();
    const std::string listen_text = AddressText(listen_addr);
    const int sock = OpenSpectrumSocket(listen_addr, listen_text);
    if (sock < 0) {
        return false;
    }
    uint8_t buffer[CONST_RECEIVE_BUFFER_SIZE];
    timeval now;
    GetHostTime(&now);
    SilenceMonitor silence(listen_text, now);
    while (!StopRequested()) {
        if (between_datagrams) {
            between_datagrams();
        }
        // Wake up now and then to notice a silent producer (and a stop).
        pollfd ready = {sock, POLLIN, 0};
        if (poll(&ready, 1, CONST_SILENCE_POLL_MS) <= 0) {
            GetHostTime(&now);
            std::cerr << silence.Check(now);
            continue;
        }
        sockaddr_in from;
        socklen_t from_len = sizeof(from);
        const ssize_t len = recvfrom(sock, buffer, sizeof(buffer), 0,
                                     reinterpret_cast<sockaddr*>(&from), &from_len);
        if (len < 0 && errno == EINTR) {
            continue;
        }
        if (len >= 0) {
            GetHostTime(&now);
            silence.OnDatagram(now);
        }
        if (len >= 0 && datagram_tap) {
            datagram_tap(buffer, static_cast<size_t>(len), from);
        }
        ProcessDatagram(buffer, len);
        if (len < 0) {
            // A socket that cannot receive would otherwise spin and flood stderr.
            usleep(100000);
        }
    }
    close(sock);
    return true;
}
