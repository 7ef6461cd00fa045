// Builders for pulses and subband windows used by the hopper, Xbox and Zigbee
// classifier tests. Pulses are placed straight into subbands' completed lists,
// as the band-change processing leaves them.
#ifndef TESSARON_TESTS_HOPPER_TEST_SUPPORT_H
#define TESSARON_TESTS_HOPPER_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <list>
#include <string>
#include <vector>

#include "device_analyzer.h"
#include "pulse_class.h"
#include "subband_class.h"

namespace hoppertest {

struct PulseSpec {
    u64 start = 0;
    u64 duration = 300;
    // First, last and strongest bin of the subband.
    int start_bin = 18, end_bin = 22, centre = 20;
    // Peak and mean power, dB below 1 mW.
    float peak = 60.0f, average = 62.0f;
    PulseType type = PULSE_NONE;
};

inline RssiPulse MakePulse(const PulseSpec& spec) {
    std::vector<float> profile(56, 100.0f);
    for (int b = spec.start_bin; b <= spec.end_bin && b < 56; ++b) {
        if (b >= 0)
            profile[b] = spec.peak;
    }
    RssiPulse pulse(spec.start, 2437.0f, spec.start_bin, spec.end_bin, spec.centre, profile,
                    nullptr);
    pulse.end_time = spec.start + spec.duration;
    pulse.peak_rssi = spec.peak;
    pulse.average_pulse_rssi = spec.average;
    pulse.classification = spec.type;
    return pulse;
}

// A narrow hopper pulse: 4 bins wide around centre.
inline RssiPulse HopPulse(u64 start, u64 duration, int centre = 20, float peak = 60.0f) {
    PulseSpec spec;
    spec.start = start;
    spec.duration = duration;
    spec.start_bin = centre - 2;
    spec.end_bin = centre + 2;
    spec.centre = centre;
    spec.peak = peak;
    spec.average = peak + 2.0f;
    return MakePulse(spec);
}

inline SubBand& AddSubband(std::list<SubBand>& history, float freq, u64 start, u64 end) {
    history.emplace_back(nullptr, start, freq, 95.0f, 0);
    history.back().end_time = end;
    return history.back();
}

// Stdout capture and a clean tracker around each test.
class ClassifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::testing::internal::CaptureStdout();
        capturing_ = true;
    }
    void TearDown() override {
        if (capturing_)
            ::testing::internal::GetCapturedStdout();
    }
    std::string TakeStdout() {
        capturing_ = false;
        return ::testing::internal::GetCapturedStdout();
    }
    // Captures again after TakeStdout; TearDown then closes the capture, so
    // the next test can open its own.
    void CaptureAgain() {
        ::testing::internal::CaptureStdout();
        capturing_ = true;
    }
    static int CountOf(const std::string& text, const std::string& needle) {
        int count = 0;
        for (size_t pos = text.find(needle); pos != std::string::npos;
             pos = text.find(needle, pos + needle.size())) {
            ++count;
        }
        return count;
    }

    std::list<SubBand> history;

private:
    bool capturing_ = false;
};

}  // namespace hoppertest

#endif
