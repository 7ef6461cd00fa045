#include "channel_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "host_clock.h"
#include "tessaron_main.h"
#include "ui_event_listener.h"

namespace {

using ::testing::HasSubstr;

const char kChannelPrefix[] = "iwconfig wlan1 channel ";
const char kReset[] = "ifconfig wlan1 down; ifconfig wlan1 up";

class ChannelManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ChannelManager::InitializeDefaultInterface();
        ChannelManager::SetShellRunner([this](const std::string& cmd, std::string* output) {
            commands.push_back(cmd);
            if (output != nullptr) {
                *output = survey_output;
                return survey_status;
            }
            return 0;
        });
        ChannelManager::SetSleeper([this](unsigned usec) { sleeps.push_back(usec); });
        FakeHostClock::Install(1000);
        ExternalInterface::InitSocket(listener.address());
    }

    // The channels set, in order, with -1 marking an interface reset.
    std::vector<int> ChannelsAndResets() const {
        std::vector<int> out;
        for (const std::string& cmd : commands) {
            if (cmd.rfind(kChannelPrefix, 0) == 0) {
                out.push_back(std::atoi(cmd.c_str() + sizeof(kChannelPrefix) - 1));
            } else if (cmd == kReset) {
                out.push_back(-1);
            }
        }
        return out;
    }

    std::vector<std::string> commands;
    std::vector<unsigned> sleeps;
    std::string survey_output;
    int survey_status = 0;
    UiEventListener listener;
};

TEST_F(ChannelManagerTest, DefaultAndNamedDeviceCommands) {
    EXPECT_EQ(ChannelManager::ChanSurveyCommand(),
              "cat /sys/kernel/debug/ieee80211/phy1/ath9k_htc/get_survey_stats > /dev/null");
    EXPECT_EQ(ChannelManager::StartScanCommand(),
              "cat /sys/kernel/debug/ieee80211/phy1/ath9k_htc/set_start_spectral_scan > /dev/null");
    EXPECT_EQ(ChannelManager::EndScanCommand(),
              "cat /sys/kernel/debug/ieee80211/phy1/ath9k_htc/stop_spectral_scan > /dev/null");
    EXPECT_EQ(ChannelManager::ChannelUtilCommand(),
              "cat /sys/kernel/debug/ieee80211/phy1/ath9k_htc/get_survey_stats");
    ChannelManager::UpdateInterfaceInformation("phy0", "wlan0");
    EXPECT_EQ(ChannelManager::StartScanCommand(),
              "cat /sys/kernel/debug/ieee80211/phy0/ath9k_htc/set_start_spectral_scan > /dev/null");
    EXPECT_EQ(ChannelManager::ChannelUtilCommand(),
              "cat /sys/kernel/debug/ieee80211/phy0/ath9k_htc/get_survey_stats");
    // The longest name that fits leaves every command whole.
    const std::string longest(221, 'p');
    ChannelManager::UpdateInterfaceInformation(longest, "wlan0");
    EXPECT_EQ(ChannelManager::StartScanCommand(),
              "cat /sys/kernel/debug/ieee80211/" + longest +
                  "/ath9k_htc/set_start_spectral_scan > /dev/null");
}

TEST_F(ChannelManagerTest, PhyDeviceNamesThatWouldOverflowOrRunShellTextAreRefused) {
    EXPECT_TRUE(ChannelManager::IsValidPhyDevice("phy0"));
    EXPECT_TRUE(ChannelManager::IsValidPhyDevice("phy-1_a.b"));
    EXPECT_TRUE(ChannelManager::IsValidPhyDevice(std::string(221, 'x')));
    EXPECT_FALSE(ChannelManager::IsValidPhyDevice(std::string(222, 'x')));
    EXPECT_FALSE(ChannelManager::IsValidPhyDevice(""));
    EXPECT_FALSE(ChannelManager::IsValidPhyDevice("phy0; reboot"));
    EXPECT_FALSE(ChannelManager::IsValidPhyDevice("phy$(id)"));
    EXPECT_FALSE(ChannelManager::IsValidPhyDevice("phy0/x"));
    EXPECT_FALSE(ChannelManager::IsValidPhyDevice(".."));
    testing::internal::CaptureStderr();
    ChannelManager::UpdateInterfaceInformation("phy0`x`", "wlan0");
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("phy device"));
    EXPECT_EQ(ChannelManager::StartScanCommand(),
              "cat /sys/kernel/debug/ieee80211/phy1/ath9k_htc/set_start_spectral_scan > /dev/null");
}

