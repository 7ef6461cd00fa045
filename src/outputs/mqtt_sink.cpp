#include "mqtt_sink.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iostream>
#include <utility>

namespace {

// Events handed to libmosquitto and not yet written to the socket: this keeps
// its own queue small when the broker reads slowly.
constexpr std::size_t kMaxInFlight = 256;
constexpr int kStatusQos = 1;

// libmosquitto is set up once per process.
struct MosquittoLibrary {
    MosquittoLibrary() { mosquitto_lib_init(); }
    ~MosquittoLibrary() { mosquitto_lib_cleanup(); }
};

void InitLibrary() {
    static MosquittoLibrary library;
}

std::string ChannelTopic(float freq_mhz) {
    if (!(freq_mhz > 0.0f && freq_mhz < 100000.0f)) {
        return "channels/survey";
    }
    return "channels/" + std::to_string(std::lround(freq_mhz));
}

}  // namespace

MqttSink::MqttSink(MqttOptions options, Clock clock)
    : options_(std::move(options)), clock_(std::move(clock)) {}

MqttSink::~MqttSink() {
    Stop();
    if (client_ != nullptr) {
        mosquitto_destroy(client_);
    }
}

bool MqttSink::Start(std::string* error) {
    InitLibrary();
    const std::string id = "tessaron-" + options_.sensor;
    client_ = mosquitto_new(id.c_str(), true, this);
    if (client_ == nullptr) {
        *error = "MQTT: cannot create the client";
        return false;
    }
    mosquitto_connect_callback_set(client_, &MqttSink::OnConnectCallback);
    mosquitto_disconnect_callback_set(client_, &MqttSink::OnDisconnectCallback);
    mosquitto_publish_callback_set(client_, &MqttSink::OnPublishCallback);
    mosquitto_reconnect_delay_set(client_, options_.reconnect_min_s, options_.reconnect_max_s,
                                  false);
    const std::string status = TopicPrefix() + "status";
    static const char kOffline[] = "offline";
    int rc = mosquitto_will_set(client_, status.c_str(), sizeof(kOffline) - 1, kOffline, kStatusQos,
                                true);
    if (rc == MOSQ_ERR_SUCCESS && !options_.username.empty()) {
        rc = mosquitto_username_pw_set(
            client_, options_.username.c_str(),
            options_.password.empty() ? nullptr : options_.password.c_str());
    }
    if (rc == MOSQ_ERR_SUCCESS && !options_.tls_ca_file.empty()) {
        rc = mosquitto_tls_set(
            client_, options_.tls_ca_file.c_str(), nullptr,
            options_.tls_cert_file.empty() ? nullptr : options_.tls_cert_file.c_str(),
            options_.tls_key_file.empty() ? nullptr : options_.tls_key_file.c_str(), nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        *error = std::string("MQTT: ") + mosquitto_strerror(rc);
        return false;
    }
    // A broker that is not there yet is an outage like any other; the
    // publisher thread keeps trying until the first connection is under way,
    // libmosquitto's thread after that.
    if (!TryConnect()) {
        HandleDisconnect(MOSQ_ERR_ERRNO);
    }
    publisher_ = std::thread([this] { PublishLoop(); });
    return true;
}

bool MqttSink::TryConnect() {
    if (mosquitto_connect_async(client_, options_.host.c_str(), options_.port,
                                options_.keepalive_s) != MOSQ_ERR_SUCCESS) {
        return false;
    }
    loop_started_ = mosquitto_loop_start(client_) == MOSQ_ERR_SUCCESS;
    return loop_started_;
}

void MqttSink::Stop() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stopping_ || client_ == nullptr) {
        stopping_ = true;
        return;
    }
    wake_.wait_for(lock, std::chrono::milliseconds(options_.exit_drain_ms),
                   [this] { return queue_.empty() && in_flight_ == 0; });
    stopping_ = true;
    const bool connected = counters_.connected;
    counters_.dropped += queue_.size();
    queue_.clear();
    lock.unlock();
    wake_.notify_all();
    if (publisher_.joinable()) {
        publisher_.join();
    }
    if (connected) {
        const std::string status = TopicPrefix() + "status";
        static const char kOffline[] = "offline";
        mosquitto_publish(client_, nullptr, status.c_str(), sizeof(kOffline) - 1, kOffline,
                          kStatusQos, true);
    }
    mosquitto_disconnect(client_);
    if (loop_started_) {
        mosquitto_loop_stop(client_, !connected);
        loop_started_ = false;
    }
}

EventStamp MqttSink::Stamp() const {
    EventStamp stamp;
    stamp.sensor = options_.sensor;
    clock_(&stamp.host_time);
    return stamp;
}

void MqttSink::Enqueue(Message message) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            return;
        }
        ++counters_.queued;
        if (queue_.size() >= options_.queue_limit) {
            queue_.pop_front();  // the newest state is worth more than the oldest
            ++counters_.dropped;
        }
        queue_.push_back(std::move(message));
    }
    wake_.notify_all();
}

