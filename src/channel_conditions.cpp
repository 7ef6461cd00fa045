#include "channel_conditions.h"

#include <algorithm>

namespace {

constexpr int kQuietBinRank = 5;         // 6th weakest of 56 bins
constexpr int kQuietSamplePercent = 20;  // 20 % point over a block
// Longer than this between samples is a gap, not a sample interval.
constexpr u64 kMaxIntervalUs = TIME_DIFF_LIMIT;

int ChannelIndex(float freq) {
    for (int i = 0; i < 6; i++) {
        if (CONST_CENTER_FREQUENCIES[i] == freq) {
            return i;
        }
    }
    return -1;
}

}  // namespace

void NoiseFloorEstimator::Observe(const std::vector<float>& sample) {
    if (sample.size() < 56) {
        return;
    }
    // Stored values are whole dB below 1 mW: the 6th weakest bin is the 6th
    // largest value. A fixed array keeps this allocation-free.
    std::array<float, 56> values;
    std::copy(sample.begin(), sample.begin() + 56, values.begin());
    std::nth_element(values.begin(), values.begin() + kQuietBinRank, values.end(),
                     [](float a, float b) { return a > b; });
    const int db = std::clamp(static_cast<int>(values[kQuietBinRank]), 0, 255);
    histogram[static_cast<size_t>(db)]++;
    if (++samples_in_block < kBlockSamples) {
        return;
    }
    // The 20 % point of the quiet-bin values, counted from the weakest.
    const uint32_t wanted = static_cast<uint32_t>(kBlockSamples * kQuietSamplePercent / 100);
    uint32_t seen = 0;
    int value = 255;
    for (; value > 0; value--) {
        seen += histogram[static_cast<size_t>(value)];
        if (seen > wanted) {
            break;
        }
    }
    noise_mean_dbm = -static_cast<float>(value) + kStatisticBelowMeanDb;
    has_estimate = true;
    histogram.fill(0);
    samples_in_block = 0;
}

void SampleIntervalEstimator::Observe(u64 time_us, float freq) {
    const bool same_dwell = freq == last_freq && time_us > last_time;
    const u64 diff = same_dwell ? time_us - last_time : 0;
    last_time = time_us;
    last_freq = freq;
    if (diff == 0 || diff > kMaxIntervalUs) {
        return;
    }
    diffs[static_cast<size_t>(next)] = static_cast<uint32_t>(diff);
    next = (next + 1) % kWindow;
    filled = std::min(filled + 1, kWindow);
    if (filled < kWindow || next != 0) {
        return;
    }
    std::array<uint32_t, kWindow> sorted = diffs;
    std::nth_element(sorted.begin(), sorted.begin() + kWindow / 2, sorted.end());
    interval_us = static_cast<float>(sorted[kWindow / 2]);
}

const NoiseFloorEstimator& ChannelConditions::FloorOf(float freq) const {
    const int c = ChannelIndex(freq);
    return c < 0 ? off_channel : floors[static_cast<size_t>(c)];
}

void ChannelConditions::Observe(u64 time_us, float freq, const std::vector<float>& sample) {
    interval.Observe(time_us, freq);
    const int c = ChannelIndex(freq);
    (c < 0 ? off_channel : floors[static_cast<size_t>(c)]).Observe(sample);
}

float ChannelConditions::NoiseMeanDbm(float freq) const {
    return FloorOf(freq).NoiseMeanDbm();
}
