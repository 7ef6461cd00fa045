// Fan-out of event texts to the browsers on /events. The UDP reader publishes
// into one bounded queue per browser and never waits on a socket: a browser
// that does not keep up loses its oldest queued texts instead.
#ifndef TESSARON_UI_SSE_HUB_H
#define TESSARON_UI_SSE_HUB_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tessaron_ui {

constexpr size_t kDefaultClientQueueBytes = 1 << 20;
constexpr size_t kDefaultMaxClients = 16;

// The server-sent-events message for one daemon datagram. A datagram that is
// already one event line and one data line followed by the blank line goes out
// byte for byte; one whose data spans lines (an unescaped survey text) gets a
// "data: " prefix on every further line, so the browser still receives the
// whole text and no inner line can end the event early or start a new field.
std::string SseMessage(const std::string& datagram, const std::string& event_name);

class SseClient {
public:
    explicit SseClient(size_t max_queue_bytes) : max_queue_bytes_(max_queue_bytes) {}

    // Queues one message, dropping the oldest queued ones if it would not fit.
    void Push(const std::string& message);
    // Waits up to timeout for messages and moves them all into *out. Returns
    // false once the client is closed.
    bool Take(std::chrono::milliseconds timeout, std::vector<std::string>* out);
    void Close();
    std::uint64_t dropped() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::string> queue_;
    size_t queued_bytes_ = 0;
    size_t max_queue_bytes_;
    std::uint64_t dropped_ = 0;
    bool closed_ = false;
};

class SseHub {
public:
    explicit SseHub(size_t max_queue_bytes = kDefaultClientQueueBytes,
                    size_t max_clients = kDefaultMaxClients)
        : max_queue_bytes_(max_queue_bytes), max_clients_(max_clients) {}

    // A new client, or null when max_clients are connected or the hub is shut.
    std::shared_ptr<SseClient> Subscribe();
    void Unsubscribe(const std::shared_ptr<SseClient>& client);
    void Publish(const std::string& message);
    // Closes every client; later subscriptions fail.
    void Shutdown();

    size_t ClientCount() const;
    // Messages dropped for slow clients, including clients since gone.
    std::uint64_t DroppedCount() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<SseClient>> clients_;
    size_t max_queue_bytes_;
    size_t max_clients_;
    std::uint64_t dropped_by_departed_ = 0;
    bool shut_ = false;
};

}  // namespace tessaron_ui

#endif  // TESSARON_UI_SSE_HUB_H
