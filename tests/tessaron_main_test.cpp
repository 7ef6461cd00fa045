#include "tessaron_main.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "channel_visit.h"
#include "temp_dir.h"
#include "temp_path.h"
#include "ui_event_listener.h"

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

int CountLines(const std::string& text) {
    int n = 0;
    for (char c : text) {
        n += c == '\n';
    }
    return n;
}

// Bin i at (60 + i).3 dB below 1 mW: the average is 60 + i after truncation.
std::vector<float> RampSpectrum() {
    std::vector<float> s(56);
    for (int i = 0; i < 56; ++i) {
        s[i] = 60.3f + static_cast<float>(i);
    }
    return s;
}

class ExternalInterfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ExternalInterface::InitSocket(listener.address());
        energy_path = TestTempPath("trk_energy_log.txt");
        std::remove(energy_path.c_str());
        ChannelVisit::SetEnergyLogFileName(energy_path);
    }
    void TearDown() override { std::remove(energy_path.c_str()); }

    // Feeds count spectra received on freq, the card clock advancing 1000 us each.
    void Feed(float freq, int count, const std::vector<float>& spectrum) {
        ap.curr_freq = freq;
        for (int i = 0; i < count; ++i) {
            ap.curr_time += 1000;
            ChannelVisit::AddSpectrum(spectrum, &ap);
        }
    }

    UiEventListener listener;
    AccessPoint ap{"local", 0, "ap"};
    std::string energy_path;
};

TEST_F(ExternalInterfaceTest, SendDataSendsExactlyTheTextAsOneDatagram) {
    ExternalInterface::SendData("event: x\r\ndata:{}\r\n\n");
    ExternalInterface::SendData("second");
    EXPECT_EQ(listener.Drain(), (std::vector<std::string>{"event: x\r\ndata:{}\r\n\n", "second"}));
}

TEST_F(ExternalInterfaceTest, SendWithoutSocketIsHarmless) {
    ExternalInterface::ResetForTests();
    ExternalInterface::SendData("lost");
    EXPECT_TRUE(listener.Drain(0).empty());
}

TEST_F(ExternalInterfaceTest, DefaultDestinationIsPort5000OnAnyAddress) {
    const sockaddr_in dest = ExternalInterface::DefaultUIDestination();
    EXPECT_EQ(dest.sin_family, AF_INET);
    EXPECT_EQ(ntohs(dest.sin_port), 5000);
    EXPECT_EQ(dest.sin_addr.s_addr, htonl(INADDR_ANY));
}

TEST_F(ExternalInterfaceTest, ChannelVisitIsReportedOnceWithItsAverage) {
    Feed(2437, 150, RampSpectrum());
    EXPECT_TRUE(listener.Drain(0).empty());
    Feed(2442, 1, RampSpectrum());

    std::string expected = "event: channel\r\ndata:{ \"ch\": [";
    for (int i = 0; i < 56; ++i) {
        expected += (i ? "," : "") + std::to_string(60 + i);
    }
    expected += "],\"timestamp\":151000,\"freq\": 2437.00}\r\n\n";
    EXPECT_EQ(listener.Drain(), std::vector<std::string>{expected});

    const std::string energy = ReadFile(energy_path);
    EXPECT_EQ(CountLines(energy), 1);
    EXPECT_NE(energy.find(" 151000 2437 149 0 "), std::string::npos);
    // The spectrum that changed the channel only restarted the average.
    EXPECT_EQ(ChannelVisit::SampleCount(), 0);
    EXPECT_EQ(ChannelVisit::Freq(), 2442.0f);
    EXPECT_EQ(ChannelVisit::Statistics().Sum().samples, 0);
}

TEST_F(ExternalInterfaceTest, ShortVisitsEndedByAChannelChangeAreDropped) {
    Feed(2437, 51, RampSpectrum());
    Feed(2442, 1, RampSpectrum());
    EXPECT_TRUE(listener.Drain(0).empty());
    EXPECT_EQ(ReadFile(energy_path), "");

    // 100 accumulated spectra are still too few, 101 are enough.
    Feed(2442, 100, RampSpectrum());
    Feed(2412, 1, RampSpectrum());
    EXPECT_TRUE(listener.Drain(0).empty());
    Feed(2412, 101, RampSpectrum());
    Feed(2462, 1, RampSpectrum());
    const std::vector<std::string> events = listener.Drain();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].find("\"freq\": 2412.00}"), std::string::npos);
}

