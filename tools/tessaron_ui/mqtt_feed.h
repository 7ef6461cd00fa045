// The site-wide feed: every daemon publishing to one MQTT broker under
// tessaron/<sensor>/devices, tessaron/<sensor>/channels/<mhz> and
// tessaron/<sensor>/status. libmosquitto's thread reads the broker and hands
// each message on; it reconnects by itself when the broker goes away.
#ifndef TESSARON_UI_MQTT_FEED_H
#define TESSARON_UI_MQTT_FEED_H

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "ui_options.h"

struct mosquitto;
struct mosquitto_message;

namespace tessaron_ui {

class MqttFeed {
public:
    using Handler = std::function<void(const std::string& topic, const std::string& payload)>;

    MqttFeed(const UiOptions& options, Handler handler);
    ~MqttFeed();
    MqttFeed(const MqttFeed&) = delete;
    MqttFeed& operator=(const MqttFeed&) = delete;

    // False with *error for bad settings; a broker that is not up yet is
    // retried in the background.
    bool Start(std::string* error);
    void Stop();

private:
    static void OnConnect(mosquitto* client, void* self, int rc);
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);

    UiOptions options_;
    Handler handler_;
    mosquitto* client_ = nullptr;
    bool running_ = false;
    std::thread connector_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool loop_started_ = false;  // written by connector_ before it ends
};

// The sensor and the kind of a tessaron topic: "devices", "status" or
// "channels"; false for any other topic or a sensor name that is not valid.
bool SplitTopic(const std::string& topic, std::string* sensor, std::string* kind);

}  // namespace tessaron_ui

#endif  // TESSARON_UI_MQTT_FEED_H
