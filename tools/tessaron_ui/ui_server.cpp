#include "ui_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <httplib.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <vector>

#include "json_text.h"

#ifndef TESSARON_UI_SOURCE_DIR
#define TESSARON_UI_SOURCE_DIR ""
#endif
#ifndef TESSARON_UI_INSTALL_DIR
#define TESSARON_UI_INSTALL_DIR ""
#endif

namespace tessaron_ui {

namespace {

// Large enough to see (and count) any oversized datagram whole.
constexpr size_t kReceiveBufferBytes = 65536;
// Socket buffer that absorbs the burst of a fast replay.
constexpr int kUdpSocketBufferBytes = 4 << 20;
constexpr int kPollMs = 200;
// Idle stream polls before a keep-alive comment; it also finds gone browsers.
constexpr int kKeepAlivePolls = 5;
constexpr std::chrono::milliseconds kStreamPoll(1000);

bool HasIndex(const std::string& dir) {
    return !dir.empty() && std::ifstream(dir + "/index.html").good();
}

void NoStore(httplib::Response& res) {
    res.set_header("Cache-Control", "no-store");
}

}  // namespace

std::int64_t SystemMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string DefaultUiDir() {
    if (HasIndex(TESSARON_UI_SOURCE_DIR)) {
        return TESSARON_UI_SOURCE_DIR;
    }
    return TESSARON_UI_INSTALL_DIR;
}

UiServer::UiServer(const UiOptions& options, MillisClock clock)
    : options_(options), clock_(clock ? std::move(clock) : MillisClock(SystemMillis)) {
    ui_dir_ = options_.ui_dir.empty() ? DefaultUiDir() : options_.ui_dir;
}

UiServer::~UiServer() {
    Stop();
}

bool UiServer::Start(std::string* error) {
    started_ms_ = clock_();
    if (!OpenUdp(error) || !OpenHttp(error)) {
        Stop();
        return false;
    }
    udp_thread_ = std::thread([this] { ReceiveLoop(); });
    http_thread_ = std::thread([this] { http_->listen_after_bind(); });
    return true;
}

void UiServer::Stop() {
    if (stopping_.exchange(true)) {
        return;
    }
    hub_.Shutdown();
    if (http_) {
        http_->stop();
    }
    if (http_thread_.joinable()) {
        http_thread_.join();
    }
    if (udp_thread_.joinable()) {
        udp_thread_.join();
    }
    if (udp_fd_ >= 0) {
        close(udp_fd_);
        udp_fd_ = -1;
    }
}

bool UiServer::OpenUdp(std::string* error) {
    udp_fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    if (udp_fd_ < 0) {
        *error = std::string("cannot create the UDP socket: ") + std::strerror(errno);
        return false;
    }
    const int buffer = kUdpSocketBufferBytes;
    setsockopt(udp_fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof(buffer));
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_port = htons(options_.udp.port);
    inet_pton(AF_INET, options_.udp.host.c_str(), &addr.sin_addr);
    if (bind(udp_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
        *error = "cannot listen for UI events on udp " + options_.udp.host + ":" +
                 std::to_string(options_.udp.port) + ": " + std::strerror(errno);
        return false;
    }
    socklen_t len = sizeof(addr);
    getsockname(udp_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    udp_port_ = ntohs(addr.sin_port);
    return true;
}

bool UiServer::OpenHttp(std::string* error) {
    http_.reset(new httplib::Server());
    http_->new_task_queue = [] { return new httplib::ThreadPool(kHttpThreads); };
    RegisterRoutes();
    if (!HasIndex(ui_dir_)) {
        std::cerr << "tessaron-ui: warning: no index.html in '" << ui_dir_
                  << "'; only the event stream and the snapshots are served\n";
    } else if (!http_->set_mount_point("/", ui_dir_)) {
        std::cerr << "tessaron-ui: warning: cannot serve the page from '" << ui_dir_ << "'\n";
    }
    int port = options_.http.port;
    if (port == 0) {
        port = http_->bind_to_any_port(options_.http.host);
    } else if (!http_->bind_to_port(options_.http.host, port)) {
        port = -1;
    }
    if (port <= 0) {
        *error =
            "cannot serve HTTP on " + options_.http.host + ":" + std::to_string(options_.http.port);
        return false;
    }
    http_port_ = static_cast<std::uint16_t>(port);
    return true;
}

void UiServer::RegisterRoutes() {
    http_->Get("/api/devices", [this](const httplib::Request&, httplib::Response& res) {
        NoStore(res);
        res.set_content(state_.DevicesJson(clock_()), "application/json");
    });
    http_->Get("/api/channels", [this](const httplib::Request&, httplib::Response& res) {
        NoStore(res);
        res.set_content(state_.ChannelsJson(), "application/json");
    });
    http_->Get("/api/stats", [this](const httplib::Request&, httplib::Response& res) {
        NoStore(res);
        res.set_content(StatsJson(), "application/json");
    });
    http_->Get("/events", [this](const httplib::Request&, httplib::Response& res) {
        std::shared_ptr<SseClient> client = hub_.Subscribe();
        if (!client) {
            res.status = 503;
            res.set_content("too many event streams open\n", "text/plain");
            return;
        }
        NoStore(res);
        auto idle_polls = std::make_shared<int>(0);
        auto greeted = std::make_shared<bool>(false);
        res.set_chunked_content_provider(
            "text/event-stream",
            [client, idle_polls, greeted](size_t, httplib::DataSink& sink) {
                if (!*greeted) {
                    // Reconnect soon after a dropped stream.
                    *greeted = true;
                    static const std::string kHello = "retry: 2000\n: tessaron-ui\n\n";
                    return sink.write(kHello.data(), kHello.size());
                }
                std::vector<std::string> batch;
                if (!client->Take(kStreamPoll, &batch)) {
                    sink.done();
                    return true;
                }
                if (batch.empty()) {
                    if (++*idle_polls < kKeepAlivePolls) {
                        return sink.is_writable();
                    }
                    *idle_polls = 0;
                    static const std::string kKeepAlive = ": keep-alive\n\n";
                    return sink.write(kKeepAlive.data(), kKeepAlive.size());
                }
                *idle_polls = 0;
                std::string joined;
                for (const std::string& message : batch) {
                    joined += message;
                }
                return sink.write(joined.data(), joined.size());
            },
            [this, client](bool) { hub_.Unsubscribe(client); });
    });
}

std::string UiServer::StatsJson() const {
    const std::string extra =
        "\"sse_clients\":" + std::to_string(hub_.ClientCount()) +
        ",\"sse_dropped\":" + std::to_string(hub_.DroppedCount()) +
        ",\"udp\":" + JsonString(options_.udp.host + ":" + std::to_string(udp_port_)) +
        ",\"uptime_s\":" + std::to_string((clock_() - started_ms_) / 1000);
    return state_.StatsJson(extra);
}

void UiServer::HandleDatagram(const char* data, size_t real_size) {
    if (real_size > kMaxDatagramBytes) {
        state_.CountOversized(real_size);
        return;
    }
    const std::string text(data, real_size);
    UiEvent event;
    std::string why;
    if (!ParseUiEvent(text, &event, &why)) {
        state_.CountMalformed(why);
        return;
    }
    state_.Apply(event, clock_());
    hub_.Publish(SseMessage(text, event.name));
}

void UiServer::ReceiveLoop() {
    std::vector<char> buffer(kReceiveBufferBytes);
    while (!stopping_) {
        pollfd pfd{udp_fd_, POLLIN, 0};
        const int ready = poll(&pfd, 1, kPollMs);
        if (ready <= 0) {
            continue;
        }
        const ssize_t n = recv(udp_fd_, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT);
        if (n < 0) {
            continue;
        }
        HandleDatagram(buffer.data(), static_cast<size_t>(n));
    }
}

}  // namespace tessaron_ui
