// Receivers for the UI event datagrams the daemon sends: one drained by the
// caller when it wants, one that collects on a thread of its own. The
// events carry host times, which tests pin with the fake host clock.
#ifndef TESSARON_TESTS_KIT_UI_EVENT_LISTENER_H
#define TESSARON_TESTS_KIT_UI_EVENT_LISTENER_H

#include <netinet/in.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fake_host_clock.h"
#include "loopback_udp.h"

// Receives on 127.0.0.1 at a port the kernel picks; the caller drains.
class UiEventListener {
public:
    // rcvbuf_bytes > 0: a receive buffer that holds a long burst.
    explicit UiEventListener(int rcvbuf_bytes = 0);
    ~UiEventListener();
    UiEventListener(const UiEventListener&) = delete;
    UiEventListener& operator=(const UiEventListener&) = delete;

    const sockaddr_in& address() const { return address_; }
    std::string AddressOption() const { return LoopbackOption(port_); }

    // Every datagram already queued; waits at most wait_ms for the first.
    std::vector<std::string> Drain(int wait_ms = 200);

private:
    int fd_ = -1;
    uint16_t port_ = 0;
    sockaddr_in address_{};
};

// Collects every datagram on its own thread, so that a burst of events
// never overflows the socket while the test waits on the daemon.
class EventCollector {
public:
    EventCollector();
    ~EventCollector();
    EventCollector(const EventCollector&) = delete;
    EventCollector& operator=(const EventCollector&) = delete;

    std::string Address() const { return listener_.AddressOption(); }
    std::vector<std::string> Events();
    // Waits until an event containing `text` has arrived (at most timeout_ms).
    bool WaitFor(const std::string& text, int timeout_ms = 10000);
    // Waits until no datagram has arrived for quiet_ms.
    void Settle(int quiet_ms = 300);

private:
    void Run();

    UiEventListener listener_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::string> events_;
    std::thread reader_;
};

#endif
