// `--mqtt HOST:PORT`: the events as JSON on an MQTT broker, for many sensors
// and one site-wide view.
//   tessaron/<sensor>/devices          device announcements and ends
//   tessaron/<sensor>/channels/<mhz>   spectrum and utilisation of one channel
//                                      (channels/survey when a survey names no
//                                      channel)
//   tessaron/<sensor>/status           "online" (retained); "offline" as the
//                                      last will and at an orderly stop
// The analysis thread only formats and queues: a broker that is slow, down or
// unreachable never holds it up. The queue is bounded; beyond it the oldest
// events are dropped and counted, with one warning per outage. libmosquitto's
// own thread reconnects with a growing delay.
#ifndef TESSARON_MQTT_SINK_H
#define TESSARON_MQTT_SINK_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "event_json.h"
#include "event_sink.h"

struct mosquitto;

struct MqttOptions {
    std::string host = "127.0.0.1";
    int port = 1883;
    std::string sensor;
    std::string username;  // empty: no login
    std::string password;
    std::string tls_ca_file;  // set: TLS, checking the broker against this CA
    std::string tls_cert_file;
    std::string tls_key_file;
    std::size_t queue_limit = 2048;  // events waiting for the broker
    int keepalive_s = 10;
    int reconnect_min_s = 1;
    // The n-th retry comes min x n seconds after the one before, at most max
    // seconds: a broker back after an outage is found again within max.
    int reconnect_max_s = 3;
    int exit_drain_ms = 2000;  // at Stop, longest wait to deliver what is queued
};

struct MqttCounters {
    std::uint64_t queued = 0;     // events handed to the sink
    std::uint64_t published = 0;  // handed to the broker connection
    std::uint64_t dropped = 0;    // lost to a full queue
    std::uint64_t connects = 0;
    std::uint64_t outages = 0;
    std::size_t waiting = 0;  // in the queue now
    bool connected = false;
};

class MqttSink : public EventSink {
public:
    using Clock = std::function<void(timeval*)>;

    MqttSink(MqttOptions options, Clock clock);
    ~MqttSink() override;
    MqttSink(const MqttSink&) = delete;
    MqttSink& operator=(const MqttSink&) = delete;

    // Sets up the client and starts connecting in the background; false with
    // *error only for bad settings (TLS files, options), never for a broker
    // that cannot be reached yet.
    bool Start(std::string* error);
    // Delivers what is queued (for at most exit_drain_ms), says "offline" and
    // disconnects.
    void Stop();

    void OnDevice(const DeviceEventRecord& device) override;
    void OnChannelSpectrum(const ChannelSpectrumRecord& spectrum) override;
    void OnChannelUtilisation(const ChannelUtilisationRecord& survey) override;
    void OnLogLine(const std::string& line) override;

    MqttCounters Counters() const;
    std::string TopicPrefix() const { return "tessaron/" + options_.sensor + "/"; }

private:
    struct Message {
        std::string topic;
        std::string payload;
        int qos = 0;
    };

    EventStamp Stamp() const;
    void Enqueue(Message message);
    // Starts connecting and libmosquitto's network thread; false when the
    // broker cannot even be approached yet.
    bool TryConnect();
    void PublishLoop();
    void HandleConnect(int rc);
    void HandleDisconnect(int rc);
    void HandlePublished(int mid);

    static void OnConnectCallback(mosquitto*, void* self, int rc);
    static void OnDisconnectCallback(mosquitto*, void* self, int rc);
    static void OnPublishCallback(mosquitto*, void* self, int mid);

    MqttOptions options_;
    Clock clock_;
    mosquitto* client_ = nullptr;
    bool loop_started_ = false;  // set by Start or, later, by the publisher thread

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Message> queue_;
    MqttCounters counters_;
    std::size_t in_flight_ = 0;  // handed to libmosquitto, not yet written out
    int status_mid_ = -1;        // the last status message, which is not an event
    bool stopping_ = false;
    bool warned_this_outage_ = false;
    std::uint64_t dropped_at_outage_start_ = 0;
    std::thread publisher_;
};

#endif