TEST_F(ChannelManagerTest, ThreadStepsThroughTheSequenceScanningAfterEachChange) {
    testing::internal::CaptureStdout();
    ChannelManager::ThreadStartStep();
    for (int i = 0; i < 7; ++i) {
        ChannelManager::ThreadLoopStep();
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(ChannelsAndResets(), (std::vector<int>{-1, 1, 3, 6, 7, 9, 11, 1, 3}));
    const std::string start = ChannelManager::StartScanCommand();
    const std::string end = ChannelManager::EndScanCommand();
    const std::string util = ChannelManager::ChannelUtilCommand();
    ASSERT_GE(commands.size(), 8u);
    EXPECT_EQ(commands[0], kReset);
    EXPECT_EQ(commands[1], end);
    EXPECT_EQ(commands[2], "iwconfig wlan1 channel 1");
    EXPECT_EQ(std::vector<std::string>(commands.begin() + 3, commands.begin() + 7),
              (std::vector<std::string>{"iwconfig wlan1 channel 3", start, end, util}));
    EXPECT_EQ(sleeps.size(), 14u);
    EXPECT_EQ(sleeps[0], 0u);
    EXPECT_EQ(sleeps[1], 410000u);
}

TEST_F(ChannelManagerTest, InterfaceResetsOnThe36thReturnToChannel1) {
    testing::internal::CaptureStdout();
    ChannelManager::ThreadStartStep();
    std::vector<int> reset_steps;
    for (int step = 1; step <= 6 * 72; ++step) {
        const size_t before = commands.size();
        ChannelManager::ThreadLoopStep();
        for (size_t i = before; i < commands.size(); ++i) {
            if (commands[i] == kReset) {
                reset_steps.push_back(step);
                // Right before channel 1 is set.
                ASSERT_LT(i + 1, commands.size());
                EXPECT_EQ(commands[i + 1], "iwconfig wlan1 channel 1");
            }
        }
    }
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(reset_steps, (std::vector<int>{216, 432}));
    EXPECT_EQ(ChannelManager::ResetCount(), 0);
    EXPECT_EQ(ChannelManager::CurrentChannelCount(), 0);
}

TEST_F(ChannelManagerTest, TheNamedInterfaceIsTheOneDriven) {
    ChannelManager::UpdateInterfaceInformation("phy0", "wlan0");
    testing::internal::CaptureStdout();
    ChannelManager::ThreadStartStep();
    for (int step = 0; step < 6 * 36; ++step) {
        ChannelManager::ThreadLoopStep();
    }
    testing::internal::GetCapturedStdout();
    int resets = 0;
    int channel_changes = 0;
    for (const std::string& cmd : commands) {
        EXPECT_EQ(cmd.find("wlan1"), std::string::npos) << cmd;
        resets += cmd == "ifconfig wlan0 down; ifconfig wlan0 up" ? 1 : 0;
        channel_changes += cmd.rfind("iwconfig wlan0 channel ", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(resets, 2);  // at start and on the 36th return to channel 1
    EXPECT_EQ(channel_changes, 1 + 6 * 36);

    // A name that could carry shell text is refused; without a name the
    // card is wlan1 as before.
    EXPECT_TRUE(ChannelManager::IsValidInterfaceName("wlp2s0"));
    EXPECT_TRUE(ChannelManager::IsValidInterfaceName(std::string(15, 'w')));
    for (const std::string& bad :
         std::vector<std::string>{"", "wlan0;reboot", "$(id)", "-x", "..", std::string(16, 'w')}) {
        EXPECT_FALSE(ChannelManager::IsValidInterfaceName(bad)) << bad;
    }
    commands.clear();
    testing::internal::CaptureStderr();
    ChannelManager::UpdateInterfaceInformation("phy0", "wlan0 down; reboot");
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("interface name refused"));
    ChannelManager::SetChannel(6);
    ChannelManager::InitializeDefaultInterface();
    ChannelManager::SetChannel(11);
    EXPECT_EQ(commands,
              (std::vector<std::string>{"iwconfig wlan1 channel 6", "iwconfig wlan1 channel 11"}));
}

TEST_F(ChannelManagerTest, FailingCardCommandsAreReportedOnceEachWithTheCommand) {
    // A machine without the driver's debug files or the wireless tools.
    ChannelManager::SetShellRunner([this](const std::string& cmd, std::string*) {
        commands.push_back(cmd);
        return cmd.find("iwconfig") != std::string::npos ? 127 << 8 : 1 << 8;
    });
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    ChannelManager::ThreadStartStep();
    for (int step = 0; step < 12; ++step) {
        ChannelManager::ThreadLoopStep();
    }
    const std::string warnings = testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    std::vector<std::string> lines;
    std::istringstream in(warnings);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    // Reset, stop scan, channel change, start scan, survey: one line each.
    ASSERT_EQ(lines.size(), 5u) << warnings;
    EXPECT_THAT(warnings, HasSubstr("\"" + std::string(kReset) + "\" failed (exit status 1)"));
    EXPECT_THAT(warnings, HasSubstr("\"iwconfig wlan1 channel 1\" failed (exit status 127)"));
    EXPECT_THAT(warnings, HasSubstr("\"" + ChannelManager::StartScanCommand() + "\" failed"));
    EXPECT_THAT(warnings, HasSubstr("\"" + ChannelManager::ChannelUtilCommand() + "\" failed"));
    // After its first failure a command's own error output is discarded.
    EXPECT_EQ(commands[2], "iwconfig wlan1 channel 1");
    EXPECT_EQ(commands.back(), "{ " + ChannelManager::ChannelUtilCommand() + "; } 2>/dev/null");
}

TEST_F(ChannelManagerTest, ResetLinesShowElapsedMicrosecondsWithoutWrapping) {
    testing::internal::CaptureStdout();
    ChannelManager::ThreadStartStep();
    FakeHostClock::Set(1000 + 7200, 5);
    ChannelManager::ResetInterface();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Time: 0 Resetting the card....\nTime: 0 Resetting done....\n"
              "Time: 7200000005 Resetting the card....\nTime: 7200000005 Resetting done....\n");
}

TEST_F(ChannelManagerTest, SurveyEventCarriesTheTextWithoutItsLastLineEnd) {
    survey_output = "a\nb\n";
    ChannelManager::SendChannelUtilizationInfo();
    survey_output = "";
    FakeHostClock::Set(1001);
    ChannelManager::SendChannelUtilizationInfo();
    survey_status = -1;  // the survey command could not be started
    ChannelManager::SendChannelUtilizationInfo();
    const std::vector<std::string> events = listener.Drain();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0],
              "event: channel_util_info\r\n"
              "data: { \"channel_util_str\": \"a\nb\", \"timestamp\": 1000}\r\n\n");
    EXPECT_EQ(events[1],
              "event: channel_util_info\r\n"
              "data: { \"channel_util_str\": \"\", \"timestamp\": 1001}\r\n\n");
    EXPECT_EQ(commands.back(), ChannelManager::ChannelUtilCommand());
}

