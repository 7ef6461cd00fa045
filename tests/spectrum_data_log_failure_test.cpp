// Log files that cannot be written, or whose disk is full, cost their lines
// and one warning on stderr, never the analysis.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "channel_visit.h"
#include "temp_path.h"
#include "tessaron_main.h"

using ::testing::HasSubstr;

namespace {

class LogFailureTest : public testing::Test {};

}  // namespace

TEST_F(LogFailureTest, FullDiskIsReportedOnceUntilAWriteSucceeds) {
    testing::internal::CaptureStderr();
    AppendToLogFile("/dev/full", "SPECTRUM 1\n");
    AppendToLogFile("/dev/full", "SPECTRUM 2\n");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err,
              "Warning... cannot write to log file /dev/full (No space left on device); its lines "
              "are dropped\n");
}

TEST_F(LogFailureTest, UnopenableLogWarnsOnceAndOthersStillWork) {
    const std::string bad = "/nonexistent-dir/energy.log";
    const std::string good = TestTempPath("log_failure_good.log");
    std::remove(good.c_str());
    testing::internal::CaptureStderr();
    AppendToLogFile(bad, "a\n");
    AppendToLogFile(bad, "b\n");
    AppendToLogFile(good, "kept\n");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err,
              "Warning... cannot open log file " + bad + " for appending; its lines are dropped\n");
    std::ifstream in(good);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "kept");
    std::remove(good.c_str());
}

TEST_F(LogFailureTest, DeviceLogOnAFullDiskWarnsThroughTheOutputLog) {
    testing::internal::CaptureStdout();
    ExternalInterface::UpdateLogFileName("/dev/full");
    testing::internal::CaptureStderr();
    ExternalInterface::WriteToLogfile("fhss inactive gt: FreqHop: 1\n");
    const std::string err = testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    EXPECT_THAT(err, HasSubstr("cannot write to log file /dev/full"));
}
