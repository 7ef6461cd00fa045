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

#include "event_json.h"
#ifdef TESSARON_UI_HAVE_MQTT
#include "mqtt_feed.h"
#endif

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

timeval MillisToTimeval(std::int64_t ms) {
    timeval t;
    t.tv_sec = static_cast<time_t>(ms / 1000);
    t.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    return t;
}

// The page's view of an event: the same JSON the daemon's feeds carry.
std::string EventJsonMessage(const UiEvent& event, const EventStamp& stamp) {
    switch (event.type) {
        case UiEventKind::Device:
            return SseMessage(
                "event: device\ndata: " + DeviceEventJson(event.device, stamp) + "\n\n", "device");
        case UiEventKind::Spectrum:
            return SseMessage(
                "event: spectrum\ndata: " + ChannelSpectrumJson(event.Spectrum(), stamp) + "\n\n",
                "spectrum");
        case UiEventKind::Utilisation:
            break;
    }
    return SseMessage(
        "event: utilisation\ndata: " + ChannelUtilisationJson(event.utilisation, stamp) + "\n\n",
        "utilisation");
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
#ifdef TESSARON_UI_HAVE_MQTT
    if (options_.mqtt.port != 0) {
        mqtt_.reset(
            new MqttFeed(options_, [this](const std::string& topic, const std::string& payload) {
                HandleMqttMessage(topic, payload);
            }));
        if (!mqtt_->Start(error)) {
            Stop();
            return false;
        }
    }
#else
    if (options_.mqtt.port != 0) {
        *error = "this build of tessaron-ui has no MQTT (configured without libmosquitto)";
        Stop();
        return false;
    }
#endif
    udp_thread_ = std::thread([this] { ReceiveLoop(); });
    http_thread_ = std::thread([this] { http_->listen_after_bind(); });
    return true;
}

void UiServer::Stop() {
    if (stopping_.exchange(true)) {
        return;
    }
    hub_.Shutdown();
#ifdef TESSARON_UI_HAVE_MQTT
    if (mqtt_) {
        mqtt_->Stop();
    }
#endif
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
    // The kernel then reports, with each datagram, how many it had to drop.
    const int count_drops = 1;
    setsockopt(udp_fd_, SOL_SOCKET, SO_RXQ_OVFL, &count_drops, sizeof(count_drops));
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
        res.set_content(state_.ChannelsJson(clock_()), "application/json");
    });
    http_->Get("/api/sensors", [this](const httplib::Request&, httplib::Response& res) {
        NoStore(res);
        res.set_content(state_.SensorsJson(clock_()), "application/json");
    });
    http_->Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
        NoStore(res);
        res.set_content(state_.MetricsText(clock_(), hub_.DroppedCount()),
                        "text/plain; version=0.0.4");
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
    const std::string extra = "\"sse_clients\":" + std::to_string(hub_.ClientCount()) +
                              ",\"sse_dropped\":" + std::to_string(hub_.DroppedCount()) +
                              ",\"udp\":\"" + options_.udp.host + ":" + std::to_string(udp_port_) +
                              "\"" +
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
    event.sensor = options_.sensor;
    Deliver(event, true);
}

void UiServer::HandleMqttMessage(const std::string& topic, const std::string& payload) {
    std::string sensor;
    std::string kind;
    if (!SplitTopic(topic, &sensor, &kind)) {
        state_.CountMalformed("MQTT topic not understood", false);
        return;
    }
    if (kind == "status") {
        if (payload != "online" && payload != "offline") {
            state_.CountMalformed("MQTT status neither online nor offline", false);
            return;
        }
        state_.SetSensorStatus(sensor, payload, clock_());
        hub_.Publish(SseMessage("event: status\ndata: {\"sensor\":\"" + sensor +
                                    "\",\"status\":\"" + payload + "\"}\n\n",
                                "status"));
        return;
    }
    UiEvent event;
    std::string why;
    if (payload.size() > kMaxDatagramBytes || !ParseEventJson(payload, &event, &why)) {
        state_.CountMalformed(payload.size() > kMaxDatagramBytes ? "oversized MQTT message" : why,
                              false);
        return;
    }
    const bool kind_matches = (kind == "devices") == (event.type == UiEventKind::Device);
    if (event.sensor != sensor || !kind_matches) {
        state_.CountMalformed("MQTT message of another sensor or kind than its topic", false);
        return;
    }
    Deliver(event, false);
}

void UiServer::Deliver(const UiEvent& event, bool from_udp) {
    const std::int64_t now = clock_();
    state_.Apply(event, now, from_udp);
    hub_.Publish(EventJsonMessage(event, {event.sensor, MillisToTimeval(now)}));
}

void UiServer::ReceiveLoop() {
    std::vector<char> buffer(kReceiveBufferBytes);
    char control[CMSG_SPACE(sizeof(std::uint32_t))];
    std::uint32_t kernel_drops = 0;
    while (!stopping_) {
        pollfd pfd{udp_fd_, POLLIN, 0};
        const int ready = poll(&pfd, 1, kPollMs);
        if (ready <= 0) {
            continue;
        }
        iovec iov{buffer.data(), buffer.size()};
        msghdr msg;
        std::memset(&msg, 0, sizeof(msg));
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof(control);
        const ssize_t n = recvmsg(udp_fd_, &msg, MSG_TRUNC | MSG_DONTWAIT);
        if (n < 0) {
            continue;
        }
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
                std::uint32_t total = 0;
                std::memcpy(&total, CMSG_DATA(c), sizeof(total));
                state_.CountKernelDropped(total - kernel_drops);  // wraps like the counter
                kernel_drops = total;
            }
        }
        HandleDatagram(buffer.data(), static_cast<size_t>(n));
    }
}

}  // namespace tessaron_ui
