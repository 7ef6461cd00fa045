#include "mqtt_feed.h"

#include <mosquitto.h>

#include <chrono>
#include <fstream>
#include <iostream>

#include "event_json.h"

namespace tessaron_ui {

namespace {

const char* const kTopics[] = {"tessaron/+/devices", "tessaron/+/channels/+", "tessaron/+/status"};

}  // namespace

bool SplitTopic(const std::string& topic, std::string* sensor, std::string* kind) {
    static const std::string kRoot = "tessaron/";
    if (topic.compare(0, kRoot.size(), kRoot) != 0) {
        return false;
    }
    const size_t slash = topic.find('/', kRoot.size());
    if (slash == std::string::npos) {
        return false;
    }
    *sensor = topic.substr(kRoot.size(), slash - kRoot.size());
    const std::string rest = topic.substr(slash + 1);
    if (rest == "devices" || rest == "status") {
        *kind = rest;
    } else if (rest.compare(0, 9, "channels/") == 0 && rest.size() > 9 &&
               rest.find('/', 9) == std::string::npos) {
        *kind = "channels";
    } else {
        return false;
    }
    return IsValidSensorName(*sensor);
}

MqttFeed::MqttFeed(const UiOptions& options, Handler handler)
    : options_(options), handler_(std::move(handler)) {}

MqttFeed::~MqttFeed() {
    Stop();
    if (client_ != nullptr) {
        mosquitto_destroy(client_);
        mosquitto_lib_cleanup();
    }
}

bool MqttFeed::Start(std::string* error) {
    mosquitto_lib_init();
    client_ = mosquitto_new(nullptr, true, this);
    if (client_ == nullptr) {
        *error = "MQTT: cannot create the client";
        return false;
    }
    mosquitto_connect_callback_set(client_, &MqttFeed::OnConnect);
    mosquitto_message_callback_set(client_, &MqttFeed::OnMessage);
    mosquitto_reconnect_delay_set(client_, 1, 3, false);
    int rc = MOSQ_ERR_SUCCESS;
    if (!options_.mqtt_user.empty()) {
        std::string password;
        if (!options_.mqtt_password_file.empty()) {
            std::ifstream in(options_.mqtt_password_file);
            if (!in || !std::getline(in, password)) {
                *error = "cannot read the MQTT password from '" + options_.mqtt_password_file + "'";
                return false;
            }
        }
        rc = mosquitto_username_pw_set(client_, options_.mqtt_user.c_str(),
                                       password.empty() ? nullptr : password.c_str());
    }
    if (rc == MOSQ_ERR_SUCCESS && !options_.mqtt_ca_file.empty()) {
        rc = mosquitto_tls_set(client_, options_.mqtt_ca_file.c_str(), nullptr, nullptr, nullptr,
                               nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        *error = std::string("MQTT: ") + mosquitto_strerror(rc);
        return false;
    }
    running_ = true;
    // A broker whose port is closed fails the first attempt at once, and
    // libmosquitto's thread only retries connections it has made: until one
    // is under way, this thread keeps trying.
    connector_ = std::thread([this] {
        std::unique_lock<std::mutex> lock(mutex_);
        bool warned = false;
        while (!stopping_) {
            if (mosquitto_connect_async(client_, options_.mqtt.host.c_str(), options_.mqtt.port,
                                        30) == MOSQ_ERR_SUCCESS &&
                mosquitto_loop_start(client_) == MOSQ_ERR_SUCCESS) {
                loop_started_ = true;
                return;
            }
            if (!warned) {
                warned = true;
                std::cerr << "tessaron-ui: warning: MQTT broker " << options_.mqtt.host << ":"
                          << options_.mqtt.port << " not reachable yet; retrying\n";
            }
            wake_.wait_for(lock, std::chrono::seconds(2), [this] { return stopping_; });
        }
    });
    return true;
}

void MqttFeed::Stop() {
    if (!running_) {
        return;
    }
    running_ = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    connector_.join();
    if (loop_started_) {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, true);
    }
}

void MqttFeed::OnConnect(mosquitto* client, void*, int rc) {
    if (rc != 0) {
        std::cerr << "tessaron-ui: MQTT broker refused the connection: "
                  << mosquitto_connack_string(rc) << "\n";
        return;
    }
    for (const char* topic : kTopics) {
        mosquitto_subscribe(client, nullptr, topic, 0);
    }
}

void MqttFeed::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    if (message == nullptr || message->topic == nullptr || message->payloadlen < 0) {
        return;
    }
    const std::string payload(static_cast<const char*>(message->payload),
                              static_cast<size_t>(message->payloadlen));
    static_cast<MqttFeed*>(self)->handler_(message->topic, payload);
}

}  // namespace tessaron_ui