TEST_F(ChannelManagerTest, DefaultRunnerReadsTheCommandOutputThroughThePipe) {
    ChannelManager::SetShellRunner(nullptr);
    ChannelManager::UpdateInterfaceInformation("tessaron-test-no-such-phy", "wlan0");
    testing::internal::CaptureStderr();
    ChannelManager::SendChannelUtilizationInfo();
    testing::internal::GetCapturedStderr();
    const std::vector<std::string> events = listener.Drain(2000);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0],
              "event: channel_util_info\r\n"
              "data: { \"channel_util_str\": \"\", \"timestamp\": 1000}\r\n\n");
}

TEST(ChannelThreadTest, SleepSwitchChannelStartsTheThreadAndReturns) {
    EXPECT_EXIT(
        {
            static std::mutex mu;
            static std::condition_variable cv;
            static std::vector<std::string> seen;
            ChannelManager::InitializeDefaultInterface();
            ChannelManager::SetShellRunner([](const std::string& cmd, std::string*) {
                std::lock_guard<std::mutex> lock(mu);
                seen.push_back(cmd);
                cv.notify_all();
                return -1;
            });
            ChannelManager::SetSleeper([](unsigned) {});
            ChannelManager::SleepSwitchChannel();
            std::cout << std::flush;
            std::unique_lock<std::mutex> lock(mu);
            cv.wait_for(lock, std::chrono::seconds(10), [] { return seen.size() >= 4; });
            std::cerr << "first: " << seen[0] << " | " << seen[2] << std::endl;
            _exit(0);
        },
        ::testing::ExitedWithCode(0),
        "first: ifconfig wlan1 down; ifconfig wlan1 up \\| iwconfig wlan1 channel 1");
}

// At shutdown the daemon stops the thread before its globals are destroyed:
// once StopSwitchingChannels returns, no card command runs any more.
TEST(ChannelThreadTest, StopEndsTheThreadAndNoCommandRunsAfterIt) {
    EXPECT_EXIT(
        {
            static std::atomic<int> calls{0};
            ChannelManager::InitializeDefaultInterface();
            ChannelManager::SetShellRunner([](const std::string&, std::string*) {
                calls++;
                return 0;
            });
            ChannelManager::SetSleeper([](unsigned) { usleep(50); });
            ChannelManager::SleepSwitchChannel();
            for (int i = 0; i < 100000 && calls < 20; i++) {
                usleep(50);
            }
            ChannelManager::StopSwitchingChannels();
            const int at_stop = calls;
            usleep(20000);
            std::cerr << (calls == at_stop && at_stop >= 20 ? "stopped" : "still running")
                      << std::endl;
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "stopped");
}

}  // namespace
