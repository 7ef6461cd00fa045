#include "sse_hub.h"

#include <algorithm>

namespace tessaron_ui {

namespace {

// Splits text into lines at "\r\n", "\r" or "\n", the three line ends an
// event-stream reader honours.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            line += c;
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

std::string SseMessage(const std::string& datagram, const std::string& event_name) {
    std::vector<std::string> lines = Lines(datagram);
    while (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    const bool ends_with_blank_line =
        datagram.size() >= 2 && datagram.compare(datagram.size() - 2, 2, "\n\n") == 0;
    const bool safe = lines.size() == 2 && ends_with_blank_line &&
                      lines[0] == "event: " + event_name && lines[1].compare(0, 5, "data:") == 0;
    if (safe) {
        return datagram;
    }
    std::string message = "event: " + event_name + "\n";
    for (size_t i = 1; i < lines.size(); ++i) {
        // The first data line keeps its own prefix; later lines are survey
        // text and get a prefix whose one stripped blank leaves them intact.
        message += (i == 1 ? "" : "data: ") + lines[i] + "\n";
    }
    message += "\n";
    return message;
}

void SseClient::Push(const std::string& message) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            return;
        }
        if (message.size() > max_queue_bytes_) {
            ++dropped_;
            return;
        }
        while (!queue_.empty() && queued_bytes_ + message.size() > max_queue_bytes_) {
            queued_bytes_ -= queue_.front().size();
            queue_.pop_front();
            ++dropped_;
        }
        queue_.push_back(message);
        queued_bytes_ += message.size();
    }
    ready_.notify_one();
}

bool SseClient::Take(std::chrono::milliseconds timeout, std::vector<std::string>* out) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_for(lock, timeout, [this] { return closed_ || !queue_.empty(); });
    if (closed_) {
        return false;
    }
    out->insert(out->end(), queue_.begin(), queue_.end());
    queue_.clear();
    queued_bytes_ = 0;
    return true;
}

void SseClient::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        queue_.clear();
        queued_bytes_ = 0;
    }
    ready_.notify_all();
}

std::uint64_t SseClient::dropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}

std::shared_ptr<SseClient> SseHub::Subscribe() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shut_ || clients_.size() >= max_clients_) {
        return nullptr;
    }
    clients_.push_back(std::make_shared<SseClient>(max_queue_bytes_));
    return clients_.back();
}

void SseHub::Unsubscribe(const std::shared_ptr<SseClient>& client) {
    if (!client) {
        return;
    }
    client->Close();
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = std::find(clients_.begin(), clients_.end(), client);
    if (it != clients_.end()) {
        dropped_by_departed_ += client->dropped();
        clients_.erase(it);
    }
}

void SseHub::Publish(const std::string& message) {
    std::vector<std::shared_ptr<SseClient>> targets;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        targets = clients_;
    }
    for (const auto& client : targets) {
        client->Push(message);
    }
}

void SseHub::Shutdown() {
    std::vector<std::shared_ptr<SseClient>> targets;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shut_ = true;
        targets = clients_;
    }
    for (const auto& client : targets) {
        client->Close();
    }
}

size_t SseHub::ClientCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return clients_.size();
}

std::uint64_t SseHub::DroppedCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::uint64_t total = dropped_by_departed_;
    for (const auto& client : clients_) {
        total += client->dropped();
    }
    return total;
}

}  // namespace tessaron_ui