void MqttSink::PublishLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    std::chrono::seconds retry(options_.reconnect_min_s);
    while (!loop_started_) {
        if (wake_.wait_for(lock, retry, [this] { return stopping_; })) {
            return;
        }
        lock.unlock();
        const bool connecting = TryConnect();
        lock.lock();
        if (!connecting) {
            retry = std::min(retry * 2, std::chrono::seconds(options_.reconnect_max_s));
        }
    }
    while (true) {
        wake_.wait(lock, [this] {
            return stopping_ ||
                   (counters_.connected && !queue_.empty() && in_flight_ < kMaxInFlight);
        });
        if (stopping_) {
            return;
        }
        Message message = std::move(queue_.front());
        queue_.pop_front();
        ++in_flight_;
        const std::uint64_t connection = counters_.connects;
        lock.unlock();
        const int rc = mosquitto_publish(client_, nullptr, message.topic.c_str(),
                                         static_cast<int>(message.payload.size()),
                                         message.payload.data(), message.qos, false);
        lock.lock();
        if (rc == MOSQ_ERR_SUCCESS) {
            ++counters_.published;
        } else if (connection == counters_.connects && counters_.connected) {
            --in_flight_;
            ++counters_.dropped;
        } else if (connection == counters_.connects) {
            // Lost between the check and the send; the disconnect already
            // counted what was in flight.
        }
        wake_.notify_all();
    }
}

void MqttSink::HandleConnect(int rc) {
    if (rc != 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!warned_this_outage_) {
            warned_this_outage_ = true;
            std::cerr << "Warning... MQTT: broker " << options_.host << ":" << options_.port
                      << " refused the connection (" << mosquitto_connack_string(rc)
                      << "); retrying\n";
        }
        return;
    }
    const std::string status = TopicPrefix() + "status";
    static const char kOnline[] = "online";
    int mid = -1;
    mosquitto_publish(client_, &mid, status.c_str(), sizeof(kOnline) - 1, kOnline, kStatusQos,
                      true);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        status_mid_ = mid;
        counters_.connected = true;
        ++counters_.connects;
        if (warned_this_outage_) {
            std::cerr << "MQTT: connected to " << options_.host << ":" << options_.port << " ("
                      << counters_.dropped - dropped_at_outage_start_
                      << " events dropped while the broker was away)\n";
        }
        warned_this_outage_ = false;
    }
    wake_.notify_all();
}

void MqttSink::HandleDisconnect(int rc) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool was_connected = counters_.connected;
    counters_.connected = false;
    // What libmosquitto had not written yet is gone with the connection.
    counters_.dropped += in_flight_;
    in_flight_ = 0;
    if (stopping_) {
        return;
    }
    if (was_connected || !warned_this_outage_) {
        ++counters_.outages;
    }
    if (!warned_this_outage_) {
        warned_this_outage_ = true;
        dropped_at_outage_start_ = counters_.dropped;
        std::cerr << "Warning... MQTT: broker " << options_.host << ":" << options_.port
                  << (was_connected ? " lost (" : " not reachable (")
                  << (rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc))
                  << "); up to " << options_.queue_limit
                  << " events wait for it, older ones are dropped\n";
    }
    wake_.notify_all();
}

void MqttSink::HandlePublished(int mid) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (mid != status_mid_ && in_flight_ > 0) {
            --in_flight_;
        }
    }
    wake_.notify_all();
}

void MqttSink::OnConnectCallback(mosquitto*, void* self, int rc) {
    static_cast<MqttSink*>(self)->HandleConnect(rc);
}

void MqttSink::OnDisconnectCallback(mosquitto*, void* self, int rc) {
    static_cast<MqttSink*>(self)->HandleDisconnect(rc);
}

void MqttSink::OnPublishCallback(mosquitto*, void* self, int mid) {
    static_cast<MqttSink*>(self)->HandlePublished(mid);
}

void MqttSink::OnDevice(const DeviceEventRecord& device) {
    Enqueue({TopicPrefix() + "devices", DeviceEventJson(device, Stamp()), 0});
}

void MqttSink::OnChannelSpectrum(const ChannelSpectrumRecord& spectrum) {
    Enqueue({TopicPrefix() + ChannelTopic(spectrum.freq_mhz),
             ChannelSpectrumJson(spectrum, Stamp()), 0});
}

void MqttSink::OnChannelUtilisation(const ChannelUtilisationRecord& survey) {
    Enqueue({TopicPrefix() + ChannelTopic(survey.freq_mhz), ChannelUtilisationJson(survey, Stamp()),
             0});
}

void MqttSink::OnLogLine(const std::string&) {}

MqttCounters MqttSink::Counters() const {
    std::lock_guard<std::mutex> lock(mutex_);
    MqttCounters c = counters_;
    c.waiting = queue_.size();
    return c;
}
