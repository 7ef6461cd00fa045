// A live daemon that hears nothing says so: after 10 s, then once a minute.
#include "silence_monitor.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "host_clock.h"
#include "subband_analyser_class.h"

namespace {

using ::testing::HasSubstr;

timeval At(long sec, long usec = 0) {
    return timeval{sec, usec};
}

TEST(SilenceMonitor, WarnsAfterTenSecondsThenEveryMinute) {
    SilenceMonitor monitor("0.0.0.0:10000", At(100));
    EXPECT_EQ(monitor.Check(At(109, 999999)), "");
    const std::string first = monitor.Check(At(110));
    EXPECT_THAT(first, HasSubstr("no spectrum datagram received on 0.0.0.0:10000 for 10 s"));
    EXPECT_THAT(first, HasSubstr("tessaron-producer"));
    EXPECT_EQ(monitor.Check(At(111)), "");
    EXPECT_EQ(monitor.Check(At(169)), "");
    EXPECT_THAT(monitor.Check(At(170)), HasSubstr("for 70 s"));
    EXPECT_EQ(monitor.Check(At(171)), "");
    // A loop that slept through several minutes warns once, then keeps the
    // minute rhythm.
    EXPECT_THAT(monitor.Check(At(400)), HasSubstr("for 300 s"));
    EXPECT_EQ(monitor.Check(At(409)), "");
    EXPECT_THAT(monitor.Check(At(410)), HasSubstr("for 310 s"));
}

TEST(SilenceMonitor, ADatagramStartsTheCountAgain) {
    SilenceMonitor monitor("127.0.0.1:9", At(100));
    EXPECT_NE(monitor.Check(At(110)), "");
    monitor.OnDatagram(At(115));
    EXPECT_EQ(monitor.Check(At(124)), "");
    EXPECT_THAT(monitor.Check(At(125)), HasSubstr("for 10 s"));
    // A host clock set back is not a silence.
    monitor.OnDatagram(At(200));
    EXPECT_EQ(monitor.Check(At(50)), "");
    EXPECT_EQ(monitor.Check(At(59)), "");
    EXPECT_NE(monitor.Check(At(60)), "");
}

std::atomic<long> fake_seconds{1000};

void FakeClock(timeval* now) {
    *now = At(fake_seconds.load());
}

TEST(SilenceMonitor, TheReceiveLoopWarnsOnceWhileNothingArrives) {
    SubBandAnalyser analyser("output.txt", 1000,
                             std::string(TESSARON_SOURCE_DIR) + "/data/signatures.txt", 65535);
    sockaddr_in listen = {};
    listen.sin_family = AF_INET;
    listen.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    listen.sin_port = 0;  // any free port
    analyser.SetListenAddress(listen);
    fake_seconds = 1000;
    SetHostClock(FakeClock);
    SubBandAnalyser::ClearStop();
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    std::thread loop([&analyser] { analyser.ReadDataFromNetwork(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * CONST_SILENCE_POLL_MS));
    fake_seconds = 1012;
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * CONST_SILENCE_POLL_MS));
    SubBandAnalyser::RequestStop();
    loop.join();
    SubBandAnalyser::ClearStop();
    ResetHostClock();
    testing::internal::GetCapturedStdout();
    const std::string warnings = testing::internal::GetCapturedStderr();
    EXPECT_THAT(warnings, HasSubstr("no spectrum datagram received on 127.0.0.1:0 for 12 s"));
    EXPECT_EQ(warnings.find("no spectrum datagram", warnings.find("for 12 s")), std::string::npos)
        << warnings;
}

}  // namespace