TEST_F(ExternalInterfaceTest, LongVisitReportsEveryThousandAccumulatedSpectra) {
    // One spectrum restarts the average, 1000 fill it, the next reports and
    // restarts without being counted.
    Feed(2452, 1002, RampSpectrum());
    EXPECT_EQ(listener.Drain().size(), 1u);
    EXPECT_EQ(ChannelVisit::SampleCount(), 0);
    Feed(2452, 1000, RampSpectrum());
    EXPECT_TRUE(listener.Drain(0).empty());
    EXPECT_EQ(ChannelVisit::SampleCount(), 1000);
    Feed(2452, 1, RampSpectrum());
    const std::vector<std::string> events = listener.Drain();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].find("\"timestamp\":2003000,\"freq\": 2452.00}"), std::string::npos);
    const std::string energy = ReadFile(energy_path);
    EXPECT_EQ(CountLines(energy), 2);
    EXPECT_NE(energy.find(" 1002000 2452 1000 0 "), std::string::npos);
}

TEST_F(ExternalInterfaceTest, AverageIsTakenOverPowerNotDecibels) {
    std::vector<float> a(56, 80.5f), b(56, 80.5f);
    a[0] = 50.0f;
    b[0] = 70.0f;
    Feed(2437, 1, a);
    for (int i = 0; i < 75; ++i) {
        Feed(2437, 1, a);
        Feed(2437, 1, b);
    }
    Feed(2442, 1, a);
    const std::vector<std::string> events = listener.Drain();
    ASSERT_EQ(events.size(), 1u);
    // mean of 1e-5 and 1e-7 mW is -52.97 dBm, written truncated.
    EXPECT_TRUE(StartsWith(events[0], "event: channel\r\ndata:{ \"ch\": [52,80,")) << events[0];
}

TEST_F(ExternalInterfaceTest, MalformedSpectraAreDroppedOrClamped) {
    testing::internal::CaptureStderr();
    Feed(2437, 1, std::vector<float>(10, 60.0f));
    ChannelVisit::AddSpectrum(RampSpectrum(), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Warning"), std::string::npos);
    EXPECT_EQ(ChannelVisit::Freq(), 0.0f);

    // Without a set-up average, and with a bin so weak its power underflows.
    ExternalInterface::ResetForTests();
    ExternalInterface::InitSocket(listener.address());
    std::vector<float> s(56, 70.5f);
    s[3] = 1000.0f;
    Feed(2437, 200, s);
    Feed(2442, 1, s);
    const std::vector<std::string> events = listener.Drain();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(StartsWith(events[0], "event: channel\r\ndata:{ \"ch\": [70,70,70,2147483647,70,"))
        << events[0];
}

TEST_F(ExternalInterfaceTest, OutputLogAppendsAndEmptyNameStaysSilent) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ExternalInterface::WriteToLogfile("lost line\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "file_name: \n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    const std::string path = TestTempPath("trk_output_log.txt");
    std::remove(path.c_str());
    testing::internal::CaptureStdout();
    ExternalInterface::UpdateLogFileName(path);
    ChannelVisit::SetEnergyLogFileName("energy.txt");
    ExternalInterface::WriteToLogfile("one\n");
    ExternalInterface::WriteToLogfile("two\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Updating output log file name to: " + path +
                                                          "\nfile_name: " + path +
                                                          "\nfile_name: " + path + "\n");
    EXPECT_EQ(ReadFile(path), "one\ntwo\n");
    EXPECT_EQ(ChannelVisit::EnergyLogFileName(), "energy.txt");
    std::remove(path.c_str());
}

TEST_F(ExternalInterfaceTest, UnwritableLogIsReportedOnce) {
    ExternalInterface::outputLogFile = "/nonexistent-trk-dir/out.log";
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ExternalInterface::WriteToLogfile("a\n");
    ExternalInterface::WriteToLogfile("b\n");
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(CountLines(err), 1);
    EXPECT_NE(err.find("/nonexistent-trk-dir/out.log"), std::string::npos);
}

}  // namespace
