// Test helpers for the UI event path: a UDP listener on 127.0.0.1 at a port
// the kernel picks, and a settable fake host clock.
#ifndef TESSARON_TESTS_UI_EVENT_LISTENER_H
#define TESSARON_TESTS_UI_EVENT_LISTENER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

// Receives the datagrams the daemon sends to its UI destination.
class UiEventListener {
public:
    UiEventListener() {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr;
        std::memset(&addr, 0, sizeof(addr));
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
        socklen_t len = sizeof(address_);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address_), &len);
    }
    ~UiEventListener() { close(fd_); }
    UiEventListener(const UiEventListener&) = delete;
    UiEventListener& operator=(const UiEventListener&) = delete;

    const sockaddr_in& address() const { return address_; }

    // Every datagram already queued; waits at most wait_ms for the first.
    std::vector<std::string> Drain(int wait_ms = 200) {
        std::vector<std::string> out;
        pollfd p{fd_, POLLIN, 0};
        int timeout = wait_ms;
        while (poll(&p, 1, timeout) > 0) {
            char buf[65536];
            const ssize_t n = recv(fd_, buf, sizeof(buf), 0);
            if (n < 0) {
                break;
            }
            out.emplace_back(buf, static_cast<size_t>(n));
            timeout = 0;
        }
        return out;
    }

private:
    int fd_ = -1;
    sockaddr_in address_{};
};

// A host clock the test sets; installed with SetHostClock(FakeHostClock::Read).
struct FakeHostClock {
    static timeval& Now() {
        static timeval now{0, 0};
        return now;
    }
    static void Read(timeval* t) { *t = Now(); }
    static void Set(long sec, long usec = 0) {
        Now().tv_sec = sec;
        Now().tv_usec = usec;
    }
    static void Advance(long sec) { Now().tv_sec += sec; }
};

#endif
