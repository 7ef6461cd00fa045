// A real mosquitto broker on a free loopback port, started and stopped by the
// test, and a subscriber that collects what it carries.
#ifndef TESSARON_TESTS_OUTPUTS_BROKER_H
#define TESSARON_TESTS_OUTPUTS_BROKER_H

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

inline int FreeTcpPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    socklen_t len = sizeof(addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

inline bool CanConnect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    close(fd);
    return ok;
}

class TestBroker {
public:
    explicit TestBroker(int port = FreeTcpPort()) : port_(port) {}
    ~TestBroker() { Stop(); }

    int port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

    bool Start() {
        config_ = "/tmp/tessaron-broker-" + std::to_string(getpid()) + "-" + std::to_string(port_) +
                  ".conf";
        std::ofstream(config_) << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\n";
        pid_ = fork();
        if (pid_ == 0) {
            // Debian puts the broker in /usr/sbin, outside most users' PATH.
            if (access("/usr/sbin/mosquitto", X_OK) == 0) {
                execl("/usr/sbin/mosquitto", "mosquitto", "-c", config_.c_str(),
                      static_cast<char*>(nullptr));
            }
            execlp("mosquitto", "mosquitto", "-c", config_.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 500; ++i) {
            if (CanConnect(port_)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Ends the broker at once, as a crash would.
    void Kill() { End(SIGKILL); }
    void Stop() { End(SIGTERM); }

private:
    void End(int signal) {
        if (pid_ > 0) {
            kill(pid_, signal);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            std::remove(config_.c_str());
        }
    }

    int port_;
    pid_t pid_ = -1;
    std::string config_;
};

struct MqttMessage {
    std::string topic;
    std::string payload;
    bool retained = false;
};

class TopicCollector {
public:
    TopicCollector() {
        mosquitto_lib_init();
        client_ = mosquitto_new(nullptr, true, this);
        mosquitto_message_callback_set(client_, &TopicCollector::OnMessage);
        mosquitto_connect_callback_set(client_, &TopicCollector::OnConnect);
        mosquitto_subscribe_callback_set(client_, &TopicCollector::OnSubscribe);
    }
    ~TopicCollector() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }

    bool Subscribe(int port, const std::string& pattern) {
        pattern_ = pattern;
        if (mosquitto_connect(client_, "127.0.0.1", port, 10) != MOSQ_ERR_SUCCESS) {
            return false;
        }
        mosquitto_loop_start(client_);
        return WaitFor([this] { return subscribed_; }, 5000);
    }

    void Publish(const std::string& topic, const std::string& payload) {
        mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), 1, false);
    }

    std::vector<MqttMessage> Messages() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

    bool WaitFor(const std::function<bool()>& done, int timeout_ms) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), done);
    }

    // Waits until a message satisfies `match`.
    bool WaitForMessage(const std::function<bool(const MqttMessage&)>& match, int timeout_ms) {
        return WaitFor(
            [&] {
                for (const MqttMessage& m : messages_) {
                    if (match(m)) {
                        return true;
                    }
                }
                return false;
            },
            timeout_ms);
    }

private:
    static void OnConnect(mosquitto* client, void* self, int) {
        auto* me = static_cast<TopicCollector*>(self);
        mosquitto_subscribe(client, nullptr, me->pattern_.c_str(), 1);
    }
    static void OnSubscribe(mosquitto*, void* self, int, int, const int*) {
        auto* me = static_cast<TopicCollector*>(self);
        std::lock_guard<std::mutex> lock(me->mutex_);
        me->subscribed_ = true;
        me->changed_.notify_all();
    }
    static void OnMessage(mosquitto*, void* self, const mosquitto_message* m) {
        auto* me = static_cast<TopicCollector*>(self);
        std::lock_guard<std::mutex> lock(me->mutex_);
        me->messages_.push_back(
            {m->topic,
             std::string(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen)),
             m->retain});
        me->changed_.notify_all();
    }

    mosquitto* client_ = nullptr;
    std::string pattern_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool subscribed_ = false;
    std::vector<MqttMessage> messages_;
};

#endif
