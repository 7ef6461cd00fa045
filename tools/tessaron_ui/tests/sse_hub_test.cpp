#include "sse_hub.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace tessaron_ui {
namespace {

using std::chrono::milliseconds;

TEST(SseMessageTest, RelaysWellFramedDatagramsByteForByte) {
    const std::string devices =
        "event: devices\r\ndata: { \"dev\": [\"1\",\"Bluetooth\",\"1\",\"7\",\"6\",\"-60.00\","
        "\"0\",\"Freq Hopper\",\"1\"]}\n\n";
    const std::string channel =
        "event: channel\r\ndata:{ \"ch\": [1,2],\"timestamp\":5,"
        "\"freq\": 2412.00}\r\n\n";
    EXPECT_EQ(devices, SseMessage(devices, "devices"));
    EXPECT_EQ(channel, SseMessage(channel, "channel"));
}

TEST(SseMessageTest, PrefixesEveryLineOfAMultiLineSurvey) {
    const std::string util =
        "event: channel_util_info\r\ndata: { \"channel_util_str\": \"busy 1\r\n\n"
        "event: devices\r\n rx 2\", \"timestamp\": 9}\r\n\n";
    EXPECT_EQ(
        "event: channel_util_info\n"
        "data: { \"channel_util_str\": \"busy 1\n"
        "data: \n"
        "data: event: devices\n"
        "data:  rx 2\", \"timestamp\": 9}\n\n",
        SseMessage(util, "channel_util_info"));
}

TEST(SseHubTest, ASlowClientLosesItsOldestTextsAndNobodyWaits) {
    SseHub hub(100, 4);
    auto slow = hub.Subscribe();
    auto quick = hub.Subscribe();
    ASSERT_TRUE(slow && quick);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000; ++i) {
        hub.Publish("message " + std::to_string(1000 + i) + "\n\n");  // 14 bytes each
        if (i % 5 == 4) {
            std::vector<std::string> got;
            ASSERT_TRUE(quick->Take(milliseconds(0), &got));
            EXPECT_EQ(5u, got.size());
        }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    std::vector<std::string> got;
    ASSERT_TRUE(slow->Take(milliseconds(0), &got));
    ASSERT_EQ(7u, got.size());  // 7 x 14 bytes fit in 100
    EXPECT_EQ("message 1993\n\n", got.front());
    EXPECT_EQ("message 1999\n\n", got.back());
    EXPECT_EQ(993u, slow->dropped());
    EXPECT_EQ(0u, quick->dropped());
    hub.Unsubscribe(slow);
    EXPECT_EQ(993u, hub.DroppedCount());
    EXPECT_EQ(1u, hub.ClientCount());
}

TEST(SseHubTest, LimitsClientsAndWakesThemAtShutdown) {
    SseHub hub(1024, 2);
    auto a = hub.Subscribe();
    auto b = hub.Subscribe();
    EXPECT_EQ(nullptr, hub.Subscribe());
    hub.Unsubscribe(b);
    b = hub.Subscribe();
    ASSERT_NE(nullptr, b);

    bool still_open = true;
    std::thread waiter([&] {
        std::vector<std::string> got;
        still_open = a->Take(milliseconds(10000), &got);
    });
    std::this_thread::sleep_for(milliseconds(50));
    const auto start = std::chrono::steady_clock::now();
    hub.Shutdown();
    waiter.join();
    EXPECT_FALSE(still_open);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(nullptr, hub.Subscribe());
}

}  // namespace
}  // namespace tessaron_ui
