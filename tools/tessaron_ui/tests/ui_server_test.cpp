#include "ui_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

namespace tessaron_ui {
namespace {

const char kBluetooth[] =
    "event: devices\r\ndata: { \"dev\": [\"1\",\"Bluetooth_Streaming\",\"1700000000\","
    "\"1700000006\",\"6\",\"-58.00\",\"0\",\"Freq Hopper\",\"1\"]}\n\n";

// A page directory with a marker index.html, removed afterwards.
class PageDir {
public:
    PageDir() {
        char templ[] = "/tmp/tessaron-ui-test-XXXXXX";
        path_ = mkdtemp(templ);
        std::ofstream(path_ + "/index.html") << "<title>marker page</title>";
    }
    ~PageDir() {
        std::remove((path_ + "/index.html").c_str());
        rmdir(path_.c_str());
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class UiServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        UiOptions options;
        options.udp = {"127.0.0.1", 0};
        options.http = {"127.0.0.1", 0};
        options.ui_dir = page_.path();
        server_.reset(new UiServer(options));
        std::string error;
        ASSERT_TRUE(server_->Start(&error)) << error;
        send_fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        std::memset(&to_, 0, sizeof(to_));
        to_.sin_family = AF_INET;
        to_.sin_port = htons(server_->udp_port());
        to_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    void TearDown() override {
        close(send_fd_);
        server_->Stop();
    }
    void Send(const std::string& text) {
        sendto(send_fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to_),
               sizeof(to_));
    }
    // Waits until the server has counted n datagrams.
    bool WaitForDatagrams(std::uint64_t n) {
        for (int i = 0; i < 1000; ++i) {
            if (server_->state().Counters().datagrams >= n) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    std::string Get(const std::string& path, int* status = nullptr) {
        httplib::Client client("127.0.0.1", server_->http_port());
        auto res = client.Get(path.c_str());
        if (!res) {
            return "<no response>";
        }
        if (status != nullptr) {
            *status = res->status;
        }
        return res->body;
    }

    PageDir page_;
    std::unique_ptr<UiServer> server_;
    int send_fd_ = -1;
    sockaddr_in to_{};
};

TEST_F(UiServerTest, ServesThePageAndSnapshotsOfWhatArrived) {
    int status = 0;
    EXPECT_NE(std::string::npos, Get("/", &status).find("marker page"));
    EXPECT_EQ(200, status);
    Get("/no-such-file", &status);
    EXPECT_EQ(404, status);

    Send(kBluetooth);
    Send("event: devices\r\ndata: { \"dev\": [\"1\",\"Broken\"]}\n\n");
    Send(std::string(kMaxDatagramBytes + 1, 'x'));
    ASSERT_TRUE(WaitForDatagrams(3));

    using nlohmann::json;
    const json devices = json::parse(Get("/api/devices"));
    ASSERT_EQ(devices["devices"].size(), 1u);
    EXPECT_EQ(devices["devices"][0]["class"], "Bluetooth_Streaming");
    EXPECT_EQ(devices["devices"][0]["kind"], "hopper");
    EXPECT_EQ(devices["devices"][0]["sensor"], "local");
    EXPECT_EQ(json::parse(Get("/api/channels"))["quality"].size(), 13u);
    EXPECT_EQ(json::parse(Get("/api/sensors"))["sensors"][0]["source"], "udp");
    const json stats = json::parse(Get("/api/stats"));
    EXPECT_EQ(stats["malformed"], 1);
    EXPECT_EQ(stats["oversized"], 1);
    const std::string metrics = Get("/metrics", &status);
    EXPECT_EQ(200, status);
    EXPECT_NE(metrics.find("tessaron_ui_datagrams_received_total 3\n"), std::string::npos);
    EXPECT_NE(metrics.find("tessaron_ui_datagrams_malformed_total 1\n"), std::string::npos);
    EXPECT_NE(metrics.find("tessaron_ui_datagrams_dropped_total 1\n"), std::string::npos);
    EXPECT_NE(
        metrics.find("tessaron_active_devices{sensor=\"local\",class=\"Bluetooth_Streaming\"} 1"),
        std::string::npos)
        << metrics;
}

TEST_F(UiServerTest, StreamsEachEventAsTheFeedsJson) {
    std::string received;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        httplib::Client client("127.0.0.1", server_->http_port());
        client.set_read_timeout(5, 0);
        client.Get("/events", [&](const char* data, size_t len) {
            received.append(data, len);
            done = received.find("}\n\n", received.find("event: device\n")) != std::string::npos;
            return !done;
        });
        done = true;
    });
    for (int i = 0; i < 500 && server_->hub().ClientCount() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(1u, server_->hub().ClientCount());
    Send("event: nonsense\r\ndata: {}\n\n");  // not relayed
    Send(kBluetooth);
    reader.join();
    EXPECT_EQ(0u, received.find("retry: 2000\n"));
    EXPECT_EQ(std::string::npos, received.find("nonsense"));
    const size_t data = received.find("event: device\ndata: ");
    ASSERT_NE(std::string::npos, data) << received;
    const size_t begin = data + 20;
    const auto event =
        nlohmann::json::parse(received.substr(begin, received.find('\n', begin) - begin));
    EXPECT_EQ(event["class"], "Bluetooth_Streaming");
    EXPECT_EQ(event["sensor"], "local");
    EXPECT_EQ(event["first_seen"], 1700000000);
}

TEST_F(UiServerTest, ABrowserThatNeverReadsDoesNotHoldUpTheReader) {
    // A raw connection that asks for the stream and then reads nothing.
    const int stalled = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in http{};
    http.sin_family = AF_INET;
    http.sin_port = htons(server_->http_port());
    http.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(0, connect(stalled, reinterpret_cast<sockaddr*>(&http), sizeof(http)));
    const int small = 4096;
    setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
    const std::string request = "GET /events HTTP/1.1\r\nHost: x\r\n\r\n";
    ASSERT_EQ(static_cast<ssize_t>(request.size()),
              send(stalled, request.data(), request.size(), 0));
    for (int i = 0; i < 500 && server_->hub().ClientCount() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(1u, server_->hub().ClientCount());

    // About 14 MB of events, more than the socket buffers and the client
    // queue, sent in batches small enough for the UDP buffer: the reader must
    // take in every batch while the stalled stream holds its queue full.
    const int count = 10000;
    for (int i = 0; i < count; ++i) {
        Send(std::string("event: channel_util_info\r\ndata: { \"channel_util_str\": \"") +
             std::string(1400, 'u') + "\", \"timestamp\": " + std::to_string(i) + "}\r\n\n");
        if (i % 50 == 49) {
            ASSERT_TRUE(WaitForDatagrams(i + 1)) << "reader stuck after " << i + 1;
        }
    }
    int status = 0;
    const std::string stats = Get("/api/stats", &status);
    EXPECT_EQ(200, status);
    EXPECT_EQ(std::string::npos, stats.find("\"sse_dropped\":0,")) << stats;
    close(stalled);
}

TEST(UiOptionsTest, ReadsAddressesAndRejectsBadOnes) {
    UiOptions options;
    std::string error;
    ASSERT_TRUE(
        ParseUiOptions({"--udp", "127.0.0.1:5001", "--http", "localhost:0", "--ui-dir", "/srv/ui"},
                       &options, &error))
        << error;
    EXPECT_EQ(5001, options.udp.port);
    EXPECT_EQ("127.0.0.1", options.http.host);
    EXPECT_EQ(0, options.http.port);
    EXPECT_EQ("/srv/ui", options.ui_dir);

    UiOptions defaults;
    ASSERT_TRUE(ParseUiOptions({}, &defaults, &error));
    EXPECT_EQ("127.0.0.1", defaults.http.host);  // loopback unless asked
    EXPECT_EQ(8080, defaults.http.port);
    EXPECT_EQ(5000, defaults.udp.port);

    for (const char* bad : {"127.0.0.1", ":80", "127.0.0.1:", "127.0.0.1:65536", "host:80",
                            "127.0.0.1:8o", "1.2.3:80", "127.0.0.1:-1"}) {
        UiOptions o;
        EXPECT_FALSE(ParseUiOptions({"--http", bad}, &o, &error)) << bad;
    }
    UiOptions o;
    EXPECT_FALSE(ParseUiOptions({"--udp"}, &o, &error));
    EXPECT_FALSE(ParseUiOptions({"--bogus"}, &o, &error));
    EXPECT_FALSE(ParseUiOptions({"--sensor", "a/b"}, &o, &error));
    EXPECT_FALSE(ParseUiOptions({"--mqtt", "127.0.0.1:0"}, &o, &error));
    ASSERT_TRUE(ParseUiOptions({"--mqtt", "127.0.0.1:1883", "--sensor", "lab"}, &o, &error));
    EXPECT_EQ(1883, o.mqtt.port);
    EXPECT_EQ("lab", o.sensor);
}

}  // namespace
}  // namespace tessaron_ui
