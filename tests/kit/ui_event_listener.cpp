#include "ui_event_listener.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

UiEventListener::UiEventListener(int rcvbuf_bytes) {
    fd_ = OpenLoopbackUdp(&port_, rcvbuf_bytes);
    address_ = LoopbackAddress(port_);
}

UiEventListener::~UiEventListener() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::vector<std::string> UiEventListener::Drain(int wait_ms) {
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

EventCollector::EventCollector() : listener_(8 << 20), reader_([this] { Run(); }) {}

EventCollector::~EventCollector() {
    stop_ = true;
    reader_.join();
}

std::vector<std::string> EventCollector::Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

bool EventCollector::WaitFor(const std::string& text, int timeout_ms) {
    for (int waited = 0;; waited += 20) {
        for (const std::string& e : Events()) {
            if (e.find(text) != std::string::npos) {
                return true;
            }
        }
        if (waited >= timeout_ms) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void EventCollector::Settle(int quiet_ms) {
    size_t seen = Events().size();
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(quiet_ms));
        const size_t now = Events().size();
        if (now == seen) {
            return;
        }
        seen = now;
    }
}

void EventCollector::Run() {
    while (!stop_) {
        std::vector<std::string> batch = listener_.Drain(50);
        if (!batch.empty()) {
            std::lock_guard<std::mutex> lock(mutex_);
            for (std::string& e : batch) {
                events_.push_back(std::move(e));
            }
        }
    }
}
