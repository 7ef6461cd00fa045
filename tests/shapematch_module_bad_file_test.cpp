// Signature files as a user may leave them: empty, without the analog phone
// or video camera, with words where numbers belong. Each is reported on
// stderr and whatever is usable is kept.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "shapematch_module.h"
#include "temp_path.h"

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

class BadSignatureFileTest : public testing::Test {
protected:
    void TearDown() override { std::remove(path_.c_str()); }
    // Parses `contents` from a file; returns what went to stderr.
    std::string Parse(const std::string& contents) {
        FILE* f = std::fopen(path_.c_str(), "w");
        std::fputs(contents.c_str(), f);
        std::fclose(f);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        ShapeMetrics::ParseSpecShape(path_);
        testing::internal::GetCapturedStdout();
        return testing::internal::GetCapturedStderr();
    }
    std::string path_ = TestTempPath("bad_signatures.txt");
};

}  // namespace

TEST_F(BadSignatureFileTest, EmptyFileNamesBothMissingDevices) {
    const std::string err = Parse("");
    EXPECT_TRUE(ShapeMetrics::shape_map.empty());
    EXPECT_THAT(err, HasSubstr("has no signature for device 1 ("));
    EXPECT_THAT(err, HasSubstr("has no signature for device 3 ("));
}

TEST_F(BadSignatureFileTest, MissingVideoCameraIsNamedAndThePhoneKept) {
    const std::string err = Parse("1 Phone 1 -1 1 -0.5,-0.7,-0.5\n");
    EXPECT_EQ(ShapeMetrics::shape_map.count(PULSE_ANALOGPHONE), 1u);
    EXPECT_THAT(err, Not(HasSubstr("device 1 (")));
    EXPECT_THAT(err, HasSubstr("has no signature for device 3 ("));
}

TEST_F(BadSignatureFileTest, WordsWhereNumbersBelongAreReportedWithTheirLine) {
    const std::string err = Parse(
        "# comment\n"
        "1 Phone one -1 1 -0.5,-0.7,-0.5\n"
        "3 Cam 1 -1 1 -0.5,x,-0.5\n"
        "3 Cam2 1 -1 1 -0.5,-0.7,-0.5\n");
    EXPECT_THAT(err, HasSubstr("line 2: \"one\" is not a number, read as 0"));
    EXPECT_THAT(err, HasSubstr("line 3: \"x\" is not a number, read as 0"));
    EXPECT_THAT(err, Not(HasSubstr("line 4")));
    // Read as 0 shapes, and as a 0 value: kept, as the numbers read.
    EXPECT_EQ(ShapeMetrics::shape_map.at(PULSE_ANALOGPHONE).num_shapes, 0);
    EXPECT_EQ(ShapeMetrics::shape_map.at(PULSE_VIDEOCAM).signature_list[0][1], 0.0f);
}

TEST_F(BadSignatureFileTest, ShortRecordIsReportedAndTheCountedShapesNeverRead) {
    const std::string err = Parse("3 Cam 4 -1 1 -0.5,-0.7,-0.5\n");
    EXPECT_THAT(err, HasSubstr("line 1: fewer tokens than the announced shapes need"));
    EXPECT_TRUE(ShapeMetrics::shape_map.empty());
}

// Found by fuzzing: an offset beyond int range saturates to INT_MIN, and the
// window arithmetic around the peak overflowed.
TEST(ShapeOffsets, HugeOffsetsNeitherOverflowNorReadOutsideTheShape) {
    const std::vector<float> spectrum(56, -90.0f);
    for (const char* record :
         {"3 Cam 1 -2333333333333333 2 0.4,0.4,0.5", "3 Cam 1 -3 2333333333333333 0.4,0.4,0.5",
          "3 Cam 1 -2147483648 2147483647 0.4,0.4,0.5",
          // A window that starts past the last bin: the start must not wrap.
          "3 Cam 1 2147483647 0 0.4,0.4"}) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const DeviceSignatures signature{std::string(record)};
        for (const int peak : {0, 27, 55}) {
            const float theta = signature.GetMinTheta(spectrum, peak);
            EXPECT_FALSE(std::isnan(theta)) << record;
        }
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
    }
}
