// tessaron-ui's ends: a UDP reader taking the local daemon's event datagrams
// into UiState and the SSE hub, optionally an MQTT feed doing the same for
// every sensor on a broker, and an HTTP server for the page, the event
// stream, the JSON snapshots and the metrics.
#ifndef TESSARON_UI_UI_SERVER_H
#define TESSARON_UI_UI_SERVER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "sse_hub.h"
#include "ui_options.h"
#include "ui_state.h"

namespace httplib {
class Server;
}

namespace tessaron_ui {

// Local wall-clock milliseconds, replaceable in tests.
using MillisClock = std::function<std::int64_t()>;
std::int64_t SystemMillis();

// HTTP worker threads; every open /events stream holds one.
constexpr size_t kHttpThreads = kDefaultMaxClients + 8;

class UiServer {
public:
    explicit UiServer(const UiOptions& options, MillisClock clock = SystemMillis);
    ~UiServer();
    UiServer(const UiServer&) = delete;
    UiServer& operator=(const UiServer&) = delete;

    // Binds both sockets and starts serving; false with *error when a socket
    // cannot be bound.
    bool Start(std::string* error);
    // Ends the event streams, the HTTP server and the UDP reader.
    void Stop();

    std::uint16_t udp_port() const { return udp_port_; }
    std::uint16_t http_port() const { return http_port_; }
    const std::string& ui_dir() const { return ui_dir_; }
    UiState& state() { return state_; }
    SseHub& hub() { return hub_; }

    // One received datagram of real_size bytes (data holds at most
    // kMaxDatagramBytes of it): counted, parsed, stored and relayed.
    void HandleDatagram(const char* data, size_t real_size);
    // One message of the MQTT feed.
    void HandleMqttMessage(const std::string& topic, const std::string& payload);

private:
    bool OpenUdp(std::string* error);
    bool OpenHttp(std::string* error);
    void RegisterRoutes();
    void ReceiveLoop();
    std::string StatsJson() const;
    // Stores the event and relays it to the pages as JSON.
    void Deliver(const UiEvent& event, bool from_udp);

    UiOptions options_;
    MillisClock clock_;
    std::string ui_dir_;
    UiState state_;
    SseHub hub_;
    std::unique_ptr<httplib::Server> http_;
    std::unique_ptr<class MqttFeed> mqtt_;
    int udp_fd_ = -1;
    std::uint16_t udp_port_ = 0;
    std::uint16_t http_port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread udp_thread_;
    std::thread http_thread_;
    std::int64_t started_ms_ = 0;
};

// The page directory used when --ui-dir is not given.
std::string DefaultUiDir();

}  // namespace tessaron_ui

#endif  // TESSARON_UI_UI_SERVER_H
